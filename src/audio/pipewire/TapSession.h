#pragma once

// A tap's life on the server as one state machine: its start, the streams it
// holds at its gain meanwhile, the PulseAudio streams that wait for their
// answer, and its release. It decides from what it is told and from the
// registry view; the backend acts on its answers (moves streams, sets soft
// volumes, tells the aggregate dead). Nothing here talks to the server.
#include "GraphState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace corvalle::pw {

// How long a start may wait for our sink and for its outputs' links.
inline constexpr std::chrono::milliseconds kStreamReadyTimeout{2000};
// A stream running this long is playing, no longer starting: the session
// manager has linked it, and it is held at the tap's gain until it moves in.
inline constexpr std::chrono::milliseconds kPlayingAfter{250};
// How long a new stream of the PulseAudio server plays on its device before it
// moves into our sink: time for that server to see the link and answer its
// client, even when the session manager replaces the link at once.
inline constexpr std::chrono::milliseconds kPulseAnswerTime{50};
// How long a release waits for the session manager to move the streams out.
inline constexpr std::chrono::milliseconds kRelinkTimeout{1000};

// What a start step reads of our own streams and of the other taps.
struct StartFacts {
    bool streamsFailed = false;       // one of our streams failed, or the server restarted
    bool sinkReady = false;           // our sink's node is on the server
    bool playbackLinked = false;      // our node's outputs are linked to a device
    bool carriedByAnotherTap = false; // a stream of the process plays through another tap of ours
};

class TapSession {
public:
    using Clock = std::chrono::steady_clock;

    enum class Phase {
        idle,          // made, or its start failed: a start may be asked for
        awaitingSink,  // started: waits for our sink to exist
        awaitingCarry, // waits for our outputs' links before the streams move in
        claiming,      // the process's streams are in the tap; new ones join at once
        handedBack,    // retired: the streams have their targets back and move out
    };
    // What a start step did.
    enum class Step {
        none,   // nothing yet
        failed, // back to idle; the held streams are to be let go
        claim,  // now claiming: the process's streams move in
    };

    Phase phase() const { return phase_; }
    bool isStarting() const {
        return phase_ == Phase::awaitingSink || phase_ == Phase::awaitingCarry;
    }
    bool isClaiming() const { return phase_ == Phase::claiming; }
    // A start's deadline while starting, a release's once handed back.
    std::optional<Clock::time_point> deadline() const { return deadline_; }

    // Starts an idle tap; false in any other phase.
    bool requestStart(Clock::time_point now);
    // Takes a start as far as `facts` allow. `streams` are the process's
    // output streams, read only when it matters whether they already play.
    Step advance(const StartFacts& facts, const GraphState& graph,
                 const std::vector<std::uint32_t>& streams, Clock::time_point now);
    // Fails a start whose deadline has passed; true when it did.
    bool expireStart(Clock::time_point now);
    // Retired: the release waits until kRelinkTimeout from `now`.
    void handBack(Clock::time_point now);
    // The connection is gone, and every stream with it.
    void reset();

    // Streams held at the tap's gain while they still play straight to their
    // device. hold and letGo tell whether anything changed.
    bool hold(std::uint32_t nodeID) { return held_.insert(nodeID).second; }
    bool letGo(std::uint32_t nodeID) { return held_.erase(nodeID) > 0; }
    bool isHeld(std::uint32_t nodeID) const { return held_.count(nodeID) > 0; }
    // Forgets every held stream and returns them, to be let go.
    std::set<std::uint32_t> takeHeld();

    // Whether stream `nodeID` must wait for its PulseAudio answer before it
    // moves in; it is kept among the unanswered while it does.
    bool keepUnanswered(const GraphState& graph, std::uint32_t nodeID, Clock::time_point now);
    bool isUnanswered(std::uint32_t nodeID) const { return unanswered_.count(nodeID) > 0; }
    // The unanswered streams that may move in now; gone ones, and all of them
    // once the tap no longer claims, are forgotten.
    std::vector<std::uint32_t> takeAnswered(const GraphState& graph, Clock::time_point now);

    // When the start next needs a look: its deadline, or an answer's time.
    std::optional<Clock::time_point> nextWake(const GraphState& graph) const;

    // Whether every stream of `streams` plays straight to a device, has done so
    // for kPlayingAfter, and is held: it is then better moved in once our
    // node's outputs are linked, so that it goes on being heard.
    bool playsStraightToDevice(const GraphState& graph, const std::vector<std::uint32_t>& streams,
                               Clock::time_point now) const;
    // A stream of the PulseAudio server that has not been linked to a device
    // for kPulseAnswerTime yet.
    static bool awaitsPulseAnswer(const GraphState& graph, std::uint32_t nodeID,
                                  Clock::time_point now);

private:
    void fail();

    Phase phase_ = Phase::idle;
    std::optional<Clock::time_point> deadline_;
    std::set<std::uint32_t> held_;
    std::set<std::uint32_t> unanswered_;
};

} // namespace corvalle::pw
