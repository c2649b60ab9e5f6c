#pragma once

#include <QObject>

namespace corvalle {

// The object a running instance serves on the session bus. Its one method asks
// for the window; the owner forwards the request.
class ApplicationService : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

public slots:
    Q_SCRIPTABLE void ShowWindow() { emit showWindowCalled(); }

signals:
    void showWindowCalled();
};

} // namespace corvalle
