#include "OutputWatch.h"

#include "ControlFixture.h"
#include "DBusNames.h"

namespace corvalle::test {
namespace {

using namespace std::chrono_literals;

class OutputWatchTest : public ControlTest {
protected:
    void announce(uint id, const QString& name) {
        auto signal = QDBusMessage::createSignal(QString::fromLatin1(dbus::kMixerPath),
                                                 QString::fromLatin1(dbus::kMixerInterface),
                                                 QStringLiteral("OutputChanged"));
        signal.setArguments({id, name});
        ASSERT_TRUE(serviceBus_.send(signal));
    }
};

// Another device's announcement does not end the wait; the wanted one does, also
// when it came before wait() was called.
TEST_F(OutputWatchTest, EndsWhenTheWantedDeviceIsAnnounced) {
    OutputWatch early(clientBus_, 42);
    OutputWatch other(clientBus_, 7);
    announce(7, QStringLiteral("Other"));
    EXPECT_TRUE(other.wait(10s));
    drainEvents(); // every receiver has had the announcement of 7 now
    EXPECT_FALSE(early.isAnnounced());
    announce(42, QStringLiteral("Wanted"));
    EXPECT_TRUE(early.wait(10s));

    OutputWatch late(clientBus_, 42);
    announce(43, QStringLiteral("Another"));
    announce(42, QStringLiteral("Wanted"));
    EXPECT_TRUE(late.wait(10s));
}

} // namespace
} // namespace corvalle::test
