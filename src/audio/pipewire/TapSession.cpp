#include "TapSession.h"

#include <utility>

namespace corvalle::pw {

bool TapSession::requestStart(Clock::time_point now) {
    if (phase_ != Phase::idle) {
        return false;
    }
    phase_ = Phase::awaitingSink;
    deadline_ = now + kStreamReadyTimeout;
    return true;
}

TapSession::Step TapSession::advance(const StartFacts& facts, const GraphState& graph,
                                     const std::vector<std::uint32_t>& streams,
                                     Clock::time_point now) {
    if (phase_ == Phase::awaitingSink) {
        if (facts.streamsFailed) {
            fail();
            return Step::failed;
        }
        if (!facts.sinkReady) {
            return Step::none;
        }
        // Streams that are starting move in at once: until our node's outputs
        // are linked they are held silent, never heard at their own level for
        // longer than it takes. Streams another tap of ours carries, and
        // streams playing straight to their device held at the gain, wait for
        // the link, so that they go on being heard at their setting.
        if (!facts.carriedByAnotherTap && !playsStraightToDevice(graph, streams, now)) {
            phase_ = Phase::claiming;
            deadline_.reset();
            return Step::claim;
        }
        phase_ = Phase::awaitingCarry;
    }
    if (phase_ != Phase::awaitingCarry || !facts.playbackLinked) {
        return Step::none;
    }
    phase_ = Phase::claiming;
    deadline_.reset();
    return Step::claim;
}

bool TapSession::expireStart(Clock::time_point now) {
    if (!isStarting() || !deadline_ || now < *deadline_) {
        return false;
    }
    fail();
    return true;
}

void TapSession::fail() {
    phase_ = Phase::idle;
    deadline_.reset();
    unanswered_.clear();
}

void TapSession::handBack(Clock::time_point now) {
    phase_ = Phase::handedBack;
    deadline_ = now + kRelinkTimeout;
    unanswered_.clear();
}

void TapSession::reset() {
    phase_ = Phase::idle;
    deadline_.reset();
    held_.clear();
    unanswered_.clear();
}

std::set<std::uint32_t> TapSession::takeHeld() {
    return std::exchange(held_, {});
}

bool TapSession::keepUnanswered(const GraphState& graph, std::uint32_t nodeID,
                                Clock::time_point now) {
    if (awaitsPulseAnswer(graph, nodeID, now)) {
        unanswered_.insert(nodeID);
        return true;
    }
    unanswered_.erase(nodeID);
    return false;
}

std::vector<std::uint32_t> TapSession::takeAnswered(const GraphState& graph,
                                                    Clock::time_point now) {
    std::vector<std::uint32_t> answered;
    std::erase_if(unanswered_, [&](std::uint32_t nodeID) {
        if (!isClaiming() || graph.nodes.count(nodeID) == 0) {
            return true;
        }
        if (awaitsPulseAnswer(graph, nodeID, now)) {
            return false;
        }
        answered.push_back(nodeID);
        return true;
    });
    return answered;
}

std::optional<TapSession::Clock::time_point> TapSession::nextWake(const GraphState& graph) const {
    std::optional<Clock::time_point> next = isStarting() ? deadline_ : std::nullopt;
    for (const std::uint32_t nodeID : unanswered_) {
        const auto node = graph.nodes.find(nodeID);
        if (node != graph.nodes.end() && node->second.deviceLinkedSince) {
            const auto at = *node->second.deviceLinkedSince + kPulseAnswerTime;
            next = next && *next < at ? *next : at;
        }
    }
    return next;
}

bool TapSession::playsStraightToDevice(const GraphState& graph,
                                       const std::vector<std::uint32_t>& streams,
                                       Clock::time_point now) const {
    for (const std::uint32_t nodeID : streams) {
        const auto node = graph.nodes.find(nodeID);
        if (node == graph.nodes.end() || !node->second.running ||
            now - node->second.runningSince < kPlayingAfter || !graph.hasOutputLink(nodeID) ||
            !isHeld(nodeID)) {
            return false;
        }
    }
    return !streams.empty();
}

bool TapSession::awaitsPulseAnswer(const GraphState& graph, std::uint32_t nodeID,
                                   Clock::time_point now) {
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end() || !GraphState::isPulseStream(node->second)) {
        return false;
    }
    const auto& since = node->second.deviceLinkedSince;
    return !since || now - *since < kPulseAnswerTime;
}

} // namespace corvalle::pw
