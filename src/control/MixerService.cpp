#include "MixerService.h"

#include "ApplicationList.h"
#include "DBusNames.h"
#include "MixerIntrospection.h"
#include "MixerModel.h"

#include <QDBusVirtualObject>
#include <algorithm>
#include <cmath>
#include <span>

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

// Where a step starts: the level actually heard, so a remembered value that is
// out of range or not a number never makes a step louder than the maximum.
double stepBase(double volume) {
    if (std::isnan(volume)) {
        return 0.0;
    }
    return std::clamp(volume, 0.0, MixerModel::maxVolume);
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
      publishedOutputs_(busOutputs(model)) {
    registerMixerBusTypes();
    for (auto changed :
         {&MixerModel::appsChanged, &MixerModel::settingsChanged, &MixerModel::outputNameChanged,
          &MixerModel::outputIDChanged, &MixerModel::outputDevicesChanged}) {
        connect(&model_, changed, this, &MixerService::schedulePublish);
    }
}

MixerService::~MixerService() {
    for (auto& bus : buses_) {
        bus.unregisterObject(QString::fromLatin1(dbus::kMixerPath));
    }
}

bool MixerService::registerOn(QDBusConnection bus) {
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QString::fromLatin1(dbus::kMixerPath), busObject_.get())) {
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
    const auto member = message.member();
    const auto signature = message.signature();
    const auto arguments = message.arguments();
    const auto is = [&](const char* name) { return member == QLatin1String(name); };
    const auto expects = [&](const char* types) { return signature == QLatin1String(types); };

    if (is("ListApplications") || is("ListOutputs") || is("CurrentOutput") || is("LastError") ||
        is("ShowWindow")) {
        if (!expects("")) {
            return invalidArguments(message, QString());
        }
        if (is("ListApplications")) {
            QList<QVariantMap> applications;
            for (const auto& application : applicationStates(model_)) {
                applications.append(toVariantMap(application));
            }
            return message.createReply(QVariant::fromValue(applications));
        }
        if (is("ListOutputs")) {
            return message.createReply(QVariant::fromValue(busOutputs(model_)));
        }
        if (is("CurrentOutput")) {
            return message.createReply({model_.outputID(), model_.outputName()});
        }
        if (is("LastError")) {
            return message.createReply(model_.lastError().value_or(QString()));
        }
        if (showWindow_) {
            showWindow_();
        }
        return message.createReply();
    }

    if (is("GetApplication") || is("ToggleMute") || is("Reset")) {
        if (!expects("s")) {
            return invalidArguments(message, QStringLiteral("s"));
        }
        const auto key = arguments.at(0).toString();
        if (!applicationState(model_, key)) {
            return unknownApplication(message, key);
        }
        if (is("ToggleMute")) {
            model_.toggleMute(key);
        } else if (is("Reset")) {
            model_.reset(key);
        } else {
            return applicationReply(message, key);
        }
        return changeReply(message, key);
    }

    if (is("SetVolume") || is("StepVolume")) {
        if (!expects("sd")) {
            return invalidArguments(message, QStringLiteral("sd"));
        }
        const auto key = arguments.at(0).toString();
        const auto volume = arguments.at(1).toDouble();
        if (!applicationState(model_, key)) {
            return unknownApplication(message, key);
        }
        if (!std::isfinite(volume)) {
            return invalidVolume(message, volume);
        }
        if (is("StepVolume")) {
            return setVolume(message, key, stepBase(model_.setting(key).volume) + volume);
        }
        return setVolume(message, key, volume);
    }

    if (is("SetMute")) {
        if (!expects("sb")) {
            return invalidArguments(message, QStringLiteral("sb"));
        }
        const auto key = arguments.at(0).toString();
        if (!applicationState(model_, key)) {
            return unknownApplication(message, key);
        }
        if (model_.setting(key).muted != arguments.at(1).toBool()) {
            model_.toggleMute(key);
        }
        return changeReply(message, key);
    }

    if (is("SelectOutput")) {
        if (!expects("u")) {
            return invalidArguments(message, QStringLiteral("u"));
        }
        return selectOutput(message, arguments.at(0).toUInt());
    }
    return {};
}

QDBusMessage MixerService::applicationReply(const QDBusMessage& message, const QString& key) {
    // A reset can take a setting-only application out of the mixer altogether.
    auto state = applicationState(model_, key);
    if (!state) {
        state = ApplicationState{};
        state->key = key;
        state->name = key;
    }
    return message.createReply(toVariantMap(*state));
}

QDBusMessage MixerService::setVolume(const QDBusMessage& message, const QString& key,
                                     double volume) {
    model_.setVolume(volume, key);
    return changeReply(message, key);
}

QDBusMessage MixerService::changeReply(const QDBusMessage& message, const QString& key) {
    if (const auto& failure = model_.saveFailure()) {
        return message.createErrorReply(QString::fromLatin1(dbus::kErrorNotSaved), *failure);
    }
    return applicationReply(message, key);
}

QDBusMessage MixerService::selectOutput(const QDBusMessage& message, uint deviceID) {
    const auto& devices = model_.outputDevices();
    const bool known = std::any_of(devices.begin(), devices.end(), [&](const OutputDevice& device) {
        return device.id == deviceID;
    });
    if (!known) {
        return message.createErrorReply(
            QString::fromLatin1(dbus::kErrorUnknownOutput),
            QStringLiteral("No output device has the ID %1; ListOutputs gives the IDs")
                .arg(deviceID));
    }
    model_.selectOutput(deviceID);
    return message.createReply({model_.outputID(), model_.outputName()});
}

void MixerService::schedulePublish() {
    // A refresh assigns every field in turn; look at the result once it is done.
    if (publishPending_) {
        return;
    }
    publishPending_ = true;
    QMetaObject::invokeMethod(this, &MixerService::publishChanges, Qt::QueuedConnection);
}

void MixerService::publishChanges() {
    publishPending_ = false;
    // The model reports its rows once a second. Remembered settings without a row
    // can only change with the settings or with the set of rows, so only then is
    // the whole list, which holds every stored setting, built and compared.
    auto listed = listedApplicationStates(model_);
    const auto publishedListed = std::span(publishedApplications_).first(publishedListedCount_);
    const bool sameRows = std::ranges::equal(listed, publishedListed, {}, &ApplicationState::key,
                                             &ApplicationState::key);
    if (model_.settingsRevision() != publishedSettingsRevision_ || !sameRows) {
        auto applications = applicationStates(model_);
        if (applications != publishedApplications_) {
            publishedApplications_ = std::move(applications);
            emitSignal(QStringLiteral("ApplicationsChanged"));
        }
        publishedListedCount_ = listed.size();
    } else if (!std::ranges::equal(listed, publishedListed)) {
        std::ranges::move(listed, publishedApplications_.begin());
        emitSignal(QStringLiteral("ApplicationsChanged"));
    }
    if (model_.settingsRevision() != publishedSettingsRevision_) {
        publishedSettingsRevision_ = model_.settingsRevision();
        emitSignal(QStringLiteral("SettingsChanged"));
    }
    const BusOutput output{model_.outputID(), model_.outputName()};
    if (output != publishedOutput_) {
        publishedOutput_ = output;
        emitSignal(QStringLiteral("OutputChanged"), {output.id, output.name});
    }
    auto outputs = busOutputs(model_);
    if (outputs != publishedOutputs_) {
        publishedOutputs_ = std::move(outputs);
        emitSignal(QStringLiteral("OutputsChanged"));
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
