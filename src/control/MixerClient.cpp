#include "MixerClient.h"

#include "DBusNames.h"
#include "OutputWatch.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>

namespace corvalle {

namespace {

// Long enough for a busy instance, short enough that a stuck one does not hang a script.
constexpr int kCallTimeoutMs = 10000;

} // namespace

MixerClient::MixerClient(QDBusConnection bus) : bus_(std::move(bus)) {
    registerMixerBusTypes();
}

bool MixerClient::isServiceRunning() const {
    if (!bus_.isConnected() || bus_.interface() == nullptr) {
        return false;
    }
    const auto reply =
        bus_.interface()->isServiceRegistered(QString::fromLatin1(dbus::kServiceName));
    return reply.isValid() && reply.value();
}

std::optional<QDBusMessage> MixerClient::call(const QString& method, const QVariantList& arguments,
                                              const char* replySignature) {
    auto message = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kMixerPath),
        QString::fromLatin1(dbus::kMixerInterface), method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    // The event loop keeps running while waiting, so an instance served by this
    // same thread (as in tests) can answer.
    const auto reply = bus_.call(message, QDBus::BlockWithGui, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        error_ = QDBusError(reply);
        return std::nullopt;
    }
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1String(replySignature)) {
        error_ = QDBusError(QDBusError::InvalidSignature,
                            QStringLiteral("Corvalle answered %1 with an unexpected reply (%2)")
                                .arg(method, reply.signature()));
        return std::nullopt;
    }
    error_ = QDBusError();
    return reply;
}

template <typename T>
std::optional<QList<T>> MixerClient::listCall(const QString& method, const char* replySignature,
                                              const QVariantList& arguments) {
    const auto reply = call(method, arguments, replySignature);
    if (!reply) {
        return std::nullopt;
    }
    QList<T> items;
    reply->arguments().at(0).value<QDBusArgument>() >> items;
    return items;
}

std::optional<std::vector<ApplicationState>> MixerClient::listApplications() {
    return applicationList(QStringLiteral("ListApplications"), {});
}

std::optional<std::vector<ApplicationState>> MixerClient::findApplications(const QString& query) {
    return applicationList(QStringLiteral("FindApplications"), {query});
}

std::optional<std::vector<ApplicationState>> MixerClient::listInstalledApplications() {
    return applicationList(QStringLiteral("ListInstalledApplications"), {});
}

std::optional<std::vector<ApplicationState>>
MixerClient::applicationList(const QString& method, const QVariantList& arguments) {
    const auto maps = listCall<QVariantMap>(method, "aa{sv}", arguments);
    if (!maps) {
        return std::nullopt;
    }
    std::vector<ApplicationState> applications;
    for (const auto& map : *maps) {
        if (auto application = applicationStateFromMap(map)) {
            applications.push_back(std::move(*application));
        }
    }
    return applications;
}

std::optional<ApplicationState> MixerClient::applicationCall(const QString& method,
                                                             const QVariantList& arguments) {
    const auto reply = call(method, arguments, "a{sv}");
    if (!reply) {
        return std::nullopt;
    }
    QVariantMap map;
    reply->arguments().at(0).value<QDBusArgument>() >> map;
    auto application = applicationStateFromMap(map);
    if (!application) {
        error_ =
            QDBusError(QDBusError::InvalidArgs,
                       QStringLiteral("Corvalle answered %1 without a key and name").arg(method));
    }
    return application;
}

std::optional<ApplicationState> MixerClient::getApplication(const QString& key) {
    return applicationCall(QStringLiteral("GetApplication"), {key});
}

std::optional<ApplicationState> MixerClient::setVolume(const QString& key, double volume) {
    return applicationCall(QStringLiteral("SetVolume"), {key, volume});
}

std::optional<ApplicationState> MixerClient::stepVolume(const QString& key, double delta) {
    return applicationCall(QStringLiteral("StepVolume"), {key, delta});
}

std::optional<ApplicationState> MixerClient::setMute(const QString& key, bool muted) {
    return applicationCall(QStringLiteral("SetMute"), {key, muted});
}

std::optional<ApplicationState> MixerClient::routeApplication(const QString& key, uint deviceID) {
    return applicationCall(QStringLiteral("RouteApplication"), {key, deviceID});
}

std::optional<ApplicationState> MixerClient::toggleMute(const QString& key) {
    return applicationCall(QStringLiteral("ToggleMute"), {key});
}

std::optional<ApplicationState> MixerClient::setLowersOthers(const QString& key, bool on) {
    return applicationCall(QStringLiteral("SetLowersOthers"), {key, on});
}

std::optional<ApplicationState> MixerClient::setLevelPerOutput(const QString& key, bool on) {
    return applicationCall(QStringLiteral("SetLevelPerOutput"), {key, on});
}

std::optional<ApplicationState> MixerClient::setShortcuts(const QString& key, bool on) {
    return applicationCall(QStringLiteral("SetShortcuts"), {key, on});
}

std::optional<ApplicationState> MixerClient::reset(const QString& key) {
    return applicationCall(QStringLiteral("Reset"), {key});
}

std::optional<std::vector<BusOutput>> MixerClient::listOutputs() {
    const auto outputs = listCall<BusOutput>(QStringLiteral("ListOutputs"), "a(us)");
    if (!outputs) {
        return std::nullopt;
    }
    return std::vector<BusOutput>(outputs->begin(), outputs->end());
}

std::optional<BusOutput> MixerClient::outputCall(const QString& method,
                                                 const QVariantList& arguments) {
    const auto reply = call(method, arguments, "us");
    if (!reply) {
        return std::nullopt;
    }
    return BusOutput{reply->arguments().at(0).toUInt(), reply->arguments().at(1).toString()};
}

std::optional<BusOutput> MixerClient::currentOutput() {
    return outputCall(QStringLiteral("CurrentOutput"), {});
}

std::optional<BusOutput> MixerClient::selectOutput(uint deviceID) {
    return outputCall(QStringLiteral("SelectOutput"), {deviceID});
}

std::optional<BusOutput> MixerClient::waitForOutput(uint deviceID,
                                                    std::chrono::milliseconds timeout) {
    OutputWatch watch(bus_, deviceID);
    auto current = currentOutput();
    if (!current || current->id == deviceID) {
        return current;
    }
    watch.wait(timeout);
    return currentOutput();
}

std::optional<QString> MixerClient::lastError() {
    const auto reply = call(QStringLiteral("LastError"), {}, "s");
    if (!reply) {
        return std::nullopt;
    }
    return reply->arguments().at(0).toString();
}

bool MixerClient::showWindow() {
    return call(QStringLiteral("ShowWindow"), {}, "").has_value();
}

std::optional<bool> MixerClient::limiter() {
    const auto reply = call(QStringLiteral("Limiter"), {}, "b");
    if (!reply) {
        return std::nullopt;
    }
    return reply->arguments().at(0).toBool();
}

std::optional<bool> MixerClient::setLimiter(bool on) {
    const auto reply = call(QStringLiteral("SetLimiter"), {on}, "b");
    if (!reply) {
        return std::nullopt;
    }
    return reply->arguments().at(0).toBool();
}

std::optional<double> MixerClient::levelCall(const QString& method, const QVariantList& arguments) {
    const auto reply = call(method, arguments, "d");
    if (!reply) {
        return std::nullopt;
    }
    return reply->arguments().at(0).toDouble();
}

std::optional<double> MixerClient::loweredLevel() {
    return levelCall(QStringLiteral("LoweredLevel"), {});
}

std::optional<double> MixerClient::setLoweredLevel(double level) {
    return levelCall(QStringLiteral("SetLoweredLevel"), {level});
}

} // namespace corvalle
