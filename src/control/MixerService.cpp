#include "MixerService.h"

#include "ApplicationList.h"
#include "DBusNames.h"
#include "Log.h"
#include "MixerIntrospection.h"
#include "MixerModel.h"
#include "NameMatch.h"
#include "Volume.h"

#include <QDBusVirtualObject>
#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

namespace corvalle {

namespace {

QList<BusOutput> busOutputs(const MixerModel& model) {
    QList<BusOutput> outputs;
    for (const auto& device : model.outputDevices()) {
        outputs.append(BusOutput{device.id, device.name});
    }
    return outputs;
}

QDBusMessage invalidArguments(const QDBusMessage& message, const QString& expected) {
    return message.createErrorReply(QDBusError::InvalidArgs,
                                    QStringLiteral("%1 takes arguments of type (%2), not (%3)")
                                        .arg(message.member(), expected, message.signature()));
}

QDBusMessage unknownApplication(const QDBusMessage& message, const QString& key) {
    return message.createErrorReply(
        QString::fromLatin1(dbus::kErrorUnknownApplication),
        QStringLiteral("No application has the key \"%1\"; ListApplications gives the keys")
            .arg(key));
}

QDBusMessage invalidVolume(const QDBusMessage& message, double volume) {
    return message.createErrorReply(
        QString::fromLatin1(dbus::kErrorInvalidVolume),
        QStringLiteral("%1 is not a volume; give a number from 0.0 to 4.0").arg(volume));
}

QDBusMessage invalidLevel(const QDBusMessage& message, double level) {
    return message.createErrorReply(
        QString::fromLatin1(dbus::kErrorInvalidVolume),
        QStringLiteral("%1 is not a level; give a number from 0.0 to 1.0").arg(level));
}

} // namespace

// Hands the calls for the mixer path to the service; the interface's own XML
// answers Introspect.
class MixerService::BusObject final : public QDBusVirtualObject {
public:
    explicit BusObject(MixerService& service) : service_(service) {}

    QString introspect(const QString& path) const override {
        Q_UNUSED(path);
        return MixerService::interfaceXml();
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        return service_.handleCall(message, connection);
    }

private:
    MixerService& service_;
};

MixerService::MixerService(MixerModel& model, std::function<void()> showWindow, QObject* parent)
    : QObject(parent), model_(model), showWindow_(std::move(showWindow)),
      busObject_(std::make_unique<BusObject>(*this)),
      publishedApplications_(applicationStates(model)), publishedListedCount_(model.apps().size()),
      publishedSettingsRevision_(model.settingsRevision()), publishedOutput_{model.outputID(),
                                                                             model.outputName()},
      publishedOutputs_(busOutputs(model)), publishedLoweredLevel_(model.loweredLevel()) {
    registerMixerBusTypes();
    indexPublished();
    for (auto changed :
         {&MixerModel::appsChanged, &MixerModel::settingsChanged, &MixerModel::outputNameChanged,
          &MixerModel::outputIDChanged, &MixerModel::outputDevicesChanged}) {
        connect(&model_, changed, this, &MixerService::schedulePublish);
    }
    connect(&model_, &MixerModel::loweringChanged, this, &MixerService::scheduleLoweringPublish);
    connect(&model_, &MixerModel::loweredLevelChanged, this, &MixerService::publishLoweredLevel);
    connect(&model_, &MixerModel::shortcutKeysChanged, this, [this] {
        shortcutsMoved_ = true;
        schedulePublish();
    });
}

MixerService::~MixerService() {
    for (auto& bus : buses_) {
        bus.unregisterObject(QString::fromLatin1(dbus::kMixerPath));
    }
}

bool MixerService::registerOn(QDBusConnection bus) {
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QString::fromLatin1(dbus::kMixerPath), busObject_.get())) {
        qCWarning(lcControl) << "could not serve the mixer on the bus:"
                             << bus.lastError().message();
        return false;
    }
    buses_.push_back(bus);
    return true;
}

QString MixerService::interfaceXml() {
    const auto document = QString::fromUtf8(mixerIntrospectionDocument());
    const auto begin = document.indexOf(QStringLiteral("<interface "));
    const QString endTag = QStringLiteral("</interface>");
    const auto end = document.lastIndexOf(endTag);
    if (begin < 0 || end < begin) {
        return {};
    }
    return QStringLiteral("  ") + document.mid(begin, end + endTag.size() - begin) +
           QLatin1Char('\n');
}

bool MixerService::handleCall(const QDBusMessage& message, const QDBusConnection& bus) {
    if (message.type() != QDBusMessage::MethodCallMessage) {
        return false;
    }
    const auto interface = message.interface();
    if (!interface.isEmpty() && interface != QLatin1String(dbus::kMixerInterface)) {
        return false;
    }
    auto reply = answer(message);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCDebug(lcControl).noquote() << message.member() << "refused:" << reply.errorMessage();
    }
    if (reply.type() == QDBusMessage::InvalidMessage) {
        // Without an interface the call may be meant for a standard one.
        if (interface.isEmpty()) {
            return false;
        }
        reply = message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("%1 has no method %2").arg(interface, message.member()));
    }
    bus.send(reply);
    return true;
}

QDBusMessage MixerService::answer(const QDBusMessage& message) {
    // One row a method: its name, its argument types, whether its first argument
    // is the key of an application that must exist, and what answers it.
    struct Method {
        const char* name = nullptr;
        const char* signature = nullptr;
        bool takesApplication = false;
        QDBusMessage (MixerService::*answer)(const QDBusMessage&) = nullptr;
    };
    static constexpr Method kMethods[] = {
        {"ListApplications", "", false, &MixerService::listApplications},
        {"ListInstalledApplications", "", false, &MixerService::listInstalledApplications},
        {"ListOutputs", "", false, &MixerService::listOutputs},
        {"CurrentOutput", "", false, &MixerService::currentOutput},
        {"LastError", "", false, &MixerService::lastError},
        {"ShowWindow", "", false, &MixerService::showWindow},
        {"Limiter", "", false, &MixerService::limiter},
        {"SetLimiter", "b", false, &MixerService::setLimiter},
        {"LoweredLevel", "", false, &MixerService::loweredLevel},
        {"SetLoweredLevel", "d", false, &MixerService::setLoweredLevel},
        {"FindApplications", "s", false, &MixerService::findApplications},
        {"GetApplication", "s", true, &MixerService::applicationReply},
        {"ToggleMute", "s", true, &MixerService::toggleMute},
        {"Reset", "s", true, &MixerService::reset},
        {"SetVolume", "sd", true, &MixerService::setVolume},
        {"StepVolume", "sd", true, &MixerService::stepVolume},
        {"SetMute", "sb", true, &MixerService::setMute},
        {"SetLowersOthers", "sb", true, &MixerService::setLowersOthers},
        {"SetLevelPerOutput", "sb", true, &MixerService::setLevelPerOutput},
        {"SetShortcuts", "sb", true, &MixerService::setShortcuts},
        {"SelectOutput", "u", false, &MixerService::selectOutput},
        {"RouteApplication", "su", true, &MixerService::routeApplication},
    };
    const auto method = std::ranges::find_if(
        kMethods, [&](const Method& row) { return message.member() == QLatin1String(row.name); });
    if (method == std::end(kMethods)) {
        return {};
    }
    if (message.signature() != QLatin1String(method->signature)) {
        return invalidArguments(message, QString::fromLatin1(method->signature));
    }
    if (method->takesApplication) {
        const auto key = message.arguments().at(0).toString();
        if (!applicationState(model_, key)) {
            return unknownApplication(message, key);
        }
    }
    return (this->*method->answer)(message);
}

QDBusMessage MixerService::listApplications(const QDBusMessage& message) {
    QList<QVariantMap> applications;
    for (const auto& application : applicationStates(model_)) {
        applications.append(toVariantMap(application));
    }
    return message.createReply(QVariant::fromValue(applications));
}

QDBusMessage MixerService::findApplications(const QDBusMessage& message) {
    // The command line's own matching, done here so that a client naming one
    // application is not sent every remembered setting to match against.
    const auto query = message.arguments().at(0).toString();
    auto states = applicationStates(model_);
    std::vector<NameCandidate> candidates;
    candidates.reserve(states.size());
    for (const auto& application : states) {
        candidates.push_back({application.key, application.name});
    }
    QList<QVariantMap> applications;
    for (const auto index : matchName(query, candidates).indices) {
        applications.append(toVariantMap(states[index]));
    }
    return message.createReply(QVariant::fromValue(applications));
}

QDBusMessage MixerService::listInstalledApplications(const QDBusMessage& message) {
    QList<QVariantMap> applications;
    for (const auto& application : installedApplicationStates(model_)) {
        applications.append(toVariantMap(application));
    }
    return message.createReply(QVariant::fromValue(applications));
}

QDBusMessage MixerService::listOutputs(const QDBusMessage& message) {
    return message.createReply(QVariant::fromValue(busOutputs(model_)));
}

QDBusMessage MixerService::currentOutput(const QDBusMessage& message) {
    return message.createReply({model_.outputID(), model_.outputName()});
}

QDBusMessage MixerService::lastError(const QDBusMessage& message) {
    return message.createReply(model_.lastError().value_or(QString()));
}

QDBusMessage MixerService::limiter(const QDBusMessage& message) {
    return message.createReply(model_.limiterOn());
}

QDBusMessage MixerService::setLimiter(const QDBusMessage& message) {
    model_.setLimiterOn(message.arguments().at(0).toBool());
    if (const auto& failure = model_.saveFailure()) {
        return message.createErrorReply(QString::fromLatin1(dbus::kErrorNotSaved), *failure);
    }
    return limiter(message);
}

QDBusMessage MixerService::loweredLevel(const QDBusMessage& message) {
    return message.createReply(model_.loweredLevel());
}

// Taken to 0.0 to 1.0 as volumes are to their range; only a level that is not a
// number is refused.
QDBusMessage MixerService::setLoweredLevel(const QDBusMessage& message) {
    const double level = message.arguments().at(0).toDouble();
    if (!std::isfinite(level)) {
        return invalidLevel(message, level);
    }
    model_.setLoweredLevel(level);
    if (const auto& failure = model_.saveFailure()) {
        return message.createErrorReply(QString::fromLatin1(dbus::kErrorNotSaved), *failure);
    }
    return loweredLevel(message);
}

QDBusMessage MixerService::showWindow(const QDBusMessage& message) {
    if (showWindow_) {
        showWindow_();
    }
    return message.createReply();
}

QDBusMessage MixerService::toggleMute(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    model_.toggleMute(key);
    return changeReply(message);
}

QDBusMessage MixerService::reset(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    model_.reset(key);
    return changeReply(message);
}

QDBusMessage MixerService::setVolume(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    return changeVolume(message, key, message.arguments().at(1).toDouble());
}

QDBusMessage MixerService::stepVolume(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    // From the level actually heard; a step that is not a number is refused below.
    const auto step = message.arguments().at(1).toDouble();
    return changeVolume(message, key, Volume::clamped(model_.setting(key).volume) + step);
}

QDBusMessage MixerService::setMute(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    if (model_.setting(key).muted != message.arguments().at(1).toBool()) {
        model_.toggleMute(key);
    }
    return changeReply(message);
}

QDBusMessage MixerService::setLowersOthers(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    model_.setLowersOthers(message.arguments().at(1).toBool(), key);
    return changeReply(message);
}

QDBusMessage MixerService::setLevelPerOutput(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    model_.setLevelPerOutput(message.arguments().at(1).toBool(), key);
    return changeReply(message);
}

QDBusMessage MixerService::setShortcuts(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    model_.setHasShortcuts(message.arguments().at(1).toBool(), key);
    return changeReply(message);
}

QDBusMessage MixerService::applicationReply(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    // A reset can take a setting-only application out of the mixer altogether.
    auto state = applicationState(model_, key);
    if (!state) {
        state = ApplicationState{};
        state->key = key;
        state->name = key;
    }
    return message.createReply(toVariantMap(*state));
}

QDBusMessage MixerService::changeVolume(const QDBusMessage& message, const QString& key,
                                        double volume) {
    if (!std::isfinite(volume)) {
        return invalidVolume(message, volume);
    }
    model_.setVolume(volume, key);
    return changeReply(message);
}

QDBusMessage MixerService::changeReply(const QDBusMessage& message) {
    if (const auto& failure = model_.saveFailure()) {
        return message.createErrorReply(QString::fromLatin1(dbus::kErrorNotSaved), *failure);
    }
    return applicationReply(message);
}

QDBusMessage MixerService::selectOutput(const QDBusMessage& message) {
    const uint deviceID = message.arguments().at(0).toUInt();
    const auto& devices = model_.outputDevices();
    const auto device = std::ranges::find(devices, deviceID, &OutputDevice::id);
    if (device == devices.end()) {
        return message.createErrorReply(
            QString::fromLatin1(dbus::kErrorUnknownOutput),
            QStringLiteral("No output device has the ID %1; ListOutputs gives the IDs")
                .arg(deviceID));
    }
    const QString name = device->name;
    if (const OSStatus status = model_.selectOutput(deviceID); status != noErr) {
        return message.createErrorReply(
            QString::fromLatin1(dbus::kErrorOutputRefused),
            QStringLiteral("The audio system refused %1 as the output (OSStatus %2)")
                .arg(name)
                .arg(status));
    }
    return message.createReply({model_.outputID(), model_.outputName()});
}

QDBusMessage MixerService::routeApplication(const QDBusMessage& message) {
    const auto key = message.arguments().at(0).toString();
    const uint deviceID = message.arguments().at(1).toUInt();
    if (deviceID == 0) {
        model_.setOutput(std::nullopt, key);
        return changeReply(message);
    }
    const auto& devices = model_.outputDevices();
    const auto device = std::ranges::find(devices, deviceID, &OutputDevice::id);
    if (device == devices.end() || device->uid.isEmpty()) {
        return message.createErrorReply(
            QString::fromLatin1(dbus::kErrorUnknownOutput),
            QStringLiteral("No output device has the ID %1; ListOutputs gives the IDs")
                .arg(deviceID));
    }
    model_.setOutput(device->uid, key);
    return changeReply(message);
}

void MixerService::schedulePublish() {
    // A refresh assigns every field in turn; look at the result once it is done.
    if (publishPending_) {
        return;
    }
    publishPending_ = true;
    QMetaObject::invokeMethod(this, &MixerService::publishChanges, Qt::QueuedConnection);
}

void MixerService::scheduleLoweringPublish() {
    loweringMoved_ = true;
    schedulePublish();
}

void MixerService::publishLoweredLevel() {
    const double level = model_.loweredLevel();
    if (level != publishedLoweredLevel_) {
        publishedLoweredLevel_ = level;
        emitSignal(QStringLiteral("LoweredLevelChanged"), {level});
    }
}

void MixerService::publishChanges() {
    publishPending_ = false;
    // A refresh that changed nothing leaves both revisions where they were; the
    // output fields below are assigned by every refresh.
    const bool rowsMoved = model_.appsRevision() != publishedAppsRevision_ || loweringMoved_;
    loweringMoved_ = false;
    const bool settingsMoved = model_.settingsRevision() != publishedSettingsRevision_;
    auto outputs = busOutputs(model_);
    // The whole list holds every stored setting, so it is built only when the
    // changes cannot be published in place: the set of rows changed, or an
    // output's name that remembered applications show.
    bool changed = false;
    const bool inPlace = !std::exchange(shortcutsMoved_, false) && outputs == publishedOutputs_ &&
                         (!settingsMoved || publishChangedSettings(changed)) &&
                         (!rowsMoved || publishListedRows(changed));
    if (!inPlace) {
        // Entries changed in place above stay changed for the signal.
        changed = publishAllApplications() || changed;
    }
    if (changed) {
        emitSignal(QStringLiteral("ApplicationsChanged"));
    }
    publishedAppsRevision_ = model_.appsRevision();
    if (settingsMoved) {
        publishedSettingsRevision_ = model_.settingsRevision();
        emitSignal(QStringLiteral("SettingsChanged"));
    }
    const BusOutput output{model_.outputID(), model_.outputName()};
    if (output != publishedOutput_) {
        publishedOutput_ = output;
        emitSignal(QStringLiteral("OutputChanged"), {output.id, output.name});
    }
    if (outputs != publishedOutputs_) {
        publishedOutputs_ = std::move(outputs);
        emitSignal(QStringLiteral("OutputsChanged"));
    }
}

bool MixerService::publishAllApplications() {
    auto applications = applicationStates(model_);
    publishedListedCount_ = model_.apps().size();
    const bool changed = applications != publishedApplications_;
    if (changed) {
        publishedApplications_ = std::move(applications);
    }
    indexPublished();
    return changed;
}

// The model's rows, when they are the same applications as those last published.
bool MixerService::publishListedRows(bool& changed) {
    auto listed = listedApplicationStates(model_);
    const auto publishedListed = std::span(publishedApplications_).first(publishedListedCount_);
    if (!std::ranges::equal(listed, publishedListed, {}, &ApplicationState::key,
                            &ApplicationState::key)) {
        return false;
    }
    if (!std::ranges::equal(listed, publishedListed)) {
        std::ranges::move(listed, publishedApplications_.begin());
        changed = true;
    }
    return true;
}

// Only the applications whose settings changed are looked at. False when the
// model cannot tell which changed, or one of them would come or go from the list.
bool MixerService::publishChangedSettings(bool& changed) {
    const auto keys = model_.settingsChangedSince(publishedSettingsRevision_);
    if (!keys) {
        return false;
    }
    std::vector<std::pair<std::size_t, ApplicationState>> changes;
    for (const QString& key : *keys) {
        const auto at = publishedIndex_.find(key);
        auto state = applicationState(model_, key);
        if (at == publishedIndex_.end() || !state ||
            state->listed != publishedApplications_[at->second].listed ||
            (!state->listed && !state->hasSetting)) {
            return false;
        }
        changes.emplace_back(at->second, std::move(*state));
    }
    for (auto& [at, state] : changes) {
        if (publishedApplications_[at] != state) {
            publishedApplications_[at] = std::move(state);
            changed = true;
        }
    }
    return true;
}

void MixerService::indexPublished() {
    publishedIndex_.clear();
    publishedIndex_.reserve(publishedApplications_.size());
    for (std::size_t i = 0; i < publishedApplications_.size(); ++i) {
        publishedIndex_.emplace(publishedApplications_[i].key, i);
    }
}

void MixerService::emitSignal(const QString& name, const QVariantList& arguments) {
    auto signal = QDBusMessage::createSignal(QString::fromLatin1(dbus::kMixerPath),
                                             QString::fromLatin1(dbus::kMixerInterface), name);
    signal.setArguments(arguments);
    for (auto& bus : buses_) {
        bus.send(signal);
    }
}

} // namespace corvalle
