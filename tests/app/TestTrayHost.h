#pragma once

#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <atomic>

namespace corvalle::test {

// A StatusNotifierWatcher as a panel serves it, on a connection of its own so
// that it can come and go while the program runs.
class TestStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit TestStatusNotifierWatcher(QDBusConnection bus, bool hostRegistered)
        : bus_(std::move(bus)), hostRegistered_(hostRegistered) {}
    ~TestStatusNotifierWatcher() override { disappear(); }

    bool appear() {
        return bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                   QDBusConnection::ExportAllContents) &&
               bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    void disappear() {
        bus_.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        bus_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    }
    void registerHost() {
        hostRegistered_ = true;
        bus_.send(QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"),
                                             QStringLiteral("org.kde.StatusNotifierWatcher"),
                                             QStringLiteral("StatusNotifierHostRegistered")));
    }

    bool isHostRegistered() const {
        ++hostQuestions;
        return hostRegistered_;
    }
    QStringList items() const { return items_; }
    int protocolVersion() const { return 0; }

    // Read from the test's thread while the watcher may serve from its own.
    mutable std::atomic<int> hostQuestions = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        items_.append(service.startsWith(QLatin1Char('/')) ? message().service() + service
                                                           : service);
    }
    void RegisterStatusNotifierHost(const QString&) { registerHost(); }

signals:
    void StatusNotifierHostRegistered();
    void StatusNotifierItemRegistered(const QString& item);

private:
    QDBusConnection bus_;
    bool hostRegistered_ = false;
    QStringList items_;
};

} // namespace corvalle::test
