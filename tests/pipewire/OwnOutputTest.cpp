// A tapped application is heard on the output each of its streams chose, at its
// setting: streams sent to a device of their own stay there when the default
// output changes, follow a move by another tool, fall back when their device
// goes and return when it comes back; streams that follow the default follow it.
#include "ModelOnPipeWire.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <optional>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::kSilentDB;
using test::kToneAmplitude;

const double kFullDB = test::toDB(test::kToneAmplitude / std::sqrt(2.0));
const double kHalfDB = kFullDB + test::toDB(0.5);
constexpr const char* kPlayerName = "corvalle-test-player";

class OwnOutputTest : public test::ModelOnPipeWire {
protected:
    // The node id of the player's stream that asked for `target` itself.
    std::string playerStream(const std::string& target) const {
        const QJsonArray objects =
            QJsonDocument::fromJson(QByteArray::fromStdString(session.output("pw-dump -N")))
                .array();
        for (const auto& object : objects) {
            const QJsonObject node = object.toObject();
            const QJsonObject props = node[u"info"].toObject()[u"props"].toObject();
            if (node[u"type"].toString() == QLatin1String("PipeWire:Interface:Node") &&
                props[u"node.name"].toString() == QLatin1String(kPlayerName) &&
                props[u"target.object"].toString() == QString::fromStdString(target)) {
                return std::to_string(node[u"id"].toInt());
            }
        }
        return {};
    }

    QString tappedPlayer(const std::vector<std::string>& arguments) {
        QString key = startTone(arguments);
        EXPECT_TRUE(tapAtHalf(key));
        return key;
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
    const QString key = tappedPlayer({"--streams", "2", "--targets", "headphones,"});
    expectHeard({{"headphones", kHalfDB}, {"speakers", kHalfDB}}, "tapped at 50 %");

    // A new default takes the stream that follows it, not the one sent elsewhere.
    ASSERT_TRUE(loadNullSink("third"));
    makeDefault("third");
    ASSERT_TRUE(spinUntil([&] { return model->outputID() == deviceNamed("third"); }, 3s));
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

// The output a stream chose goes away while tapped: it is heard on the session
// manager's fallback at its setting, and back on its own output when that returns.
TEST_F(OwnOutputTest, AStreamWhoseOutputGoesFollowsTheFallbackAndComesBack) {
    ASSERT_TRUE(loadNullSink("extra"));
    tappedPlayer({"--targets", "extra"});
    expectHeard({{"extra", kHalfDB}, {"speakers", kSilentDB}}, "tapped at 50 % on extra");

    ASSERT_TRUE(unloadNullSink("extra"));
    expectHeard({{"speakers", kHalfDB}}, "extra removed");

    ASSERT_TRUE(loadNullSink("extra"));
    expectHeard({{"extra", kHalfDB}, {"speakers", kSilentDB}}, "extra back");
    EXPECT_FALSE(model->lastError().has_value());
    session.run("pactl unload-module module-null-sink");
}

TEST_F(OwnOutputTest, AnOutputChosenInCorvalleWinsFollowsTheDefaultWhileAwayAndReturns) {
    expectChosenOutputFollowed([&] { startTone({"--targets", "headphones"}); }, "speakers");
}

// A JACK client links itself and follows no target: it is moved link by link.
TEST_F(OwnOutputTest, AnOutputChosenForAJackClientIsWhereItIsHeard) {
    if (test::jackPlayerPath().empty()) {
        GTEST_SKIP() << "built without JACK headers";
    }
    expectChosenOutputFollowed(
        [&] {
            tone.emplace(std::vector<std::string>{test::jackPlayerPath(), "--amplitude",
                                                  std::to_string(kToneAmplitude), "--ports",
                                                  "^Test Headphones:playback_"},
                         std::vector<std::string>{test::jackLibraryEnvironment()});
        },
        "headphones");
}

} // namespace
} // namespace corvalle
