#pragma once

#include <QDBusConnection>
#include <QObject>
#include <memory>

namespace corvalle {

class X11TrayManagerWatch;

// Follows whether the desktop offers a tray: a StatusNotifierWatcher with a host
// on the session bus, or, on X11, an XEmbed tray manager. Either may appear or
// go away at any time (a panel that starts after the autostart entries, a panel
// restart); each change is reported once, as it happens.
class TrayWatcher final : public QObject {
    Q_OBJECT

public:
    explicit TrayWatcher(QDBusConnection bus = QDBusConnection::sessionBus(),
                         QObject* parent = nullptr);
    ~TrayWatcher() override;

    bool isAvailable() const { return statusNotifierHost_ || xembedTray_; }
    bool hasStatusNotifierHost() const { return statusNotifierHost_; }

signals:
    void availabilityChanged(bool available);

private slots:
    // The watcher's own signals: a host came or went.
    void hostsChanged();

private:
    void watcherOwnerChanged(const QString& newOwner);
    void askWhetherAHostIsRegistered();
    void setStatusNotifierHost(bool present);
    void setXEmbedTray(bool present);

    QDBusConnection bus_;
    std::unique_ptr<X11TrayManagerWatch> x11_;
    bool statusNotifierHost_ = false;
    bool xembedTray_ = false;
    // Answers that arrive after a newer question are stale.
    quint64 question_ = 0;
};

} // namespace corvalle
