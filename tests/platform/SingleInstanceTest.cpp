#include "SingleInstance.h"

#include "PrivateBus.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

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

// Launchers' keys; a token that is not printable ASCII of a sane length is none.
TEST(ActivationRequestTest, PlatformDataCarriesPrintableTokensOnly) {
    const QVariantMap data{{QStringLiteral("activation-token"), QStringLiteral("abc_1")},
                           {QStringLiteral("desktop-startup-id"), QStringLiteral("x_TIME5")}};
    const ActivationRequest request = ActivationRequest::fromPlatformData(data);
    EXPECT_EQ(request, (ActivationRequest{QStringLiteral("abc_1"), QStringLiteral("x_TIME5")}));
    EXPECT_EQ(request.toPlatformData(), data);
    EXPECT_EQ(ActivationRequest{}.toPlatformData(), QVariantMap{});
    for (const QVariant& token :
         {QVariant(42), QVariant(QStringLiteral("a b")), QVariant(QStringLiteral("caf\u00e9")),
          QVariant(QString(2000, QLatin1Char('a')))}) {
        EXPECT_EQ(
            ActivationRequest::fromPlatformData({{QStringLiteral("activation-token"), token}}),
            ActivationRequest{})
            << token.toString().left(40).toStdString();
    }
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
