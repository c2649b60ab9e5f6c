#pragma once

#include "TempDir.h"

#include <QProcess>
#include <QString>
#include <memory>

namespace corvalle::test {

// A dbus-daemon of the test's own, listening in a temporary folder, so tests
// never touch the user's session bus. Stopped when the object goes away.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon could not be started.
    const QString& address() const { return address_; }

private:
    TempDir dir_;
    std::unique_ptr<QProcess> daemon_;
    QString address_;
};

} // namespace corvalle::test
