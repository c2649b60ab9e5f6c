#pragma once

#include "ControlBus.h"

#include <QDBusConnection>
#include <QStringList>
#include <gtest/gtest.h>

namespace corvalle::test {

// The private session bus for Qt code: `address` stays empty when the daemon did
// not start. Connections made through it are closed, and the daemon ended, with
// the object.
struct PrivateBus {
    PrivateBus() = default;
    ~PrivateBus() {
        for (const QString& name : names) {
            QDBusConnection::disconnectFromBus(name);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection connect(const QString& name) {
        names.append(name);
        QDBusConnection connection = QDBusConnection::connectToBus(address, name);
        EXPECT_TRUE(connection.isConnected()) << name.toStdString();
        return connection;
    }

    PrivateSessionBus daemon;
    QString address = QString::fromStdString(daemon.address());
    QStringList names;
};

} // namespace corvalle::test
