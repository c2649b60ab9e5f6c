#include "SingleInstance.h"

#include "PrivateBus.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <vector>

namespace corvalle {
namespace {

// Asking the running instance to show itself is the real second launch's
// (Reopen.SecondLaunchShowsTheRunningInstancesWindowAndEnds).
TEST(SingleInstanceTest, OnlyTheFirstInstanceClaimsTheNameUntilItEnds) {
    test::PrivateBus bus;
    auto first = std::make_unique<SingleInstance>(bus.connect(QStringLiteral("first")));
    EXPECT_TRUE(first->claim());
    EXPECT_TRUE(first->claim()) << "claiming again keeps the name";
    SingleInstance second(bus.connect(QStringLiteral("second")));
    EXPECT_FALSE(second.claim());

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
