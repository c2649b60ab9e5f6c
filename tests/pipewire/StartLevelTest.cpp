// Players that start with a stored setting, recorded at the device from before
// each start: no start may be louder than the player alone (a doubled path,
// direct and tapped summed), and few may begin above the stored level.
#include "ModelOnPipeWire.h"
#include "StartShape.h"

#include <csignal>
#include <fstream>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::StartShape;

constexpr float kLevel = 0.4F;
constexpr double kStoredVolume = 0.5;
// A start is heard 100 to 240 ms after it, and the file lasts 300 ms.
constexpr int kRecordMs = 900;
constexpr double kFileSeconds = 0.3;

struct PlayerKind {
    const char* name;
    const char* program;
};

class StartLevelTest : public test::ModelOnPipeWire,
                       public ::testing::WithParamInterface<PlayerKind> {
protected:
    // Records the speakers from just before the player starts until after it ends.
    std::vector<float> recordStart(test::MonitorMeter& meter, std::optional<ChildProcess>& player) {
        return recordAround(meter, kRecordMs,
                            {{40ms, [&] {
                                  player.emplace(std::vector<std::string>{program, file});
                                  if (key.isEmpty()) {
                                      key = test::keyOf(*player);
                                  }
                              }}});
    }

    // The previous player has ended and its tap is gone.
    bool quiet(std::optional<ChildProcess>& player) {
        return spinUntil([&] { return !player->isRunning() && !model->hasTap(key); }, 5s);
    }

    std::string file = session.dir().string() + "/level.wav";
    std::string program = GetParam().program;
    // The player's row key, read while the first player runs.
    QString key;
};

TEST_P(StartLevelTest, NoStartIsLouderThanThePlayerAlone) {
    ASSERT_TRUE(test::writeConstantWav(file, kLevel, kFileSeconds));
    test::MonitorMeter meter("speakers");
    spinFor(300ms);

    // Untapped first: the player's own level, and its key.
    std::optional<ChildProcess> player;
    const StartShape alone = test::startShape(recordStart(meter, player), kLevel);
    ASSERT_FALSE(key.isEmpty());
    ASSERT_TRUE(alone.heard);
    ASSERT_TRUE(alone.atLevelFromFirstSample);
    ASSERT_TRUE(quiet(player));
    model->setVolume(kStoredVolume, key);
    const double expected = kLevel * kStoredVolume;

    int louder = 0;
    constexpr int starts = 20;
    for (int start = 0; start < starts; ++start) {
        const StartShape shape = test::startShape(recordStart(meter, player), expected);
        ASSERT_TRUE(shape.heard) << start;
        EXPECT_LE(shape.loudest, kLevel * 1.02)
            << "start " << start << " was louder than the player alone: a doubled path";
        louder += shape.loudest > expected * 1.01 ? 1 : 0;
        ASSERT_TRUE(quiet(player)) << start;
    }
    // Before streams were held at their setting while they moved into the tap,
    // half (0.3.65) or nearly all (1.4) pulse starts began at full level. A start
    // that is quieter at first (the relink gap of a pulse stream on 1.4, 21 to 43
    // ms in 8 to 10 of 20 starts) is not a louder one.
    EXPECT_LE(louder, starts / 5) << "too many starts heard above the stored level first";
    EXPECT_FALSE(model->lastError().has_value());
}

std::string nameOf(const ::testing::TestParamInfo<PlayerKind>& info) {
    return info.param.name;
}
const auto kPlayers =
    ::testing::Values(PlayerKind{"native", "pw-play"}, PlayerKind{"pulse", "paplay"});
INSTANTIATE_TEST_SUITE_P(Players, StartLevelTest, kPlayers, nameOf);

// A tapped player released by a reset, again and again: the recording around
// each release goes from the reduced level to the full one, never louder than
// the player alone (a doubled path) and with no gap longer than the session
// manager's own relink of a moved stream. That the tap plays its last gain
// while the streams leave is BackendTest's stopped-tap case.
class ReleaseTest : public StartLevelTest {
protected:
    // WirePlumber 0.4 relinks a moved stream with mostly no gap, at most one
    // cycle of 1024 frames. 0.5 leaves two cycles, sometimes three, and now
    // and then four on a busy machine.
    double allowedSilenceMs() const {
        const bool older =
            session.output("wireplumber --version 2>&1").find("libwireplumber 0.4") !=
            std::string::npos;
        return (older ? 3 : 5) * 1024 / 48.0 + 0.1;
    }
};

TEST_P(ReleaseTest, AReleaseIsNeverLouderAndHasNoLongGap) {
    constexpr double kTappedVolume = 0.25;
    constexpr int kReleases = 4;
    const double allowedGapMs = allowedSilenceMs();
    ASSERT_TRUE(test::writeConstantWav(file, kLevel, 15.0));
    test::MonitorMeter meter("speakers");
    const double tapped = kLevel * kTappedVolume;
    ChildProcess player({program, file});
    key = test::keyOf(player);
    for (int release = 0; release < kReleases; ++release) {
        model->setVolume(kTappedVolume, key);
        ASSERT_TRUE(spinUntil([&] { return model->hasTap(key); }, 5s)) << release;
        const test::Level level = settled(
            meter, [&](const test::Level& l) { return std::fabs(l.peak - tapped) < 0.005; });
        ASSERT_NEAR(level.peak, tapped, 0.005) << release;

        const std::vector<float> samples =
            recordAround(meter, 600, {{150ms, [&] { model->reset(key); }}});
        ASSERT_FALSE(model->hasTap(key));

        const test::ReleaseShape shape = test::releaseShape(samples, tapped, kLevel);
        EXPECT_LE(shape.loudest, kLevel * 1.02) << release << ": louder than the player alone";
        EXPECT_LE(shape.longestSilentMs, allowedGapMs)
            << release << ": the tap fell silent before the stream was back";
        EXPECT_GT(shape.fullFromMs, 0.0) << release << ": the full level was never reached";
    }
    EXPECT_FALSE(model->lastError().has_value());
}

// A tapped PulseAudio client whose new stream the session manager links only
// after our tap has claimed it (the session manager is stopped meanwhile): the
// stream starts and is heard at its setting. That server answers its client only
// once the new stream is linked to a device, so a stream sent straight into our
// sink used to stay silent for as long as it was tapped, its player waiting.
class LateLinkTest : public test::ModelOnPipeWire {};

TEST_F(LateLinkTest, ANewPulseStreamLinkedLateIsHeardAtItsSetting) {
    if (test::pulsePlayerPath().empty()) {
        GTEST_SKIP() << "built without libpulse";
    }
    const std::string go = session.dir().string() + "/go";
    test::MonitorMeter meter("speakers");
    ChildProcess player({test::pulsePlayerPath(), "--wait-file", go, "--amplitude",
                         std::to_string(kLevel), "--seconds", "2"});
    const QString key = test::keyOf(player);
    ASSERT_FALSE(key.isEmpty());
    model->setVolume(kStoredVolume, key);
    // Connected by then: the stream is asked for only once the file exists.
    spinUntil([&] { return model->hasTap(key); }, 1s);

    pid_t sessionManager = 0;
    std::ifstream(session.dir() / "wireplumber.pid") >> sessionManager;
    ASSERT_GT(sessionManager, 0);
    struct Resume {
        pid_t pid;
        ~Resume() { kill(pid, SIGCONT); }
    } resume{sessionManager};
    ASSERT_EQ(kill(sessionManager, SIGSTOP), 0);
    std::ofstream{go} << "go";
    ASSERT_TRUE(spinUntil([&] { return model->hasTap(key); }, 5s));
    spinFor(300ms);

    const StartShape shape = test::startShape(
        recordAround(meter, kRecordMs, {{0ms, [&] { kill(sessionManager, SIGCONT); }}}),
        kLevel * kStoredVolume);
    EXPECT_TRUE(shape.heard) << "the tapped stream never started";
    EXPECT_LE(shape.loudest, kLevel * 1.02) << "louder than the player alone";
    EXPECT_NEAR(shape.loudest, kLevel * kStoredVolume, 0.01) << "not at its setting";
    EXPECT_EQ(player.wait(5s), 0) << "the player never finished";
}

INSTANTIATE_TEST_SUITE_P(Players, ReleaseTest, kPlayers, nameOf);

} // namespace
} // namespace corvalle
