// Corvalle killed outright while it taps three players: the server drops our
// nodes and the session manager hands every player back to a real device. And
// ended by SIGTERM, which takes the same way out as Quit.
#include "PwTestKit.h"
#include "QSettingsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// Starts Corvalle itself in `corvalle`, with `keys` stored at 50 % in a
// configuration of its own.
void startCorvalle(std::optional<ChildProcess>& corvalle, const test::PipeWireSession& session,
                   const std::string& configName, const std::vector<std::string>& keys) {
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

TEST(CrashTest, EveryPlayerIsHeardAtFullLevelSoonAfterAKill) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    // Three tones of their own, so each player can be heard apart.
    ChildProcess native({"pw-play", test::sineFile(session, kAmplitude, 440)});
    ChildProcess pulse({"paplay", test::sineFile(session, kAmplitude, 660)});
    ChildProcess ours(
        {test::testPlayerPath(), "--frequency", "880", "--amplitude", std::to_string(kAmplitude)});
    test::MonitorMeter meter("speakers");
    auto tonesAt = [&](double expected) {
        const std::vector<float> samples = meter.record(120);
        return std::ranges::all_of(std::array{440.0, 660.0, 880.0}, [&](double frequency) {
            return std::fabs(test::toneAmplitude(samples, frequency) - expected) <= expected * 0.02;
        });
    };
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude); }, 5s));

    std::optional<ChildProcess> corvalle;
    startCorvalle(corvalle, session, "config",
                  {test::programKey(native), test::programKey(pulse), test::programKey(ours)});
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude / 2); }, 20s));

    corvalle->signal(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::eventually([&] { return tonesAt(kAmplitude); }, 1s));
    const auto back = std::chrono::steady_clock::now() - killed;
    std::printf("every player at full level %lld ms after the kill\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(back).count()));
    EXPECT_EQ(test::corvalleNodeCount(session), 0);
}

// A player on an output of its own and a JACK program, tapped when Corvalle is
// killed: the target left behind sends the first to the default output, and the
// second, whose own links into the device the tap removed while ours went with
// our process, is silent. Corvalle started again, tapping another player only,
// hands the first back to its own output and links the second back where it was.
TEST(CrashTest, PlayersOnOutputsOfTheirOwnAreBackThereOnceCorvalleStartsAgain) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    const std::string amplitude = std::to_string(kAmplitude);
    ChildProcess own({test::testPlayerPath(), "--targets", "headphones", "--amplitude", amplitude});
    ChildProcess other({"pw-play", test::sineFile(session, kAmplitude, 660)});
    // At a tone of its own on the speakers, where the other player is heard too.
    std::optional<ChildProcess> jack;
    if (!test::jackPlayerPath().empty()) {
        jack.emplace(std::vector<std::string>{test::jackPlayerPath(), "--amplitude", amplitude,
                                              "--frequency", "550", "--ports",
                                              "^Test Speakers:playback_"},
                     std::vector<std::string>{test::jackLibraryEnvironment()});
    } else {
        std::printf("built without the JACK headers: no JACK program is tapped\n");
    }
    test::MonitorMeter headphones("headphones");
    test::MonitorMeter speakers("speakers");
    const auto toneAt = [](test::MonitorMeter& meter, double frequency, double expected) {
        return std::fabs(test::toneAmplitude(meter.record(120), frequency) - expected) <=
               std::max(expected * 0.02, 0.002);
    };
    const auto ownAt = [&](double expected) { return toneAt(headphones, 440.0, expected); };
    const auto jackAt = [&](double expected) { return !jack || toneAt(speakers, 550.0, expected); };
    ASSERT_TRUE(test::eventually([&] { return ownAt(kAmplitude) && jackAt(kAmplitude); }, 5s));

    std::vector<std::string> keys{test::programKey(own)};
    if (jack) {
        keys.push_back(test::programKey(*jack));
    }
    std::optional<ChildProcess> corvalle;
    startCorvalle(corvalle, session, "config", keys);
    ASSERT_TRUE(
        test::eventually([&] { return ownAt(kAmplitude / 2) && jackAt(kAmplitude / 2); }, 20s));
    corvalle->signal(SIGKILL);
    corvalle->wait(5s);
    // Silent in between: nothing but us links the JACK program back.
    ASSERT_TRUE(test::eventually([&] { return jackAt(0.0); }, 2s));
    std::optional<ChildProcess> again;
    startCorvalle(again, session, "config-again", {test::programKey(other)});
    ASSERT_TRUE(test::eventually([&] { return toneAt(speakers, 660.0, kAmplitude / 2); }, 20s));
    EXPECT_TRUE(test::eventually([&] { return ownAt(kAmplitude) && jackAt(kAmplitude); }, 2s));
    // Linked back once: the record is used up, and a third start adds nothing.
    EXPECT_FALSE(std::filesystem::exists(session.dir() / "run" / "corvalle-jack-links"));
}

// A player that Corvalle taps only while a call lowers it: once Corvalle is
// killed, or quits on SIGTERM, mid-call, the player is heard at its own full
// level again, and the call at its own throughout.
TEST(CrashTest, APlayerLoweredForACallIsBackAtFullLevelOnceCorvalleEnds) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    constexpr double kAmplitude = 0.2;
    const std::string amplitude = std::to_string(kAmplitude);
    ChildProcess music(
        {test::testPlayerPath(), "--app-id", "org.corvalle.test.Music", "--amplitude", amplitude});
    ChildProcess call({test::testPlayerPath(), "--app-id", "org.corvalle.test.Call", "--frequency",
                       "660", "--amplitude", amplitude, "--role", "Communication"});
    test::MonitorMeter meter("speakers");
    const auto heardAt = [&](double musicLevel) {
        const std::vector<float> samples = meter.record(120);
        return std::fabs(test::toneAmplitude(samples, 440.0) - musicLevel) <= musicLevel * 0.02 &&
               std::fabs(test::toneAmplitude(samples, 660.0) - kAmplitude) <= kAmplitude * 0.02;
    };
    ASSERT_TRUE(test::eventually([&] { return heardAt(kAmplitude); }, 5s));

    for (const int signal : {SIGKILL, SIGTERM}) {
        const std::string name = signal == SIGKILL ? "kill" : "quit";
        std::optional<ChildProcess> corvalle;
        startCorvalle(corvalle, session, "config-" + name, {});
        ASSERT_TRUE(test::eventually([&] { return heardAt(kAmplitude * 0.3); }, 20s)) << name;
        corvalle->signal(signal);
        const auto ended = std::chrono::steady_clock::now();
        ASSERT_TRUE(test::eventually([&] { return heardAt(kAmplitude); }, 1s)) << name;
        std::printf("the lowered player at full level %lld ms after the %s\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - ended)
                                               .count()),
                    name.c_str());
        EXPECT_EQ(corvalle->wait(10s), signal == SIGKILL ? 128 + SIGKILL : 0) << name;
        EXPECT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) == 0; }, 5s))
            << name;
    }
}

// A stored setting makes Corvalle tap a playing application; SIGTERM leaves no
// node of ours behind, and the application plays on.
TEST(CrashTest, ASigtermRemovesEveryNodeOfOurs) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    ChildProcess player(
        {test::testPlayerPath(), "--app-id", "org.corvalle.test.Player", "--amplitude", "0.1"});
    std::optional<ChildProcess> corvalle;
    startCorvalle(corvalle, session, "config", {"org.corvalle.test.Player"});
    ASSERT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) > 0; }, 20s))
        << session.output("pw-cli ls Node 2>&1");
    corvalle->signal(SIGTERM);
    EXPECT_EQ(corvalle->wait(10s), 0);
    EXPECT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) == 0; }, 5s))
        << session.output("pw-cli ls Node 2>&1");
    EXPECT_TRUE(player.isRunning());
}

} // namespace
} // namespace corvalle
