#include "SingleInstance.h"

#include "DBusNames.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <future>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus_.address().isEmpty()) << "dbus-daemon did not start"; }

    void TearDown() override {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
    }

    QDBusConnection connect(const QString& name) {
        names_.append(name);
        QDBusConnection connection = QDBusConnection::connectToBus(bus_.address(), name);
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

    test::PrivateBus bus_;
    QStringList names_;
};

TEST_F(SingleInstanceTest, OnlyTheFirstInstanceClaimsTheName) {
    SingleInstance first(connect(QStringLiteral("first")));
    EXPECT_TRUE(first.claim());
    EXPECT_TRUE(first.claim()) << "claiming again keeps the name";

    SingleInstance second(connect(QStringLiteral("second")));
    EXPECT_FALSE(second.claim());

    const auto owner = connect(QStringLiteral("observer"))
                           .interface()
                           ->serviceOwner(QString::fromLatin1(dbus::kServiceName));
    EXPECT_EQ(owner.value(), QDBusConnection(QStringLiteral("first")).baseService());
}

TEST_F(SingleInstanceTest, ASecondLaunchMakesTheFirstShowItsWindow) {
    SingleInstance first(connect(QStringLiteral("first")));
    int shown = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&shown] { ++shown; });
    ASSERT_TRUE(first.claim());

    const QDBusConnection second = connect(QStringLiteral("second"));
    EXPECT_TRUE(askWhileServing(second));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(askWhileServing(second));
    EXPECT_EQ(shown, 2);
}

TEST_F(SingleInstanceTest, NobodyAnswersWithoutARunningInstance) {
    EXPECT_FALSE(askWhileServing(connect(QStringLiteral("lonely"))));

    {
        SingleInstance gone(connect(QStringLiteral("gone")));
        ASSERT_TRUE(gone.claim());
    }
    EXPECT_FALSE(askWhileServing(connect(QStringLiteral("after"))))
        << "the name and object go with the instance";
}

TEST_F(SingleInstanceTest, TheNameIsFreeAgainOnceTheFirstInstanceEnds) {
    auto first = std::make_unique<SingleInstance>(connect(QStringLiteral("first")));
    ASSERT_TRUE(first->claim());
    SingleInstance second(connect(QStringLiteral("second")));
    ASSERT_FALSE(second.claim());
    first.reset();
    EXPECT_TRUE(second.claim());

    int shown = 0;
    QObject::connect(&second, &SingleInstance::showRequested, [&shown] { ++shown; });
    EXPECT_TRUE(askWhileServing(connect(QStringLiteral("third"))));
    EXPECT_EQ(shown, 1);
}

TEST(SingleInstanceWithoutBus, RunsAloneAndNobodyAnswers) {
    const QString name = QStringLiteral("nowhere");
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name);
    ASSERT_FALSE(none.isConnected());
    SingleInstance instance(none);
    EXPECT_TRUE(instance.claim());
    EXPECT_FALSE(SingleInstance::askRunningInstanceToShow(none));
    QDBusConnection::disconnectFromBus(name);
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
