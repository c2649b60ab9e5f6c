#include "SingleInstance.h"

#include "DBusNames.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <vector>

namespace corvalle {
namespace {

// A session dbus-daemon of the test's own, so tests never touch the user's bus.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The daemon goes with the test even if the test dies first.
        daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--address=unix:tmpdir=/tmp"),
                       QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        ASSERT_TRUE(daemon_.waitForStarted(5000));
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine().trimmed());
    }

    void TearDown() override {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.kill();
        daemon_.waitForFinished(3000);
    }

    QDBusConnection connect(const QString& name) {
        names_.append(name);
        QDBusConnection connection = QDBusConnection::connectToBus(address_, name);
        EXPECT_TRUE(connection.isConnected()) << name.toStdString();
        return connection;
    }

    // Asks from another thread, as a second launch would from another process,
    // while this thread serves the running instance.
    static bool askWhileServing(const QDBusConnection& bus) {
        auto answer = std::async(std::launch::async,
                                 [bus] { return SingleInstance::askRunningInstanceToShow(bus); });
        QElapsedTimer timer;
        timer.start();
        while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready &&
               timer.elapsed() < 10000) {
            QCoreApplication::processEvents();
        }
        return answer.get();
    }

    QProcess daemon_;
    QString address_;
    QStringList names_;
};

TEST_F(SingleInstanceTest, OnlyTheFirstInstanceClaimsTheNameAndASecondLaunchShowsIt) {
    auto first = std::make_unique<SingleInstance>(connect(QStringLiteral("first")));
    int shown = 0;
    QObject::connect(first.get(), &SingleInstance::showRequested, [&shown] { ++shown; });
    EXPECT_TRUE(first->claim());
    EXPECT_TRUE(first->claim()) << "claiming again keeps the name";
    SingleInstance second(connect(QStringLiteral("second")));
    EXPECT_FALSE(second.claim());

    EXPECT_TRUE(askWhileServing(QDBusConnection(QStringLiteral("second"))));
    EXPECT_TRUE(askWhileServing(QDBusConnection(QStringLiteral("second"))));
    EXPECT_EQ(shown, 2);

    first.reset();
    EXPECT_TRUE(second.claim()) << "the name is free once the first instance ends";
}

TEST(ActivationRequestTest, PlatformDataCarriesPrintableTokensOnly) {
    const QString longToken(2000, QLatin1Char('a'));
    struct Row {
        QVariantMap data;
        ActivationRequest expected;
    };
    for (const auto& [data, expected] :
         std::vector<Row>{{{}, {}},
                          {{{QStringLiteral("activation-token"), QStringLiteral("abc_1")},
                            {QStringLiteral("desktop-startup-id"), QStringLiteral("x_TIME5")}},
                           {QStringLiteral("abc_1"), QStringLiteral("x_TIME5")}},
                          {{{QStringLiteral("activation-token"), 42}}, {}},
                          {{{QStringLiteral("activation-token"), QStringLiteral("a b")}}, {}},
                          {{{QStringLiteral("activation-token"), QStringLiteral("a\nb")}}, {}},
                          {{{QStringLiteral("activation-token"), QStringLiteral("caf\u00e9")}}, {}},
                          {{{QStringLiteral("activation-token"), longToken}}, {}},
                          {{{QStringLiteral("other"), QStringLiteral("abc")}}, {}}}) {
        const ActivationRequest request = ActivationRequest::fromPlatformData(data);
        EXPECT_EQ(request, expected) << request.activationToken.left(40).toStdString();
        EXPECT_EQ(ActivationRequest::fromPlatformData(request.toPlatformData()), request);
    }
}

TEST(ActivationRequestTest, ReadFromTheLaunchEnvironment) {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("t-1"));
    environment.insert(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("s\t"));
    EXPECT_EQ(ActivationRequest::fromEnvironment(environment),
              (ActivationRequest{QStringLiteral("t-1"), QString()}));
    EXPECT_EQ(ActivationRequest::fromEnvironment(QProcessEnvironment()), ActivationRequest{});
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
