#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QVariantMap>

namespace corvalle {

// What a launch knows about the user action that started it, for the window to
// be allowed to take the focus: the Wayland (XDG) activation token and the X11
// startup-notification id. Each is empty when the launcher gave none.
struct ActivationRequest {
    QString activationToken;
    QString startupID;

    static ActivationRequest fromEnvironment(const QProcessEnvironment& environment);
    // The same as the platform data of org.freedesktop.Application, and back;
    // values that are not strings are ignored.
    QVariantMap toPlatformData() const;
    static ActivationRequest fromPlatformData(const QVariantMap& platformData);

    bool operator==(const ActivationRequest&) const = default;
};

// Keeps one running instance per session: the first claims its name on the
// session bus and serves Activate() and ShowWindow(); a later launch asks it to
// show its window, handing over its activation token.
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
    static bool askRunningInstanceToShow(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                         const ActivationRequest& request = {});

signals:
    void showRequested(const corvalle::ActivationRequest& request);

private:
    void release();

    QDBusConnection bus_;
    QObject* service_ = nullptr;
    bool ownsName_ = false;
};

} // namespace corvalle
