// The mixer model on every kind of output people use, in one private session
// whose configured outputs carry no priority: null sinks declared in the
// configuration, a null sink loaded through the PulseAudio server, a loopback
// virtual sink and a filter-chain sink. The default moves from kind to kind
// with a player tapped at 50 %; each is heard at its setting without dropouts,
// a tap is never made a default nor listed as an output, and an output removed
// while tapped leaves the player on the fallback at its setting.
//
// Then, in a session of the usual kind, the output each of a tapped
// application's streams chose: streams sent to a device of their own stay there
// when the default output changes, follow a move by another tool, fall back when
// their device goes and return when it comes back; streams that follow the
// default follow it.
#include "GraphState.h"
#include "ModelOnPipeWire.h"

#include <fstream>
#include <sstream>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::kSilentDB;

const double kFullDB = test::kToneDB;
const double kHalfDB = test::kHalfToneDB;

// A filter-chain sink that copies each channel, playing on the speakers.
constexpr const char* kFilterChainConfig = R"(
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [
  { name = libpipewire-module-protocol-native } { name = libpipewire-module-client-node }
  { name = libpipewire-module-adapter }
  { name = libpipewire-module-filter-chain args = {
      node.description = "Test Filter" audio.channels = 2 audio.position = [ FL FR ]
      filter.graph = { nodes = [ { type = builtin name = copy label = copy } ] }
      capture.props = { node.name = "filter-sink" media.class = "Audio/Sink" }
      playback.props = { node.name = "filter-out" target.object = "speakers" node.passive = true
                         node.dont-reconnect = true } } }
]
)";

class OutputsTest : public test::ModelOnPipeWire {
protected:
    OutputsTest() : ModelOnPipeWire("PW_SESSION_UNRANKED=1") {}

    bool nodeExists(const std::string& name) const {
        return session.run("pw-cli ls Node 2>/dev/null | grep -q 'node.name = \"" + name + "\"'") ==
               0;
    }

    // Ours must never be a default, nor a sink or source of the PulseAudio server.
    void expectTapsHidden(const std::string& when) const {
        EXPECT_EQ(
            session.output("{ pw-metadata -n default 0 2>/dev/null | grep -E "
                           "\"'default\\.audio\\.\"; pactl list short sinks; pactl list short "
                           "sources; } | grep Corvalle || true"),
            "")
            << when;
    }
};

TEST_F(OutputsTest, EveryKindOfOutputCarriesATappedPlayerButATapIsNeverTheDefault) {
    const QString key = startTone();
    ASSERT_TRUE(tapAtHalf(key));
    // A tap is one node of ours.
    ASSERT_TRUE(spinUntil([&] { return test::corvalleNodeCount(session) == 1; }, 3s));
    // With no output ranked above the rest, the session manager's election is
    // open to every sink there is.
    const AudioObjectID first = model->outputID();
    const std::string device = CA::deviceUID(*hardware, first).value_or("");
    expectHeard({{device, kHalfDB}}, "first tap");
    expectTapsHidden("first tap");
    // A tap named as the default by another program is never taken: the session
    // manager keeps a real output, and the player stays audible at its setting.
    std::istringstream ours(session.output("pw-cli ls Node | grep -o 'Corvalle-[0-9A-F-]*'"));
    for (std::string name; std::getline(ours, name);) {
        EXPECT_EQ(deviceNamed(name), kAudioObjectUnknown) << name << " is listed as an output";
        makeDefault(name);
        expectHeard({{device, kHalfDB}}, name);
        EXPECT_EQ(model->outputID(), first) << name;
    }
    EXPECT_EQ(test::corvalleNodeCount(session), 1);
    expectTapsHidden("configured as the default");

    const std::string filterConfig = session.dir().string() + "/test-filter-chain.conf";
    std::ofstream(filterConfig) << kFilterChainConfig;
    const std::vector<std::string> loopbackArgv{
        "pw-loopback", "--capture-props=media.class=Audio/Sink node.name=loop-sink",
        "--playback-props=node.name=loop-out target.object=speakers node.dont-reconnect=true"};
    std::optional<ChildProcess> loopback;
    std::optional<ChildProcess> filterChain;
    // Each kind, and how it goes away while tapped where it does.
    struct Kind {
        const char* what;
        std::string device;
        std::string heardAt; // the device whose monitor carries its sound
        bool chosenInCorvalle;
        std::function<void()> add;
        std::function<void()> remove;
    };
    const std::vector<Kind> kinds = {
        {"null sink declared without priority", "headphones", "headphones", false, [] {}, nullptr},
        {"pactl null sink", "pulse-null", "pulse-null", true,
         [&] { session.run("pactl load-module module-null-sink sink_name=pulse-null >/dev/null"); },
         [&] { session.run("pactl unload-module module-null-sink"); }},
        {"pw-loopback sink", "loop-sink", "speakers", true, [&] { loopback.emplace(loopbackArgv); },
         nullptr},
        {"filter-chain sink", "filter-sink", "speakers", false,
         [&] {
             filterChain.emplace(std::vector<std::string>{"pipewire", "-c", filterConfig});
         },
         [&] { filterChain.reset(); }},
    };
    std::map<std::string, std::string> heardAt = {{"speakers", "speakers"}};
    // Chosen in Corvalle and by another program in turn; the one before falls silent.
    std::string before = device;
    for (const Kind& kind : kinds) {
        heardAt[kind.device] = kind.heardAt;
        kind.add();
        ASSERT_TRUE(spinUntil([&] { return deviceNamed(kind.device) != kAudioObjectUnknown; }, 5s))
            << kind.what;
        if (kind.chosenInCorvalle) {
            model->selectOutput(deviceNamed(kind.device));
        } else {
            makeDefault(kind.device);
        }
        EXPECT_TRUE(outputBecomes(kind.device)) << kind.what;
        std::map<std::string, double> expected{{before, test::kSilentDB}};
        expected[kind.heardAt] = kHalfDB;
        expectHeard(expected, kind.what, 1000);
        expectTapsHidden(kind.what);
        before = kind.heardAt;
    }

    // Outputs that go away while tapped: the player goes on, on the fallback
    // the session manager picks, at its setting.
    for (auto kind = kinds.rbegin(); kind != kinds.rend(); ++kind) {
        if (!kind->remove) {
            continue;
        }
        makeDefault(kind->device);
        ASSERT_TRUE(outputBecomes(kind->device)) << kind->what;
        kind->remove();
        ASSERT_TRUE(spinUntil([&] { return !nodeExists(kind->device); }, 3s)) << kind->what;
        std::string fallback;
        ASSERT_TRUE(spinUntil(
            [&] {
                const AudioObjectID id = model->outputID();
                fallback =
                    id == kAudioObjectUnknown ? "" : CA::deviceUID(*hardware, id).value_or("");
                return !fallback.empty() && fallback != kind->device && model->hasTap(key);
            },
            5s))
            << kind->what << " removed: output " << fallback << ", tapped " << model->hasTap(key);
        ASSERT_EQ(heardAt.count(fallback), 1U) << fallback;
        expectHeard({{heardAt.at(fallback), kHalfDB}}, std::string(kind->what) + " removed");
        expectTapsHidden(kind->what);
    }
    EXPECT_EQ(model->tapCount(), 1U);
    EXPECT_FALSE(model->lastError().has_value());
}

// Every channel of every layout reaches the device as it does untapped, times
// the gain: none lost, moved to another or added, whether the application's
// layout is the device's or the stream's own mixing makes it fit. Each channel
// of the application plays a tone of its own, and each device channel is
// measured at each of those tones.
TEST_F(OutputsTest, EveryChannelIsHeardAsUntappedTimesTheGain) {
    // audio.position of a device, and pw-play's --channel-map of an application.
    const std::string mono = "MONO";
    const std::string stereo = "FL,FR";
    const std::string surround51 = "FL,FR,FC,LFE,RL,RR";
    const std::string surround71 = "FL,FR,FC,LFE,RL,RR,SL,SR";
    const std::map<std::string, std::string> outputs = {{"mono-out", mono},
                                                        {"speakers", stereo},
                                                        {"surround51", surround51},
                                                        {"surround71", surround71}};
    for (const auto& [name, positions] : outputs) {
        std::string node = "pw-cli create-node adapter '{ factory.name=support.null-audio-sink "
                           "media.class=Audio/Sink object.linger=true node.name=";
        node.append(name).append(" audio.position=[ ").append(positions).append(" ] }'");
        ASSERT_TRUE(name == "speakers" || session.run(node + " >/dev/null") == 0);
    }
    const auto layoutOf = [](const std::string& positions) {
        return pw::channelLayout({{"audio.position", positions}});
    };
    // 300, 400, ... Hz: whole periods in each 100 ms block, so the tones do not
    // leak into one another's measure.
    const auto frequency = [](std::size_t channel) { return 300.0 + 100.0 * double(channel); };
    const auto toneFile = [&](std::size_t channels) {
        std::string path = session.dir().string() + "/tones-" + std::to_string(channels) + ".wav";
        std::string synth;
        for (std::size_t c = 0; c < channels; ++c) {
            synth += " sine " + std::to_string(static_cast<int>(frequency(c)));
        }
        EXPECT_EQ(session.run("sox -n -r 48000 -c " + std::to_string(channels) +
                              " -b 32 -e floating-point " + path + " synth 30" + synth +
                              " vol 0.2"),
                  0);
        return path;
    };
    // amplitude[device channel][application channel]
    using Matrix = std::vector<std::vector<double>>;
    const auto measure = [&](const std::string& output, std::size_t appChannels) {
        test::MonitorMeter meter(output, layoutOf(outputs.at(output)));
        std::vector<std::vector<float>> channels;
        whileSpinning([&] {
            std::this_thread::sleep_for(600ms);
            channels = meter.recordChannels(400);
        });
        Matrix m(layoutOf(outputs.at(output)).size(), std::vector<double>(appChannels, 0.0));
        for (std::size_t d = 0; d < channels.size() && d < m.size(); ++d) {
            for (std::size_t a = 0; a < appChannels; ++a) {
                m[d][a] = test::toneAmplitude(channels[d], frequency(a));
            }
        }
        return m;
    };
    struct Case {
        std::string output;
        std::string app;
        // Played on an output of its own (target.object) while the default is the speakers.
        bool ownOutput = false;
    };
    const Case cases[] = {{"mono-out", mono},         {"mono-out", surround51},
                          {"speakers", mono},         {"speakers", surround51},
                          {"surround51", stereo},     {"surround51", mono},
                          {"surround51", surround51}, {"surround71", surround51},
                          {"surround71", stereo},     {"surround51", surround51, true}};
    for (const Case& c : cases) {
        const std::string what =
            c.app + " on " + c.output + (c.ownOutput ? " (its own output)" : "");
        const std::string defaultOutput = c.ownOutput ? "speakers" : c.output;
        makeDefault(defaultOutput);
        ASSERT_TRUE(outputBecomes(defaultOutput, 5s)) << what;
        const std::size_t channels = layoutOf(c.app).size();
        std::vector<std::string> play{"pw-play",       "--channels", std::to_string(channels),
                                      "--channel-map", c.app,        toneFile(channels)};
        if (c.ownOutput) {
            play.insert(play.begin() + 1, {"--target", c.output});
        }
        ChildProcess player(play);
        const QString key = test::keyOf(player);
        model->setVolume(1.0, key);
        ASSERT_TRUE(spinUntil([&] { return !model->hasTap(key) && playing(key); }, 5s)) << what;
        const Matrix untapped = measure(c.output, channels);
        ASSERT_TRUE(tapAtHalf(key)) << what;
        const Matrix tapped = measure(c.output, channels);
        for (std::size_t d = 0; d < untapped.size(); ++d) {
            for (std::size_t a = 0; a < untapped[d].size(); ++a) {
                EXPECT_NEAR(tapped[d][a], 0.5 * untapped[d][a], 0.004)
                    << what << ": device channel " << d << ", application channel " << a;
            }
        }
        model->setVolume(1.0, key);
    }
}

class OwnOutputTest : public test::ModelOnPipeWire {
protected:
    // The node id of the test player's stream that asked for `target` itself.
    std::string playerStream(const std::string& target) const {
        return session.output(
            "pw-dump -N | awk '/^    \"id\": /{id=$2+0} /^    \"type\": /{node=/Interface:Node/} "
            "/\"node.name\": /{name=$2} node && name ~ /test-player/ && /\"target.object\": \"" +
            target + "\"/{printf id; exit}'");
    }

    // An output chosen in Corvalle, for a player that plays on the headphones
    // by its own choice: untapped, its streams are sent there; tapped, its tap
    // plays there. While that device is away it plays on the default (a stream)
    // or its own output (a JACK client), and goes back when the device returns.
    // The choice outlives Corvalle and the player, and is undone on clearing.
    void expectChosenOutputFollowed(const std::function<void()>& startPlayer,
                                    const std::string& whileAway) {
        ASSERT_TRUE(loadNullSink("extra"));
        startPlayer();
        const QString key = test::keyOf(*tone);
        expectHeard({{"headphones", kFullDB}, {"speakers", kSilentDB}}, "on its own output");
        model->setOutput(QStringLiteral("extra"), key);
        expectHeard({{"extra", kFullDB}, {"headphones", kSilentDB}}, "untapped, sent to extra");

        ASSERT_TRUE(tapAtHalf(key));
        expectHeard({{"extra", kHalfDB}, {"headphones", kSilentDB}}, "tapped at 50 % on extra");

        // Corvalle restarted: the stored choice applies again.
        makeModel();
        ASSERT_TRUE(spinUntil([&] { return model->hasTap(key); }, 3s));
        expectHeard({{"extra", kHalfDB}, {"headphones", kSilentDB}}, "Corvalle restarted");

        ASSERT_TRUE(unloadNullSink("extra"));
        expectHeard({{"speakers", kHalfDB}, {"headphones", kSilentDB}},
                    "extra removed while tapped");
        ASSERT_TRUE(loadNullSink("extra"));
        expectHeard({{"extra", kHalfDB}, {"speakers", kSilentDB}}, "extra back while tapped");

        model->setVolume(1.0, key);
        ASSERT_TRUE(spinUntil([&] { return !model->hasTap(key); }, 3s));
        expectHeard({{"extra", kFullDB}, {"headphones", kSilentDB}}, "untapped again");
        ASSERT_TRUE(unloadNullSink("extra"));
        expectHeard({{whileAway, kFullDB}}, "extra removed, untapped");
        ASSERT_TRUE(loadNullSink("extra"));
        expectHeard({{"extra", kFullDB}, {"speakers", kSilentDB}, {"headphones", kSilentDB}},
                    "extra back, untapped");

        // The player started again: its new streams are sent there too.
        tone.reset();
        startPlayer();
        expectHeard({{"extra", kFullDB}, {"headphones", kSilentDB}}, "player started again");

        model->setOutput(std::nullopt, key);
        expectHeard({{"headphones", kFullDB}, {"extra", kSilentDB}}, "choice cleared");
        EXPECT_FALSE(model->lastError().has_value());

        // Quitting with a choice made puts the player back on its own output.
        model->setOutput(QStringLiteral("extra"), key);
        expectHeard({{"extra", kFullDB}, {"headphones", kSilentDB}}, "sent to extra again");
        model.reset();
        hardware.reset();
        expectHeard({{"headphones", kFullDB}, {"extra", kSilentDB}}, "Corvalle quit");
        session.run("pactl unload-module module-null-sink");
    }
};

// One player, one stream on the headphones (its own choice) and one following
// the default output (the speakers).
TEST_F(OwnOutputTest, EachStreamIsHeardOnItsOwnOutputAtTheSetting) {
    const QString key = startTone({"--streams", "2", "--targets", "headphones,"});
    ASSERT_TRUE(tapAtHalf(key));
    expectHeard({{"headphones", kHalfDB}, {"speakers", kHalfDB}}, "tapped at 50 %");

    // A new default takes the stream that follows it, not the one sent elsewhere.
    ASSERT_TRUE(loadNullSink("third"));
    makeDefault("third");
    ASSERT_TRUE(outputBecomes("third"));
    expectHeard({{"headphones", kHalfDB}, {"third", kHalfDB}, {"speakers", kSilentDB}},
                "default changed to third");

    // Other tools move the headphones stream while it is tapped.
    const std::string nodeID = playerStream("headphones");
    ASSERT_FALSE(nodeID.empty());
    // By global id, the way the PulseAudio server and the session manager's
    // restore write it, then by name.
    session.run("pw-metadata -n default " + nodeID + " target.node " +
                std::to_string(deviceNamed("speakers")) + " Spa:Id >/dev/null");
    expectHeard({{"speakers", kHalfDB}, {"headphones", kSilentDB}, {"third", kHalfDB}},
                "moved to speakers by target.node");
    session.run("pw-metadata -n default " + nodeID + " target.object headphones >/dev/null");
    expectHeard({{"headphones", kHalfDB}, {"speakers", kSilentDB}, {"third", kHalfDB}},
                "moved back by target.object");

    // Released, each stream plays where it would without Corvalle, at full level.
    model->reset(key);
    ASSERT_TRUE(spinUntil([&] { return !model->hasTap(key); }, 3s));
    expectHeard({{"headphones", kFullDB}, {"third", kFullDB}, {"speakers", kSilentDB}}, "released");
    session.run("pactl unload-module module-null-sink");
}

TEST_F(OwnOutputTest, AnOutputChosenInCorvalleWinsFollowsTheDefaultWhileAwayAndReturns) {
    expectChosenOutputFollowed([&] { startTone({"--targets", "headphones"}); }, "speakers");
}

// A player opted in to a level for each output, following the default: at 50 %
// on the speakers, 100 % on the headphones and 25 % on an output
// that goes away while it plays, each heard again where it was set, also after
// Corvalle restarts on the other device. The player is a PulseAudio client,
// where one was built.
TEST_F(OwnOutputTest, ALevelForEachOutputIsHeardOnEachAndOutlivesARemovalAndARestart) {
    // The PulseAudio player plays a constant level, 3 dB above a tone's RMS.
    const bool pulse = !test::pulsePlayerPath().empty();
    const double offsetDB = pulse ? 20.0 * std::log10(std::sqrt(2.0)) : 0.0;
    const double fullDB = kFullDB + offsetDB;
    const double halfDB = kHalfDB + offsetDB;
    const double quarterDB = halfDB - (fullDB - halfDB);
    if (!pulse) {
        startTone();
    } else {
        tone.emplace(std::vector<std::string>{test::pulsePlayerPath(), "--amplitude",
                                              std::to_string(test::kToneAmplitude), "--seconds",
                                              "120"});
    }
    const QString key = test::keyOf(*tone);
    ASSERT_TRUE(spinUntil([&] { return playing(key); }, 5s));
    model->setLevelPerOutput(true, key);
    ASSERT_TRUE(tapAtHalf(key));
    expectHeard({{"speakers", halfDB}, {"headphones", kSilentDB}}, "50 % on the speakers");

    makeDefault("headphones");
    expectHeard({{"headphones", halfDB}, {"speakers", kSilentDB}}, "headphones, never set");
    model->setVolume(1.0, key);
    expectHeard({{"headphones", fullDB}}, "100 % on the headphones");
    // The move from 100 % to 50 % is never heard louder, not even at first.
    test::MonitorMeter speakers("speakers");
    const std::vector<float> moving =
        recordAround(speakers, 1500, {{300ms, [&] { makeDefault("speakers"); }}});
    EXPECT_LE(std::ranges::max(moving, {}, [](float s) { return std::fabs(s); }),
              0.5 * test::kToneAmplitude * 1.02)
        << "the move to the speakers";
    expectHeard({{"speakers", halfDB}, {"headphones", kSilentDB}}, "back on the speakers");

    ASSERT_TRUE(loadNullSink("extra"));
    makeDefault("extra");
    ASSERT_TRUE(outputBecomes("extra"));
    model->setVolume(0.25, key);
    expectHeard({{"extra", quarterDB}, {"speakers", kSilentDB}}, "25 % on extra");
    ASSERT_TRUE(unloadNullSink("extra"));
    // The session manager picks the fallback; the level is the one set there.
    ASSERT_TRUE(spinUntil([&] { return model->outputID() != kAudioObjectUnknown; }, 3s));
    const bool onSpeakers = model->outputID() == deviceNamed("speakers");
    expectHeard({{onSpeakers ? "speakers" : "headphones", onSpeakers ? halfDB : fullDB}},
                "extra removed while playing");

    model.reset();
    makeDefault(onSpeakers ? "headphones" : "speakers");
    makeModel();
    expectHeard({{onSpeakers ? "headphones" : "speakers", onSpeakers ? fullDB : halfDB}},
                "Corvalle restarted on the other device");
    makeDefault(onSpeakers ? "speakers" : "headphones");
    expectHeard({{onSpeakers ? "speakers" : "headphones", onSpeakers ? halfDB : fullDB}},
                "and back");
    EXPECT_FALSE(model->lastError().has_value());
}

// A JACK client links itself and follows no target: it is moved link by link.
TEST_F(OwnOutputTest, AnOutputChosenForAJackClientIsWhereItIsHeard) {
    if (test::jackPlayerPath().empty()) {
        GTEST_SKIP() << "built without JACK headers";
    }
    expectChosenOutputFollowed([&] { startJackTone("^Test Headphones:playback_"); }, "headphones");
}

} // namespace
} // namespace corvalle
