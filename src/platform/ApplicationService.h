#pragma once

#include <QObject>
#include <QVariantMap>

namespace corvalle {

// The object a running instance serves on the session bus. Both methods ask for
// the window; Activate() also carries what the caller knows about the user's
// action (keys as in org.freedesktop.Application: "activation-token",
// "desktop-startup-id"), so that the window may take the focus. The owner
// forwards the request.
class ApplicationService : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

public slots:
    Q_SCRIPTABLE void ShowWindow() { emit activateCalled({}); }
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData) {
        emit activateCalled(platformData);
    }

signals:
    void activateCalled(const QVariantMap& platformData);
};

} // namespace corvalle
