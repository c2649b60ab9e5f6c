// Corvalle killed outright while it taps: the server drops our nodes and the
// session manager hands every player back to a real device, or Corvalle hands
// them back when it starts again. And ended by SIGTERM, which takes the same way
// out as Quit.
#include "PwTestKit.h"
#include "QSettingsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr double kAmplitude = 0.2;
const std::string kAmplitudeText = std::to_string(kAmplitude);

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.isRunning()); }

    // Starts Corvalle itself in `corvalle`, with `keys` stored at 50 % in a
    // configuration of its own.
    void startCorvalle(std::optional<ChildProcess>& corvalle, const std::string& configName,
                       const std::vector<std::string>& keys) const {
        const std::filesystem::path config = session.dir() / configName;
        QJsonObject settings;
        for (const std::string& key : keys) {
            const QString name = QString::fromStdString(key);
            settings[name] = QJsonObject{{"volume", 0.5}, {"muted", false}, {"name", name}};
        }
        QSettingsStore(QString::fromStdString((config / "Corvalle" / "Corvalle.conf").string()))
            .setData(QStringLiteral("appSettings"), QJsonDocument(settings).toJson());
        corvalle.emplace(std::vector<std::string>{CORVALLE_BINARY, "--login-item"},
                         std::vector<std::string>{"XDG_CONFIG_HOME=" + config.string(),
                                                  "QT_QPA_PLATFORM=offscreen"});
    }

    // Whether each tone (frequency: amplitude) is heard at `meter` now, within
    // 2 % of its amplitude (0.002 of silence).
    static bool at(test::MonitorMeter& meter, const std::map<double, double>& tones) {
        const std::vector<float> samples = meter.record(120);
        return std::ranges::all_of(tones, [&](const auto& tone) {
            return std::fabs(test::toneAmplitude(samples, tone.first) - tone.second) <=
                   (tone.second == 0.0 ? 0.002 : tone.second * 0.02);
        });
    }
    static bool heard(test::MonitorMeter& meter, const std::map<double, double>& tones,
                      std::chrono::milliseconds timeout) {
        return test::eventually([&] { return at(meter, tones); }, timeout);
    }

    test::PipeWireSession session;
    test::MonitorMeter speakers{"speakers"};
};

// A player on an output of its own and a JACK program, tapped when Corvalle is
// killed: the target left behind sends the first to the default output, and the
// second, whose own links into the device the tap removed while ours went with
// our process, is silent. Corvalle started again, tapping another player only,
// hands the first back to its own output and links the second back where it was.
TEST_F(CrashTest, PlayersOnOutputsOfTheirOwnAreBackThereOnceCorvalleStartsAgain) {
    ChildProcess own(
        {test::testPlayerPath(), "--targets", "headphones", "--amplitude", kAmplitudeText});
    ChildProcess other({"pw-play", test::sineFile(session, kAmplitude, 660)});
    // At a tone of its own on the speakers, where the other player is heard too.
    std::optional<ChildProcess> jack;
    std::vector<std::string> keys{test::programKey(own)};
    if (!test::jackPlayerPath().empty()) {
        jack.emplace(std::vector<std::string>{test::jackPlayerPath(), "--amplitude", kAmplitudeText,
                                              "--frequency", "550", "--ports",
                                              "^Test Speakers:playback_"},
                     std::vector<std::string>{test::jackLibraryEnvironment()});
        keys.push_back(test::programKey(*jack));
    }
    test::MonitorMeter headphones("headphones");
    const auto bothAt = [&](double level, std::chrono::milliseconds timeout) {
        return test::eventually(
            [&] {
                return at(headphones, {{440, level}}) && (!jack || at(speakers, {{550, level}}));
            },
            timeout);
    };
    ASSERT_TRUE(bothAt(kAmplitude, 5s));
    std::optional<ChildProcess> corvalle;
    startCorvalle(corvalle, "config", keys);
    ASSERT_TRUE(bothAt(kAmplitude / 2, 20s));
    corvalle->signal(SIGKILL);
    corvalle->wait(5s);
    // Silent in between: nothing but us links the JACK program back.
    ASSERT_TRUE(!jack || heard(speakers, {{550, 0.0}}, 2s));
    std::optional<ChildProcess> again;
    startCorvalle(again, "config-again", {test::programKey(other)});
    ASSERT_TRUE(heard(speakers, {{660, kAmplitude / 2}}, 20s));
    EXPECT_TRUE(bothAt(kAmplitude, 2s));
    // Linked back once: the record is used up, and a third start adds nothing.
    EXPECT_FALSE(std::filesystem::exists(session.dir() / "run" / "corvalle-jack-links"));
}

// A native and a PulseAudio player tapped for their stored 50 %, and one that
// Corvalle taps only while a call lowers it: once Corvalle is killed, or quits
// on SIGTERM, mid-call, every player is heard at its own full level again
// within a second, the call at its own throughout, and no node of ours is left.
TEST_F(CrashTest, EveryPlayerIsBackAtFullLevelSoonAfterCorvalleEndsMidCall) {
    ChildProcess native({"pw-play", test::sineFile(session, kAmplitude, 880)});
    ChildProcess pulse({"paplay", test::sineFile(session, kAmplitude, 550)});
    ChildProcess music({test::testPlayerPath(), "--app-id", "org.corvalle.test.Music",
                        "--amplitude", kAmplitudeText});
    ChildProcess call({test::testPlayerPath(), "--app-id", "org.corvalle.test.Call", "--frequency",
                       "660", "--amplitude", kAmplitudeText, "--role", "Communication"});
    // The stored players' and the music's share of their own level.
    const auto heardAt = [&](double stored, double musicShare, std::chrono::milliseconds timeout) {
        const double storedLevel = kAmplitude * stored;
        return heard(speakers,
                     {{880, storedLevel},
                      {550, storedLevel},
                      {440, kAmplitude * musicShare},
                      {660, kAmplitude}},
                     timeout);
    };
    ASSERT_TRUE(heardAt(1.0, 1.0, 5s));
    for (const int signal : {SIGKILL, SIGTERM}) {
        std::optional<ChildProcess> corvalle;
        startCorvalle(corvalle, "config-" + std::to_string(signal),
                      {test::programKey(native), test::programKey(pulse)});
        ASSERT_TRUE(heardAt(0.5 * 0.3, 0.3, 20s)) << signal;
        corvalle->signal(signal);
        ASSERT_TRUE(heardAt(1.0, 1.0, 1s)) << signal;
        EXPECT_EQ(corvalle->wait(10s), signal == SIGKILL ? 128 + SIGKILL : 0) << signal;
        EXPECT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) == 0; }, 5s))
            << signal;
    }
}

} // namespace
} // namespace corvalle
