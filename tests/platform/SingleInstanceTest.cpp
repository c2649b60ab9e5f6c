#include "SingleInstance.h"

#include "DBusNames.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <future>
#include <gtest/gtest.h>
#include <vector>

namespace corvalle {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    QDBusConnection connect(const QString& name) { return bus_.connect(name); }

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

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
