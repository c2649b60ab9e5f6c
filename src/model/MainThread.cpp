#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

namespace corvalle {

MainThreadPoster qtMainThreadPoster() {
    return [](std::function<void()> task) {
        QCoreApplication* application = QCoreApplication::instance();
        if (application == nullptr || !task) {
            return;
        }
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
    };
}

} // namespace corvalle
