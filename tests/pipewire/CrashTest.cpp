// Corvalle killed outright while it taps three players: the server drops our
// nodes and the session manager hands every player back to a real device.
#include "PwTestKit.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// Taps `key` at 50 % in a holder and kills it, then starts another holder that
// taps `otherKey` only: the tapped player must be back at `level` by then.
// `heardAt(level)` tells whether it is heard at a level; `levelAfterKill`,
// where given, is what it must be heard at in between.
void expectBackOnceStartedAgain(const test::PipeWireSession& session, const std::string& key,
                                const std::string& otherKey,
                                const std::function<bool(double)>& heardAt, double level,
                                std::optional<double> levelAfterKill = std::nullopt) {
    const std::string ready = session.dir().string() + "/tapped";
    ChildProcess holder({CORVALLE_TAP_HOLDER, ready, key});
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(ready); }, 10s));
    ASSERT_TRUE(test::eventually([&] { return heardAt(level / 2); }, 2s));
    holder.signal(SIGKILL);
    holder.wait(5s);
    if (levelAfterKill) {
        ASSERT_TRUE(test::eventually([&] { return heardAt(*levelAfterKill); }, 2s));
    }
    const std::string readyAgain = session.dir().string() + "/tapped-again";
    ChildProcess again({CORVALLE_TAP_HOLDER, readyAgain, otherKey});
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(readyAgain); }, 10s));
    EXPECT_TRUE(test::eventually([&] { return heardAt(level); }, 2s));
}

TEST(CrashTest, EveryPlayerIsHeardAtFullLevelSoonAfterAKill) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    // Three tones of their own, so each player can be heard apart.
    ChildProcess native({"pw-play", test::sineFile(session, kAmplitude, 440)});
    ChildProcess pulse({"paplay", test::sineFile(session, kAmplitude, 660)});
    ChildProcess ours(
        {test::testPlayerPath(), "--frequency", "880", "--amplitude", std::to_string(kAmplitude)});
    const double frequencies[] = {440.0, 660.0, 880.0};
    test::MonitorMeter meter("speakers");
    auto tonesAt = [&](double expected) {
        const std::vector<float> samples = meter.record(120);
        for (const double frequency : frequencies) {
            if (std::fabs(test::toneAmplitude(samples, frequency) - expected) > expected * 0.02) {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude); }, 5s));

    const std::string ready = session.dir().string() + "/tapped";
    ChildProcess holder({CORVALLE_TAP_HOLDER, ready, test::programKey(native),
                         test::programKey(pulse), test::programKey(ours)});
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(ready); }, 10s));
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude / 2); }, 2s));
    EXPECT_EQ(test::corvalleNodeCount(session), 6);

    holder.signal(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude); }, 1s));
    const auto back = std::chrono::steady_clock::now() - killed;
    std::printf("every player at full level %lld ms after the kill\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(back).count()));
    EXPECT_EQ(test::corvalleNodeCount(session), 0);
}

// A player on an output of its own, tapped when Corvalle is killed: the target
// left behind sends it to the default output until Corvalle starts again, which
// hands it back to its own output even though it taps something else.
TEST(CrashTest, APlayerOnItsOwnOutputIsBackThereOnceCorvalleStartsAgain) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    ChildProcess own({test::testPlayerPath(), "--targets", "headphones", "--amplitude",
                      std::to_string(kAmplitude)});
    ChildProcess other({"pw-play", test::sineFile(session, kAmplitude, 660)});
    test::MonitorMeter headphones("headphones");
    auto ownAt = [&](double expected) {
        return std::fabs(test::toneAmplitude(headphones.record(120), 440.0) - expected) <=
               expected * 0.02;
    };
    ASSERT_TRUE(test::eventually([&] { return ownAt(kAmplitude); }, 5s));
    expectBackOnceStartedAgain(session, test::programKey(own), test::programKey(other), ownAt,
                               kAmplitude);
}

// A JACK program, tapped when Corvalle is killed: its own links into the device
// were removed by the tap and ours went with our process, so it is silent until
// Corvalle starts again and links it back where it was.
TEST(CrashTest, AJackProgramIsLinkedBackOnceCorvalleStartsAgain) {
    if (test::jackPlayerPath().empty()) {
        GTEST_SKIP() << "built without the JACK headers, so without the JACK test player";
    }
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    ChildProcess jack({test::jackPlayerPath(), "--amplitude", std::to_string(kAmplitude), "--ports",
                       "^Test Speakers:playback_"},
                      {test::jackLibraryEnvironment()});
    ChildProcess other({"pw-play", test::sineFile(session, kAmplitude, 660)});
    test::MonitorMeter speakers("speakers");
    auto jackAt = [&](double expected) {
        return std::fabs(test::toneAmplitude(speakers.record(120), 440.0) - expected) <=
               std::max(expected * 0.02, 0.002);
    };
    ASSERT_TRUE(test::eventually([&] { return jackAt(kAmplitude); }, 5s));
    // Silent in between: nothing but us links it back.
    expectBackOnceStartedAgain(session, test::programKey(jack), test::programKey(other), jackAt,
                               kAmplitude, 0.0);
    // Linked back once: the record is used up, and a third start adds nothing.
    EXPECT_FALSE(std::filesystem::exists(session.dir() / "run" / "corvalle-jack-links"));
}

} // namespace
} // namespace corvalle
