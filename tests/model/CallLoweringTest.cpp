#include "Lowering.h"
#include "ModelHarness.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace corvalle;
using namespace corvalle::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const SteadyTime kStart = SteadyTime{} + 1h;

SteadyTime at(int ms) {
    return kStart + std::chrono::milliseconds(ms);
}

} // namespace

// Each step: the time, whether a call plays, then what the lowering is at that
// time afterwards. Fades run evenly in decibels: halfway, the factor is the
// geometric mean of their ends.
TEST(Lowering, FadesDownHoldsThroughSilenceAndTurnsAroundWithoutAJump) {
    using enum LoweringPhase;
    const double half = std::sqrt(0.3);
    struct Step {
        int ms;
        bool call;
        LoweringPhase phase;
        double factor;
        int nextMs; // -1: nothing moves by itself
    };
    const Step steps[] = {
        {100, true, fadingDown, 1.0, 120},
        {250, true, fadingDown, half, 270},
        {400, true, lowered, 0.3, -1},
        {1000, false, holding, 0.3, 3000},
        {3000, false, fadingUp, 0.3, 3020},
        {3500, false, fadingUp, half, 3520},
        {3500, true, fadingDown, half, 3520},
        {3650, true, fadingDown, std::pow(0.3, 0.75), 3670},
        // A call of a moment during the hold only starts the hold over.
        {4000, false, holding, 0.3, 6000},
        {5000, true, fadingDown, 0.3, 5020},
        {5100, false, holding, 0.3, 7100},
        // A late look finds the hold and the fade up both over.
        {9000, false, idle, 1.0, -1},
    };
    Lowering lowering;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.ms);
        lowering.update(step.call, at(step.ms));
        EXPECT_EQ(lowering.phase(), step.phase);
        EXPECT_NEAR(lowering.factor(at(step.ms)), step.factor, 1e-9);
        EXPECT_EQ(lowering.nextStep(at(step.ms)),
                  step.nextMs < 0 ? std::nullopt : std::optional(at(step.nextMs)));
    }
}

TEST(Lowering, AnyLevelAndAnyCallsKeepTheFactorBetweenTheLevelAndOne) {
    // Levels out of range are CallLowering's. A change while lowered fades to the new level.
    Lowering lowering;
    lowering.setLevel(0.5, at(0));
    lowering.update(true, at(0));
    lowering.update(true, at(300));
    ASSERT_EQ(lowering.factor(at(300)), 0.5);
    lowering.setLevel(0.0, at(300));
    EXPECT_EQ(lowering.phase(), LoweringPhase::fadingDown);
    EXPECT_NEAR(lowering.factor(at(450)), std::sqrt(0.5 * 0.001), 1e-9);
    lowering.update(true, at(600));
    EXPECT_EQ(lowering.factor(at(600)), 0.0) << "silence is reached exactly";

    std::mt19937 random(7);
    for (const double level : {0.0, 0.3, 1.0}) {
        Lowering any;
        any.setLevel(level, at(0));
        int ms = 0;
        for (int step = 0; step < 2000; ++step) {
            ms += static_cast<int>(random() % 400);
            any.update(random() % 3 != 0, at(ms));
            const double factor = any.factor(at(ms + static_cast<int>(random() % 50)));
            ASSERT_GE(factor, level) << ms;
            ASSERT_LE(factor, 1.0) << ms;
        }
    }
}

class CallLowering : public ::testing::Test {
protected:
    void advance(std::chrono::milliseconds by) {
        world.steady += by;
        world.refresh();
    }

    ModelHarness world;
};

// The levels heard, and the taps a lowering takes and gives back, are
// LoweringTest's on a real session. Here: applications that do not play are left
// alone, nothing of it is stored, and quitting while lowered leaves no tap.
TEST_F(CallLowering, ACallLowersThePlayingOthersStoresNothingAndLeavesNoTap) {
    world.addApp(101, u"org.loud"_s, u"Loud"_s, true);
    world.addApp(104, u"org.idle"_s, u"Idle"_s, false);
    const AudioObjectID call = world.addApp(105, u"org.call"_s, u"Call"_s, false);
    MixerModel& model = world.start();
    model.setVolume(1.5, u"org.loud"_s);
    const QByteArray stored = world.store.data(u"appSettings"_s).value_or(QByteArray());
    const std::uint64_t revision = model.settingsRevision();

    world.hardware.setRunningCall(call, true);
    world.refresh();
    EXPECT_EQ(model.callingKeys(), (std::set<QString>{u"org.call"_s}));
    EXPECT_EQ(model.loweredKeys(), (std::set<QString>{u"org.loud"_s}));
    EXPECT_FALSE(model.hasTap(u"org.idle"_s));
    EXPECT_FALSE(model.hasTap(u"org.call"_s));
    advance(300ms);
    EXPECT_NEAR(model.tapGain(u"org.loud"_s).value_or(-1), 0.45, 1e-6) << "its own gain, lowered";
    EXPECT_EQ(model.settingsRevision(), revision);
    EXPECT_EQ(world.store.data(u"appSettings"_s).value_or(QByteArray()), stored);

    world.model.reset();
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_TRUE(world.hardware.aggregates().empty());
}

TEST_F(CallLowering, AMarkedAppLowersTheOthersOnlyOnceItHasPlayedHalfASecond) {
    world.addApp(101, u"org.music"_s, u"Music"_s, true);
    const AudioObjectID chat = world.addApp(102, u"org.chat"_s, u"Chat"_s, false);
    MixerModel& model = world.start();
    model.setLowersOthers(true, u"org.chat"_s);

    // A chime of 300 ms.
    world.hardware.setRunningOutput(chat, true);
    world.refresh();
    advance(300ms);
    world.hardware.setRunningOutput(chat, false);
    advance(1000ms);
    EXPECT_TRUE(model.loweredKeys().empty());
    EXPECT_FALSE(model.hasTap(u"org.music"_s));

    world.hardware.setRunningOutput(chat, true);
    world.refresh();
    advance(499ms);
    EXPECT_TRUE(model.callingKeys().empty());
    advance(1ms);
    EXPECT_EQ(model.callingKeys(), (std::set<QString>{u"org.chat"_s}));
    EXPECT_EQ(model.loweredKeys(), (std::set<QString>{u"org.music"_s}));

    model.setLowersOthers(false, u"org.chat"_s);
    EXPECT_TRUE(model.callingKeys().empty()) << "unmarked, its sound is no call";
    EXPECT_FALSE(model.settings().contains(u"org.chat"_s));
}

// Leaving a tap moves the streams, a gap heard at full level: a group tapped only
// for the lowering keeps its tap, transparent, while it plays on after it.
TEST_F(CallLowering, ATapTakenForTheLoweringIsGivenBackOnlyOnceItsAppStopsPlaying) {
    const AudioObjectID music = world.addApp(101, u"org.music"_s, u"Music"_s, true);
    world.addApp(102, u"org.loud"_s, u"Loud"_s, true);
    const AudioObjectID call = world.addApp(105, u"org.call"_s, u"Call"_s, false);
    MixerModel& model = world.start();
    model.setVolume(1.5, u"org.loud"_s);

    world.hardware.setRunningCall(call, true);
    world.refresh();
    advance(1000ms);
    world.hardware.setRunningCall(call, false);
    world.refresh();
    advance(2000ms); // the hold
    advance(1000ms); // the way back
    EXPECT_TRUE(model.loweredKeys().empty());
    EXPECT_EQ(model.tapGain(u"org.music"_s), 1.0F) << "kept, at its own level";
    EXPECT_EQ(model.tapGain(u"org.loud"_s), 1.5F);

    model.setVolume(1.0, u"org.loud"_s);
    EXPECT_FALSE(model.hasTap(u"org.loud"_s)) << "its own setting's tap goes as before";
    world.hardware.setRunningOutput(music, false);
    world.refresh();
    EXPECT_FALSE(model.hasTap(u"org.music"_s));
    world.hardware.setRunningOutput(music, true);
    world.refresh();
    EXPECT_FALSE(model.hasTap(u"org.music"_s)) << "kept only until it stopped";
    EXPECT_FALSE(model.settings().contains(u"org.music"_s));
}

TEST_F(CallLowering, TheLevelIsStoredAsAPercentageAndReadSafely) {
    const QString key = u"loweredLevel"_s;
    const std::pair<const char*, double> cases[] = {
        {nullptr, 0.3}, {" 12.5\n", 0.125}, {"abc", 0.3}, {"250", 1.0}, {"-3", 0.0}, {"nan", 0.3}};
    for (const auto& [text, level] : cases) {
        SCOPED_TRACE(text == nullptr ? "absent" : text);
        ModelHarness harness;
        if (text != nullptr) {
            harness.store.setData(key, text);
        }
        EXPECT_EQ(harness.start().loweredLevel(), level);
    }

    MixerModel& model = world.start();
    model.setLoweredLevel(0.25);
    model.setLoweredLevel(std::nan(""));
    EXPECT_EQ(model.loweredLevel(), 0.25) << "not a number: ignored";
}
