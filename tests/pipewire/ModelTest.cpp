// The mixer model on the PipeWire backend in a private session, with real
// audio: rows for real players, levels heard at the device and read by the rows'
// meters, and a restart of the audio server.
#include "LevelMonitor.h"
#include "ModelOnPipeWire.h"

#include <csignal>
#include <filesystem>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::keyOf;
using test::kToneAmplitude;
using test::Level;

constexpr double kHalfDB = -6.0206;

class ModelTest : public test::ModelOnPipeWire {
protected:
    double silenceDB(test::MonitorMeter& meter) {
        return settled(meter, [](const Level& l) { return l.rmsDB < -90.0; }).rmsDB;
    }

    // Steps `key`, playing at kToneAmplitude, through levels, mute and reset,
    // measuring each at the speakers; reset must leave no node of ours.
    void expectLevelsMuteAndResetHeard(const QString& key) {
        test::MonitorMeter speakers("speakers");
        const double unaltered = test::kToneDB;
        ASSERT_NEAR(settledDB(speakers, unaltered), unaltered, 0.1);
        for (const double volume : {0.5, 2.0}) {
            const double expected = unaltered + test::toDB(volume);
            model->setVolume(volume, key);
            EXPECT_NEAR(settledDB(speakers, expected), expected, 0.1) << volume;
        }
        // Past full scale: limited to a whole full-scale tone, or with the hard
        // limit clipped flat for a third of the time.
        model->setVolume(4.0, key);
        EXPECT_EQ(settled(speakers, [](const Level& l) { return l.peak == 1.0; }).peak, 1.0);
        const double fullScaleToneDB = test::toDB(1.0 / std::sqrt(2.0));
        EXPECT_NEAR(settledDB(speakers, fullScaleToneDB), fullScaleToneDB, 0.1);
        EXPECT_LT(fullScaleShare(speakers), 0.05);
        model->setLimiterOn(false);
        EXPECT_TRUE(spinUntil([&] { return fullScaleShare(speakers) > 0.3; }, 3s));
        model->setLimiterOn(true);
        EXPECT_TRUE(spinUntil([&] { return fullScaleShare(speakers) < 0.05; }, 3s));
        model->setVolume(0.0, key);
        EXPECT_LT(silenceDB(speakers), -90.0);
        model->setVolume(1.0, key);
        model->toggleMute(key);
        EXPECT_LT(silenceDB(speakers), -90.0);
        model->reset(key);
        EXPECT_FALSE(model->hasTap(key));
        // What it plays by itself is back, once: neither silent nor doubled.
        EXPECT_NEAR(settledDB(speakers, unaltered), unaltered, 0.1);
        EXPECT_EQ(test::corvalleNodeCount(session), 0);
        EXPECT_FALSE(model->lastError().has_value());
    }
    // The share of 300 ms of samples at `meter` that sit at full scale.
    double fullScaleShare(test::MonitorMeter& meter) {
        std::vector<float> samples;
        whileSpinning([&] { samples = meter.record(300); }, 3s);
        const auto atFull =
            std::ranges::count_if(samples, [](float x) { return std::fabs(x) >= 1.0F; });
        return samples.empty() ? 0.0
                               : static_cast<double>(atFull) / static_cast<double>(samples.size());
    }
    // The loudest peak `key`'s row shows in 600 ms windows, once a window reads
    // within 0.5 dB of `expectedDB` (or after eight), in dB (-200 for silence).
    double rowPeakDB(const QString& key, double expectedDB) {
        float loudest = 0.0F;
        for (int window = 0; window < 8; ++window) {
            loudest = 0.0F;
            spinUntil(
                [&] {
                    loudest = std::max(loudest, model->levels().peak(key));
                    return false;
                },
                600ms);
            if (std::fabs(test::toDB(loudest) - expectedDB) <= 0.5) {
                break;
            }
        }
        return test::toDB(loudest);
    }
};

TEST_F(ModelTest, EveryPlayerIsARowAHelperFoldsIntoItsParentAndPlayingFollowsPause) {
    const std::string pauseFile = session.dir().string() + "/pause";
    ChildProcess native({"pw-play", test::sineFile(session, 0.5)});
    ChildProcess pulse({"paplay", test::sineFile(session, 0.5)});
    // Through PipeWire's ALSA plugin, which names the client after itself.
    ChildProcess alsa({"aplay", "-q", "-D", "pipewire", test::sineFile(session, 0.5)});
    ChildProcess withHelper(
        {test::testPlayerPath(), "--child", "--name", "Helper Player", "--pause-file", pauseFile});
    const QString helperKey = keyOf(withHelper);
    ASSERT_TRUE(spinUntil(
        [&] {
            return row(keyOf(native)) != nullptr && row(keyOf(pulse)) != nullptr &&
                   row(keyOf(alsa)) != nullptr && playing(helperKey);
        },
        5s));
    // Without desktop entries the names are what the players announce.
    EXPECT_EQ(row(keyOf(native))->name, QStringLiteral("pw-play"));
    EXPECT_EQ(row(keyOf(pulse))->name, QStringLiteral("paplay"));
    EXPECT_EQ(row(keyOf(alsa))->name, QStringLiteral("aplay"));
    EXPECT_EQ(row(helperKey)->name, QStringLiteral("Helper Player"));
    ASSERT_EQ(row(helperKey)->processObjects.size(), 1U);
    // The process that plays is the child, not the row's own process.
    EXPECT_NE(CA::get<std::int32_t>(*hardware, row(helperKey)->processObjects.front(),
                                    kAudioProcessPropertyPID, -1),
              withHelper.pid());
    EXPECT_EQ(row(QString::fromStdString(test::programKey(getpid()))), nullptr)
        << "our own process is never a row";

    ASSERT_EQ(session.run("touch '" + pauseFile + "'"), 0);
    EXPECT_TRUE(spinUntil([&] { return row(helperKey) != nullptr && !playing(helperKey); }, 3s));
    ASSERT_EQ(session.run("rm '" + pauseFile + "'"), 0);
    EXPECT_TRUE(spinUntil([&] { return playing(helperKey); }, 3s));
    withHelper.signal(SIGTERM);
    EXPECT_TRUE(spinUntil([&] { return row(helperKey) == nullptr; }, 3s));
}

// The test player, and a JACK client, which links its own ports to the
// device's: the tap moves those links and puts them back. The JACK player is
// run on PipeWire's JACK library, as pw-jack runs any JACK program, directly,
// not through a shell: the key is read from the child's executable.
TEST_F(ModelTest, VolumeMuteAndResetChangeWhatIsHeard) {
    const QString key = startTone();
    ASSERT_TRUE(spinUntil([&] { return playing(key); }, 5s));
    expectLevelsMuteAndResetHeard(key);
    tone.reset();
    if (!startJackTone("^Test Speakers:playback_")) {
        return; // built without the JACK headers
    }
    const QString jackKey = keyOf(*tone);
    ASSERT_TRUE(spinUntil([&] { return playing(jackKey); }, 5s));
    EXPECT_EQ(row(jackKey)->name, QStringLiteral("corvalle-jack-player"));
    expectLevelsMuteAndResetHeard(jackKey);
    EXPECT_FALSE(std::filesystem::exists(session.dir() / "run" / "corvalle-jack-links"))
        << "nothing is left to put back after a reset";
}

// A tap's links to the device keep nothing running by themselves: while its
// player is paused the device suspends, as it would untapped, and the tap
// stays for the player's return.
TEST_F(ModelTest, APausedTappedPlayerLetsItsOutputSuspend) {
    const std::string pauseFile = session.dir().string() + "/pause";
    const QString key = startTone({"--pause-file", pauseFile});
    ASSERT_TRUE(spinUntil([&] { return playing(key); }, 5s));
    const auto speakersAre = [&](const char* state) {
        return session.output("pw-cli i speakers").find(std::string("state: \"") + state + '"') !=
               std::string::npos;
    };
    model->setVolume(0.5, key);
    ASSERT_TRUE(spinUntil(
        [&] { return test::corvalleNodeCount(session) == 1 && speakersAre("running"); }, 3s));
    ASSERT_EQ(session.run("touch '" + pauseFile + "'"), 0);
    EXPECT_TRUE(spinUntil([&] { return speakersAre("suspended"); }, 10s));
    EXPECT_TRUE(model->hasTap(key));
    ASSERT_EQ(session.run("rm '" + pauseFile + "'"), 0);
    ASSERT_TRUE(spinUntil([&] { return speakersAre("running"); }, 3s));
    test::MonitorMeter speakers("speakers");
    EXPECT_NEAR(settledDB(speakers, test::kHalfToneDB), test::kHalfToneDB, 0.1);
}

TEST_F(ModelTest, TheMeterReadsWhatTheApplicationIsHeardAt) {
    const QString key = startTone();
    ASSERT_TRUE(spinUntil(
        [&] {
            model->refresh();
            return playing(key);
        },
        5s));
    const int nodesBefore = test::corvalleNodeCount(session);
    const int viewer = 0;
    model->levels().watch(&viewer, 16ms);
    const double peakDB = test::toDB(kToneAmplitude);
    const double alone = rowPeakDB(key, peakDB);
    EXPECT_NEAR(alone, peakDB, 0.5) << "untapped, measured by the server";
    model->setVolume(0.5, key);
    EXPECT_NEAR(rowPeakDB(key, alone + kHalfDB), alone + kHalfDB, 0.5) << "through the tap";
    model->toggleMute(key);
    EXPECT_EQ(rowPeakDB(key, -200.0), -200.0) << "muted reads silent";
    model->reset(key);
    EXPECT_NEAR(rowPeakDB(key, alone), alone, 0.5) << "measured by the server again";

    model->levels().unwatch(&viewer);
    EXPECT_TRUE(spinUntil([&] { return test::corvalleNodeCount(session) == nodesBefore; }, 3s))
        << "no measuring stream is left once no view watches";
}

// Several restarts in a row: each one races the session manager's start anew,
// and a tap must come back after every one of them, not just the first.
TEST_F(ModelTest, RowsAndTapsAreBackSoonAfterAnAudioServerRestart) {
    const QString key = QStringLiteral("org.example.Survivor");
    // The player ends with its server; the loop starts it again, as a session would.
    ChildProcess player({"sh", "-c",
                         "while true; do '" + test::testPlayerPath() + "' --app-id " +
                             key.toStdString() + " >/dev/null; sleep 0.1; done"});
    ASSERT_TRUE(spinUntil([&] { return playing(key); }, 5s));
    model->setVolume(0.5, key);
    ASSERT_TRUE(model->hasTap(key));

    constexpr int kRestarts = 3;
    for (int round = 0; round < kRestarts; ++round) {
        ASSERT_TRUE(session.restartAudio()) << round;
        // Back means: a row whose processes are the new server's, tapped again
        // through one node of ours.
        EXPECT_TRUE(spinUntil(
            [&] {
                const AudioApp* app = row(key);
                if (!hardware->isConnected() || app == nullptr || app->processObjects.empty() ||
                    !model->hasTap(key)) {
                    return false;
                }
                const auto current =
                    CA::objectList(*hardware, CA::system, kAudioHardwarePropertyProcessObjectList);
                return std::find(current.begin(), current.end(), app->processObjects.front()) !=
                           current.end() &&
                       test::corvalleNodeCount(session) == 1;
            },
            5s))
            << "round " << round << ": connected " << hardware->isConnected() << ", tapped "
            << model->hasTap(key) << ", our nodes " << test::corvalleNodeCount(session);
        expectHeard({{"speakers", test::toDB(0.5 / std::sqrt(2.0)) + kHalfDB}},
                    "restart " + std::to_string(round));
    }
}

} // namespace
} // namespace corvalle
