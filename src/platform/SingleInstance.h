#pragma once

#include <QDBusConnection>
#include <QObject>

namespace corvalle {

// Keeps one running instance per session: the first claims its name on the
// session bus and serves ShowWindow(); a later launch asks it to show its window.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is now the one running instance. Without a session bus there
    // is no way to find another instance, so this one runs alone and claim() is true.
    bool claim();

    // Asks the running instance to show its window; true when one answered.
    static bool askRunningInstanceToShow(QDBusConnection bus = QDBusConnection::sessionBus());

signals:
    void showRequested();

private:
    void release();

    QDBusConnection bus_;
    QObject* service_ = nullptr;
    bool ownsName_ = false;
};

} // namespace corvalle
