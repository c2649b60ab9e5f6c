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

} // namespace

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
        connect(service, &ApplicationService::showWindowCalled, this,
                &SingleInstance::showRequested);
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

bool SingleInstance::askRunningInstanceToShow(QDBusConnection bus) {
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kApplicationPath),
        QString::fromLatin1(dbus::kApplicationInterface), QStringLiteral("ShowWindow"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kShowTimeoutMs);
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
