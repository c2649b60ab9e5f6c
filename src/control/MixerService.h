#pragma once

#include "AppSetting.h"
#include "MixerBusTypes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvalle {

class MixerModel;

// Serves the mixer model on D-Bus at /org/corvalle/Corvalle/Mixer with the
// interface org.corvalle.Corvalle.Mixer (org.corvalle.Corvalle.Mixer.xml beside
// this file documents it and is what Introspect returns). Calls run on the
// model's thread, through the same operations the panel uses. Change signals are
// sent only when the state a client reads has really changed, since the model
// reports its rows once a second whether or not they differ. The model must
// outlive the service.
class MixerService : public QObject {
    Q_OBJECT

public:
    MixerService(MixerModel& model, std::function<void()> showWindow, QObject* parent = nullptr);
    ~MixerService() override;
    MixerService(const MixerService&) = delete;
    MixerService& operator=(const MixerService&) = delete;

    // Registers the mixer object on `bus`; false when the path is taken or the bus
    // is not connected. Claiming the service name is up to the caller.
    bool registerOn(QDBusConnection bus);

    // The <interface> element served by Introspect.
    static QString interfaceXml();

private:
    class BusObject;
    friend class BusObject;

    // True when the call was for the mixer interface and has been answered.
    bool handleCall(const QDBusMessage& message, const QDBusConnection& bus);
    // The reply to a call of the mixer interface; an invalid message for an
    // unknown method.
    QDBusMessage answer(const QDBusMessage& message);

    // One a method of the interface; the arguments are checked by answer().
    QDBusMessage listApplications(const QDBusMessage& message);
    QDBusMessage findApplications(const QDBusMessage& message);
    QDBusMessage listInstalledApplications(const QDBusMessage& message);
    QDBusMessage listOutputs(const QDBusMessage& message);
    QDBusMessage currentOutput(const QDBusMessage& message);
    QDBusMessage lastError(const QDBusMessage& message);
    QDBusMessage showWindow(const QDBusMessage& message);
    QDBusMessage limiter(const QDBusMessage& message);
    QDBusMessage setLimiter(const QDBusMessage& message);
    QDBusMessage loweredLevel(const QDBusMessage& message);
    QDBusMessage setLoweredLevel(const QDBusMessage& message);
    QDBusMessage setLowersOthers(const QDBusMessage& message);
    QDBusMessage setLevelPerOutput(const QDBusMessage& message);
    QDBusMessage setShortcuts(const QDBusMessage& message);
    QDBusMessage applicationReply(const QDBusMessage& message);
    QDBusMessage toggleMute(const QDBusMessage& message);
    QDBusMessage reset(const QDBusMessage& message);
    QDBusMessage setVolume(const QDBusMessage& message);
    QDBusMessage stepVolume(const QDBusMessage& message);
    QDBusMessage setMute(const QDBusMessage& message);
    QDBusMessage selectOutput(const QDBusMessage& message);
    QDBusMessage routeApplication(const QDBusMessage& message);
    QDBusMessage changeVolume(const QDBusMessage& message, const QString& key, double volume);
    // The reply to a change: the application, or NotSaved when saving it failed.
    QDBusMessage changeReply(const QDBusMessage& message);

    void schedulePublish();
    // Calls starting and stopping change the rows alone, not their revision.
    void scheduleLoweringPublish();
    void publishLoweredLevel();
    void publishChanges();
    bool publishAllApplications();
    bool publishListedRows(bool& changed);
    bool publishChangedSettings(bool& changed);
    void indexPublished();
    void emitSignal(const QString& name, const QVariantList& arguments = {});

    MixerModel& model_;
    std::function<void()> showWindow_;
    std::unique_ptr<BusObject> busObject_;
    std::vector<QDBusConnection> buses_;

    // What clients were last told about, to send each signal only on a change.
    std::vector<ApplicationState> publishedApplications_;
    std::size_t publishedListedCount_ = 0; // how many of those are the model's rows
    std::uint64_t publishedSettingsRevision_ = 0;
    std::uint64_t publishedAppsRevision_ = 0;
    // Where each key is in publishedApplications_.
    std::unordered_map<QString, std::size_t> publishedIndex_;
    BusOutput publishedOutput_;
    QList<BusOutput> publishedOutputs_;
    double publishedLoweredLevel_ = 0.0;
    bool publishPending_ = false;
    bool loweringMoved_ = false;
    // The choice of shortcuts is not among the settings: the whole list is looked at.
    bool shortcutsMoved_ = false;
};

} // namespace corvalle
