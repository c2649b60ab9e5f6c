#include "OutputWatch.h"

#include "DBusNames.h"

#include <QEventLoop>
#include <QTimer>

namespace corvalle {

namespace {

bool subscribe(QDBusConnection& bus, QObject* receiver, bool on) {
    const auto service = QString::fromLatin1(dbus::kServiceName);
    const auto path = QString::fromLatin1(dbus::kMixerPath);
    const auto interface = QString::fromLatin1(dbus::kMixerInterface);
    const auto signal = QStringLiteral("OutputChanged");
    const char* slot = SLOT(onOutputChanged(uint, QString));
    return on ? bus.connect(service, path, interface, signal, receiver, slot)
              : bus.disconnect(service, path, interface, signal, receiver, slot);
}

} // namespace

OutputWatch::OutputWatch(QDBusConnection bus, uint deviceID)
    : bus_(std::move(bus)), deviceID_(deviceID) {
    subscribe(bus_, this, true);
}

OutputWatch::~OutputWatch() {
    subscribe(bus_, this, false);
}

bool OutputWatch::wait(std::chrono::milliseconds timeout) {
    if (announced_) {
        return true;
    }
    QEventLoop loop;
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    connect(this, &OutputWatch::announced, &loop, &QEventLoop::quit);
    loop.exec();
    return announced_;
}

void OutputWatch::onOutputChanged(uint id, const QString& /*name*/) {
    if (id == deviceID_) {
        announced_ = true;
        emit announced();
    }
}

} // namespace corvalle
