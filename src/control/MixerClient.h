#pragma once

#include "MixerBusTypes.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <chrono>
#include <optional>
#include <vector>

namespace corvalle {

// Calls the mixer of a running instance. Never starts one: every call is sent
// with auto-start off. Each call returns nothing on failure and leaves the reason
// in error().
class MixerClient {
public:
    explicit MixerClient(QDBusConnection bus);

    bool isConnected() const { return bus_.isConnected(); }
    // Whether a Corvalle instance owns its name on the bus.
    bool isServiceRunning() const;

    std::optional<std::vector<ApplicationState>> listApplications();
    // The applications a name may mean, as the running instance matches it;
    // nothing from an instance older than FindApplications.
    std::optional<std::vector<ApplicationState>> findApplications(const QString& query);
    std::optional<std::vector<ApplicationState>> listInstalledApplications();
    std::optional<ApplicationState> getApplication(const QString& key);
    std::optional<ApplicationState> setVolume(const QString& key, double volume);
    std::optional<ApplicationState> stepVolume(const QString& key, double delta);
    std::optional<ApplicationState> setMute(const QString& key, bool muted);
    std::optional<ApplicationState> toggleMute(const QString& key);
    std::optional<ApplicationState> setLowersOthers(const QString& key, bool on);
    std::optional<ApplicationState> setLevelPerOutput(const QString& key, bool on);
    std::optional<ApplicationState> setShortcuts(const QString& key, bool on);
    std::optional<ApplicationState> reset(const QString& key);

    std::optional<std::vector<BusOutput>> listOutputs();
    std::optional<BusOutput> currentOutput();
    std::optional<BusOutput> selectOutput(uint deviceID);
    // Plays the application on the output `deviceID` (0: where it chooses itself).
    std::optional<ApplicationState> routeApplication(const QString& key, uint deviceID);
    // The current output once it is `deviceID`, or as it is when `timeout` has
    // passed without the instance announcing that device (OutputChanged).
    std::optional<BusOutput> waitForOutput(uint deviceID, std::chrono::milliseconds timeout);
    std::optional<QString> lastError();
    bool showWindow();
    // Whether the limiter is on; setLimiter returns it as it is afterwards.
    std::optional<bool> limiter();
    std::optional<bool> setLimiter(bool on);
    // The level the others go to during a call, 0 to 1; setLoweredLevel returns
    // it as it is afterwards.
    std::optional<double> loweredLevel();
    std::optional<double> setLoweredLevel(double level);

    const QDBusError& error() const { return error_; }

private:
    std::optional<QDBusMessage> call(const QString& method, const QVariantList& arguments,
                                     const char* replySignature);
    // The one list argument of a reply to a call without arguments.
    template <typename T>
    std::optional<QList<T>> listCall(const QString& method, const char* replySignature,
                                     const QVariantList& arguments = {});
    std::optional<std::vector<ApplicationState>> applicationList(const QString& method,
                                                                 const QVariantList& arguments);
    std::optional<ApplicationState> applicationCall(const QString& method,
                                                    const QVariantList& arguments);
    std::optional<double> levelCall(const QString& method, const QVariantList& arguments);
    std::optional<BusOutput> outputCall(const QString& method, const QVariantList& arguments);

    QDBusConnection bus_;
    QDBusError error_;
};

} // namespace corvalle
