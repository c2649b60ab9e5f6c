#include "SingleInstance.h"

#include "ApplicationService.h"
#include "DBusNames.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace corvalle {

namespace {

// Long enough for a busy instance to answer, short enough that a hung one does
// not keep a second launch waiting.
constexpr int kShowTimeoutMs = 3000;

// Keys of org.freedesktop.Application's platform data.
const QString kActivationTokenKey = QStringLiteral("activation-token");
const QString kStartupIDKey = QStringLiteral("desktop-startup-id");

// Launchers hand out printable ASCII; anything longer or stranger is not a token
// and is not passed on to the compositor.
constexpr qsizetype kMaxTokenLength = 1024;

QString sanitisedToken(const QString& token) {
    if (token.size() > kMaxTokenLength) {
        return {};
    }
    for (const QChar c : token) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F) {
            return {};
        }
    }
    return token;
}

QDBusMessage applicationCall(const QString& method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(dbus::kServiceName),
                                          QString::fromLatin1(dbus::kApplicationPath),
                                          QString::fromLatin1(dbus::kApplicationInterface), method);
}

} // namespace

ActivationRequest ActivationRequest::fromEnvironment(const QProcessEnvironment& environment) {
    return {sanitisedToken(environment.value(QStringLiteral("XDG_ACTIVATION_TOKEN"))),
            sanitisedToken(environment.value(QStringLiteral("DESKTOP_STARTUP_ID")))};
}

QVariantMap ActivationRequest::toPlatformData() const {
    QVariantMap data;
    if (!activationToken.isEmpty()) {
        data.insert(kActivationTokenKey, activationToken);
    }
    if (!startupID.isEmpty()) {
        data.insert(kStartupIDKey, startupID);
    }
    return data;
}

ActivationRequest ActivationRequest::fromPlatformData(const QVariantMap& platformData) {
    const auto text = [&platformData](const QString& key) {
        const QVariant value = platformData.value(key);
        return value.typeId() == QMetaType::QString ? sanitisedToken(value.toString()) : QString();
    };
    return {text(kActivationTokenKey), text(kStartupIDKey)};
}

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    release();
}

bool SingleInstance::claim() {
    if (ownsName_) {
        return true;
    }
    if (!bus_.isConnected()) {
        return true;
    }
    if (service_ == nullptr) {
        auto* service = new ApplicationService(this);
        connect(service, &ApplicationService::activateCalled, this,
                [this](const QVariantMap& platformData) {
                    emit showRequested(ActivationRequest::fromPlatformData(platformData));
                });
        service_ = service;
    }
    // The object is served before the name is taken, so a caller that sees the
    // name always finds the method.
    if (!bus_.registerObject(QString::fromLatin1(dbus::kApplicationPath),
                             QString::fromLatin1(dbus::kApplicationInterface), service_,
                             QDBusConnection::ExportScriptableSlots)) {
        return false;
    }
    if (!bus_.registerService(QString::fromLatin1(dbus::kServiceName))) {
        bus_.unregisterObject(QString::fromLatin1(dbus::kApplicationPath));
        return false;
    }
    ownsName_ = true;
    return true;
}

bool SingleInstance::askRunningInstanceToShow(const QDBusConnection& bus,
                                              const ActivationRequest& request) {
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage activate = applicationCall(QStringLiteral("Activate"));
    activate << request.toPlatformData();
    QDBusMessage reply = bus.call(activate, QDBus::Block, kShowTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
        // An instance from before Activate() existed: it can still show the window.
        reply =
            bus.call(applicationCall(QStringLiteral("ShowWindow")), QDBus::Block, kShowTimeoutMs);
    }
    return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::release() {
    if (!ownsName_) {
        return;
    }
    ownsName_ = false;
    bus_.unregisterService(QString::fromLatin1(dbus::kServiceName));
    bus_.unregisterObject(QString::fromLatin1(dbus::kApplicationPath));
}

} // namespace corvalle
