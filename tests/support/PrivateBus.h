#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace corvalle::test {

// A session dbus-daemon of the test's own, so tests never touch the user's bus;
// `address` stays empty when it did not start. Connections made through it are
// closed, and the daemon ended, with the object.
struct PrivateBus {
    PrivateBus() {
        // The daemon goes with the test even if the test dies first.
        daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--address=unix:tmpdir=/tmp"),
                      QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon.kill();
        daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection connect(const QString& name) {
        names.append(name);
        QDBusConnection connection = QDBusConnection::connectToBus(address, name);
        EXPECT_TRUE(connection.isConnected()) << name.toStdString();
        return connection;
    }

    QProcess daemon;
    QString address;
    QStringList names;
};

} // namespace corvalle::test
