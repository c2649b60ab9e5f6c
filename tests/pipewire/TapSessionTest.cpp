// A tap's start and release against a scripted registry view: when streams
// move in, when a start fails, how PulseAudio streams wait for their answer,
// and what a release or a lost connection leaves.
#include "TapSession.h"

#include "PipeWireKeys.h"

#include <gtest/gtest.h>

namespace corvalle::pw {
namespace {

using Clock = TapSession::Clock;
using Phase = TapSession::Phase;
using Step = TapSession::Step;
using namespace std::chrono_literals;

constexpr std::uint32_t kDevice = 1;
constexpr std::uint32_t kStream = 10;
constexpr std::uint32_t kPulseStream = 11;

const Clock::time_point t0 = Clock::time_point{} + 1h;

// A device, a native stream and a stream of the PulseAudio server.
GraphState graphWithStreams() {
    GraphState graph;
    graph.nodes[kDevice] = {.id = kDevice, .props = {{keys::kMediaClass, keys::kClassAudioSink}}};
    graph.nodes[kStream] = {.id = kStream,
                            .props = {{keys::kMediaClass, keys::kClassStreamOutputAudio}}};
    graph.nodes[kPulseStream] = {.id = kPulseStream,
                                 .props = {{keys::kMediaClass, keys::kClassStreamOutputAudio},
                                           {keys::kClientAPI, keys::kClientAPIPulse}}};
    return graph;
}

void playStraightToDevice(GraphState& graph, std::uint32_t nodeID, Clock::time_point since) {
    graph.nodes[nodeID].running = true;
    graph.nodes[nodeID].runningSince = since;
    graph.links[100 + nodeID] = {
        .id = 100 + nodeID, .outputNodeID = nodeID, .inputNodeID = kDevice};
}

TEST(TapSessionTest, AStartMovesTheStreamsInWhenTheyCanGoOnBeingHeard) {
    using enum Phase;
    using enum Step;
    struct Case {
        const char* what = "";
        Step step = none;
        Phase phase = idle;
        bool playingAndHeld = false;
        StartFacts facts;
    };
    const Case cases[] = {
        {"sink not there yet", none, awaitingSink, false, {}},
        {"ours failed", failed, idle, false, {.streamsFailed = true, .sinkReady = true}},
        {"sink ready, streams starting", claim, claiming, false, {.sinkReady = true}},
        {"sink ready, a stream plays, held", none, awaitingCarry, true, {.sinkReady = true}},
        {"our playback linked", claim, claiming, true, {.sinkReady = true, .playbackLinked = true}},
        {"carried by another",
         none,
         awaitingCarry,
         false,
         {.sinkReady = true, .carriedByAnotherTap = true}},
    };
    for (const Case& c : cases) {
        GraphState graph = graphWithStreams();
        TapSession session;
        ASSERT_TRUE(session.requestStart(t0));
        if (c.playingAndHeld) {
            playStraightToDevice(graph, kStream, t0 - 1s);
            session.hold(kStream);
        }
        EXPECT_EQ(session.advance(c.facts, graph, {kStream}, t0), c.step) << c.what;
        EXPECT_EQ(session.phase(), c.phase) << c.what;
    }
}

TEST(TapSessionTest, AWaitingStartClaimsOnceOurPlaybackIsLinkedAndNotOnAStreamFailure) {
    const GraphState graph = graphWithStreams();
    TapSession session;
    session.requestStart(t0);
    StartFacts facts{.sinkReady = true, .carriedByAnotherTap = true};
    ASSERT_EQ(session.advance(facts, graph, {kStream}, t0), Step::none);
    // Our sink is there: a failure of the playback side shows as no link, and
    // the deadline decides.
    facts.streamsFailed = true;
    EXPECT_EQ(session.advance(facts, graph, {kStream}, t0), Step::none);
    facts = {.sinkReady = true, .playbackLinked = true};
    EXPECT_EQ(session.advance(facts, graph, {kStream}, t0 + 10ms), Step::claim);
    EXPECT_FALSE(session.deadline());
    EXPECT_EQ(session.advance(facts, graph, {kStream}, t0 + 20ms), Step::none) << "claims once";
}

TEST(TapSessionTest, PlayingStraightToDeviceNeedsEveryStreamPlayingLinkedAndHeld) {
    struct Case {
        const char* what = "";
        Clock::duration runningFor{};
        bool linked = false;
        bool held = false;
        bool straight = false;
    };
    const Case cases[] = {
        {"playing, linked, held", 1s, true, true, true},
        {"just started", kPlayingAfter - 1ms, true, true, false},
        {"not linked", 1s, false, true, false},
        {"not held (no volume of its own to hold)", 1s, true, false, false},
    };
    for (const Case& c : cases) {
        GraphState graph = graphWithStreams();
        TapSession session;
        playStraightToDevice(graph, kStream, t0 - c.runningFor);
        if (!c.linked) {
            graph.links.clear();
        }
        if (c.held) {
            session.hold(kStream);
        }
        EXPECT_EQ(session.playsStraightToDevice(graph, {kStream}, t0), c.straight) << c.what;
    }
    GraphState graph = graphWithStreams();
    TapSession session;
    EXPECT_FALSE(session.playsStraightToDevice(graph, {}, t0)) << "no streams";
    playStraightToDevice(graph, kStream, t0 - 1s);
    session.hold(kStream);
    EXPECT_FALSE(session.playsStraightToDevice(graph, {kStream, kPulseStream}, t0))
        << "one of two not playing";
    EXPECT_FALSE(session.playsStraightToDevice(graph, {kStream, 99}, t0)) << "one gone";
}

TEST(TapSessionTest, AStartNeverCompletedFailsAtItsDeadlineAndMayStartAgain) {
    const GraphState graph = graphWithStreams();
    for (const bool waitsForCarry : {false, true}) {
        TapSession session;
        ASSERT_TRUE(session.requestStart(t0));
        EXPECT_FALSE(session.requestStart(t0)) << "already starting";
        if (waitsForCarry) {
            session.advance({.sinkReady = true, .carriedByAnotherTap = true}, graph, {kStream}, t0);
            ASSERT_EQ(session.phase(), Phase::awaitingCarry);
        }
        session.hold(kStream);
        EXPECT_EQ(session.nextWake(graph), t0 + kStreamReadyTimeout);
        EXPECT_FALSE(session.expireStart(t0 + kStreamReadyTimeout - 1ms));
        EXPECT_TRUE(session.expireStart(t0 + kStreamReadyTimeout));
        EXPECT_EQ(session.phase(), Phase::idle);
        EXPECT_FALSE(session.nextWake(graph));
        EXPECT_EQ(session.takeHeld(), std::set<std::uint32_t>{kStream}) << "to be let go";
        EXPECT_TRUE(session.requestStart(t0 + 3s)) << "waitsForCarry " << waitsForCarry;
    }
    TapSession claiming;
    claiming.requestStart(t0);
    claiming.advance({.sinkReady = true}, graph, {kStream}, t0);
    EXPECT_FALSE(claiming.expireStart(t0 + 1h));
    EXPECT_FALSE(claiming.requestStart(t0 + 1h));
}

TEST(TapSessionTest, APulseStreamWaitsForItsAnswerEvenWhenItComesLate) {
    GraphState graph = graphWithStreams();
    // Only a stream of the PulseAudio server waits, and only until it has been
    // linked to a device for kPulseAnswerTime.
    EXPECT_FALSE(TapSession::awaitsPulseAnswer(graph, kStream, t0));
    EXPECT_FALSE(TapSession::awaitsPulseAnswer(graph, 99, t0));
    EXPECT_TRUE(TapSession::awaitsPulseAnswer(graph, kPulseStream, t0)) << "never linked";

    TapSession session;
    session.requestStart(t0);
    session.advance({.sinkReady = true}, graph, {kStream, kPulseStream}, t0);
    ASSERT_TRUE(session.isClaiming());
    EXPECT_FALSE(session.keepUnanswered(graph, kStream, t0));
    EXPECT_TRUE(session.keepUnanswered(graph, kPulseStream, t0));
    EXPECT_FALSE(session.nextWake(graph)) << "no time to wait for before its link";
    EXPECT_TRUE(session.takeAnswered(graph, t0 + 1s).empty()) << "a late link";

    const Clock::time_point linked = t0 + 1s;
    graph.nodes[kPulseStream].deviceLinkedSince = linked;
    EXPECT_EQ(session.nextWake(graph), linked + kPulseAnswerTime);
    EXPECT_TRUE(session.takeAnswered(graph, linked + kPulseAnswerTime - 1ms).empty());
    EXPECT_TRUE(session.isUnanswered(kPulseStream));
    EXPECT_EQ(session.takeAnswered(graph, linked + kPulseAnswerTime),
              std::vector<std::uint32_t>{kPulseStream});
    EXPECT_FALSE(session.isUnanswered(kPulseStream));
    EXPECT_FALSE(session.keepUnanswered(graph, kPulseStream, linked + kPulseAnswerTime));

    // A stream that goes while it waits is forgotten, and so is every one once
    // the tap no longer claims.
    graph.nodes[kPulseStream].deviceLinkedSince.reset();
    session.keepUnanswered(graph, kPulseStream, t0);
    graph.nodes.erase(kPulseStream);
    EXPECT_TRUE(session.takeAnswered(graph, t0).empty());
    EXPECT_FALSE(session.isUnanswered(kPulseStream));
}

TEST(TapSessionTest, AReleaseOrALostConnectionLeavesNothingWaiting) {
    const GraphState graph = graphWithStreams();
    TapSession session;
    session.requestStart(t0);
    session.advance({.sinkReady = true}, graph, {kPulseStream}, t0);
    session.keepUnanswered(graph, kPulseStream, t0);
    session.hold(kPulseStream);

    session.handBack(t0 + 5s);
    EXPECT_EQ(session.phase(), Phase::handedBack);
    EXPECT_EQ(session.deadline(), t0 + 5s + kRelinkTimeout);
    EXPECT_FALSE(session.isUnanswered(kPulseStream));
    EXPECT_FALSE(session.nextWake(graph)) << "the release has a watch of its own";
    EXPECT_FALSE(session.requestStart(t0 + 6s));
    EXPECT_TRUE(session.isHeld(kPulseStream)) << "let go by the backend, which knows the server";

    session.reset();
    EXPECT_EQ(session.phase(), Phase::idle);
    EXPECT_FALSE(session.isHeld(kPulseStream));
    EXPECT_FALSE(session.deadline());
    EXPECT_TRUE(session.requestStart(t0 + 7s)) << "starts again on the new connection";
}

} // namespace
} // namespace corvalle::pw
