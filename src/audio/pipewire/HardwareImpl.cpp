#include "HardwareImpl.h"

#include "PipeWireKeys.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

PipeWireAudioHardware::Impl::Impl(MainThreadPoster poster, const Options& options)
    : post(std::move(poster)) {
    if (!loop.isValid()) {
        return;
    }
    pw::ConnectionEvents events;
    events.summaryChanged = [this](const pw::GraphSummary& before, const pw::GraphSummary& after) {
        summaryChanged(before, after);
    };
    events.nodeAdded = [this](std::uint32_t nodeID) { nodeAdded(nodeID); };
    events.outputStreamAdded = [this](std::uint32_t nodeID) { outputStreamAdded(nodeID); };
    events.linkAdded = [this](const pw::LinkRecord& link) { linkAdded(link); };
    events.portAdded = [this](std::uint32_t nodeID) { portAdded(nodeID); };
    events.streamVolumeChanged = [this](std::uint32_t nodeID, bool byOthers) {
        streamVolumeChanged(nodeID, byOthers);
    };
    events.targetChanged = [this](std::uint32_t nodeID, bool inMetadata) {
        targetChanged(nodeID, inMetadata);
    };
    events.linkRemoved = [this] { finishReleases(); };
    events.completed = [this] { jackRoutes.restoreRecorded(*connection); };
    events.disconnected = [this] { disconnected(); };
    // Per user session, as the server it speaks of.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        jackRoutes.recordIn(std::filesystem::path(runtime) / "corvalle-jack-links");
    }
    pw::ThreadLoopLock lock(loop);
    startWatch = pw_loop_add_timer(loop.loop(), &Impl::onStartWatch, this);
    releaseWatch = pw_loop_add_timer(loop.loop(), &Impl::onReleaseWatch, this);
    connection = std::make_unique<pw::Connection>(loop, options.remoteName, std::move(events));
    connection->start();
}

PipeWireAudioHardware::Impl::~Impl() {
    if (!loop.isValid()) {
        return;
    }
    {
        pw::ThreadLoopLock lock(loop);
        restoreMovedStreams(lock);
        for (auto& [id, tap] : taps) {
            retiring.push_back(std::move(tap));
        }
        taps.clear();
        for (auto& retired : retiring) {
            release(lock, *retired, true);
        }
        retiring.clear();
        for (auto& handed : releasing) {
            if (handed->streams) {
                handed->streams->destroy();
            }
            destroyLanes(*handed, false);
        }
        releasing.clear();
        peakFilter.reset();
        reaper.destroyAll();
        aggregates.clear();
        retiredAggregates.clear();
        connection.reset();
        for (spa_source** watch : {&startWatch, &releaseWatch}) {
            if (*watch != nullptr) {
                pw_loop_destroy_source(loop.loop(), *watch);
                *watch = nullptr;
            }
        }
    }
    loop.stop();
}

void PipeWireAudioHardware::Impl::fire(AudioObjectID objectID,
                                       AudioObjectPropertySelector selector) {
    const auto it = listeners.find({objectID, selector});
    if (it == listeners.end()) {
        return;
    }
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    // A listener may add listeners: call a copy.
    const auto blocks = it->second;
    for (const auto& block : blocks) {
        block(1, &address);
    }
}

void PipeWireAudioHardware::Impl::summaryChanged(const pw::GraphSummary& before,
                                                 const pw::GraphSummary& after) {
    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> changes;
    if (before.devices != after.devices) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
        // A stream's own output went or came back.
        rerouteAll();
        placeJackNodes();
    }
    if (before.processes != after.processes) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
        if (!meteredProcesses.empty()) {
            syncPeakPorts();
        }
    }
    if (before.defaultOutput != after.defaultOutput) {
        // The server's own answer replaces any default we asked for.
        requestedDefault.reset();
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
    for (const auto& [processID, running] : after.runningOutput) {
        const auto old = before.runningOutput.find(processID);
        const bool wasRunning = old != before.runningOutput.end() && old->second;
        if (running != wasRunning) {
            changes.emplace_back(processID, kAudioProcessPropertyIsRunningOutput);
        }
    }
    if (changes.empty() || !post) {
        return;
    }
    std::weak_ptr<int> token = alive;
    post([this, token, changes = std::move(changes)] {
        if (token.expired()) {
            return;
        }
        for (const auto& [objectID, selector] : changes) {
            fire(objectID, selector);
        }
    });
}

void PipeWireAudioHardware::Impl::outputStreamAdded(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end()) {
        return;
    }
    const std::string* client = property(node->second.props, pw::keys::kClientID);
    if (client == nullptr) {
        return;
    }
    moveStream(nodeID);
    if (!meteredProcesses.empty()) {
        syncPeakPorts();
    }
    // A new stream of a tapped process joins its tap at once.
    for (auto& [id, tap] : taps) {
        for (const std::uint32_t clientID : tap->clientIDs) {
            if (tap->claiming && std::to_string(clientID) == *client) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::nodeAdded(std::uint32_t nodeID) {
    for (auto& [id, tap] : taps) {
        if (tap->startRequested && tap->streams && tap->streams->captureNodeID() == nodeID) {
            advanceStart(*tap);
        }
    }
}

// JACK clients wait for the ports of the sink or device they move into.
void PipeWireAudioHardware::Impl::portAdded(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    if (const auto node = graph.nodes.find(nodeID); !clientOutputs.empty() &&
                                                    node != graph.nodes.end() &&
                                                    pw::GraphState::isDevice(node->second)) {
        placeJackNodes();
    }
    for (auto& [id, tap] : taps) {
        bool intoTap = tap->streams && nodeID == tap->streams->captureNodeID();
        for (const auto& [output, lane] : tap->lanes) {
            intoTap = intoTap || nodeID == lane->captureNodeID();
        }
        if (!intoTap || !tap->claiming) {
            continue;
        }
        std::vector<std::uint32_t> jackNodes;
        for (const auto& [claimedID, previous] : tap->claimed) {
            const auto node = graph.nodes.find(claimedID);
            if (node != graph.nodes.end() && pw::GraphState::isJackNode(node->second)) {
                jackNodes.push_back(claimedID);
            }
        }
        for (const std::uint32_t jackNode : jackNodes) {
            routeNode(*tap, jackNode);
        }
    }
}

void PipeWireAudioHardware::Impl::linkAdded(const pw::LinkRecord& link) {
    for (const auto& [id, tap] : taps) {
        if (tap->unanswered.count(link.outputNodeID) > 0) {
            // The session manager may have restored the stream's volume meanwhile.
            if (tap->held.erase(link.outputNodeID) > 0) {
                holdNode(*tap, link.outputNodeID, heldGain(*tap));
            }
            armStartWatch();
        }
    }
    // A tapped JACK client that links itself to a device is moved on from there.
    const auto& graph = connection->graph();
    const auto source = graph.nodes.find(link.outputNodeID);
    const auto input = graph.nodes.find(link.inputNodeID);
    if (source != graph.nodes.end() && input != graph.nodes.end() &&
        pw::GraphState::isJackNode(source->second) && pw::GraphState::isDevice(input->second)) {
        for (auto& [id, tap] : taps) {
            if (tap->claiming && tap->claimed.count(link.outputNodeID) > 0) {
                routeNode(*tap, link.outputNodeID);
            }
        }
        if (!clientOutputs.empty() && tapHolding(link.outputNodeID) == nullptr) {
            placeJackNode(link.outputNodeID);
        }
    }
    // Our playback stream is linked: the tapped streams can move in without a gap.
    for (auto& [id, tap] : taps) {
        bool intoTap = tap->streams && link.inputNodeID == tap->streams->captureNodeID();
        for (const auto& [output, lane] : tap->lanes) {
            intoTap = intoTap || link.inputNodeID == lane->captureNodeID();
        }
        if (intoTap) {
            letGo(*tap, link.outputNodeID);
        }
        if (tap->claimPending && tap->streams &&
            tap->streams->playbackNodeID() == link.outputNodeID) {
            claimWhenCarried(*tap);
        }
        laneLinked(*tap, link.outputNodeID);
        dropIdleLanes(*tap);
    }
}

bool PipeWireAudioHardware::Impl::heldBackByPendingClaim(const TapObject& retired) const {
    if (retired.claimed.empty()) {
        return false;
    }
    for (const auto& [id, tap] : taps) {
        // Streams waiting for a lane of the new tap stay in the old one until then.
        const bool pending = tap->claimPending || tap->startRequested || !tap->waiting.empty();
        if (!pending || !tap->streams ||
            tap->streams->playbackState() == pw::TapStreams::State::failed) {
            continue;
        }
        for (const std::uint32_t clientID : tap->clientIDs) {
            if (retired.clientIDs.count(clientID) > 0) {
                return true;
            }
        }
    }
    return false;
}

void PipeWireAudioHardware::Impl::disconnected() {
    // Every stream of the old connection is gone with it; the taps read as dead.
    for (auto& [id, tap] : taps) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        destroyLanes(*tap, false);
        tap->claiming = false;
        tap->claimPending = false;
        tap->startRequested = false;
        tap->held.clear();
        tap->unanswered.clear();
        tap->claimed.clear();
    }
    for (auto& tap : retiring) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        destroyLanes(*tap, false);
        tap->claimed.clear();
    }
    for (auto& handed : releasing) {
        if (handed->streams) {
            handed->streams->destroy();
        }
        destroyLanes(*handed, false);
    }
    releasing.clear();
    reaper.destroyAll();
    jackRoutes.clear();
    ownTargets.clear();
    clientOutputs.clear();
    movedFrom.clear();
    // Process objects are new on the next connection.
    peakFilter.reset();
    meteredPorts.clear();
    meteredProcesses.clear();
}

TapObject* PipeWireAudioHardware::Impl::liveTap(AudioObjectID id) {
    const auto it = taps.find(id);
    return it == taps.end() ? nullptr : it->second.get();
}

AggregateObject* PipeWireAudioHardware::Impl::liveAggregate(AudioObjectID id) {
    const auto it = aggregates.find(id);
    return it == aggregates.end() ? nullptr : it->second.get();
}

void PipeWireAudioHardware::Impl::claimNode(TapObject& tap, std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end() || !tap.streams) {
        return;
    }
    const std::string* name = property(node->second.props, pw::keys::kNodeName);
    if (name != nullptr && isOwnName(*name)) {
        return;
    }
    if (awaitsPulseAnswer(nodeID, std::chrono::steady_clock::now())) {
        holdNode(tap, nodeID, heldGain(tap));
        tap.unanswered.insert(nodeID);
        armStartWatch();
        return;
    }
    tap.unanswered.erase(nodeID);
    if (tap.claimed.find(nodeID) == tap.claimed.end()) {
        tap.claimed[nodeID] = foreignTarget(nodeID);
    }
    routeNode(tap, nodeID);
}

AggregateObject* PipeWireAudioHardware::Impl::aggregateOf(const TapObject& tap) const {
    for (const auto& [id, aggregate] : aggregates) {
        if (aggregate->tapID == tap.id) {
            return aggregate.get();
        }
    }
    return nullptr;
}

float PipeWireAudioHardware::Impl::heldGain(const TapObject& tap) const {
    const AggregateObject* aggregate = aggregateOf(tap);
    return aggregate != nullptr && aggregate->description.appliedGain != nullptr
               ? aggregate->description.appliedGain->load()
               : 1.0F;
}

bool PipeWireAudioHardware::Impl::awaitsPulseAnswer(
    std::uint32_t nodeID, std::chrono::steady_clock::time_point now) const {
    const auto node = connection->graph().nodes.find(nodeID);
    if (node == connection->graph().nodes.end() || !pw::GraphState::isPulseStream(node->second)) {
        return false;
    }
    const auto& since = node->second.deviceLinkedSince;
    return !since || now - *since < kPulseAnswerTime;
}

// Moves in the streams of the PulseAudio server that have been linked to a
// device for long enough.
void PipeWireAudioHardware::Impl::claimAnswered() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : taps) {
        const std::set<std::uint32_t> waiting = tap->unanswered;
        for (const std::uint32_t nodeID : waiting) {
            if (!tap->claiming || connection->graph().nodes.count(nodeID) == 0) {
                tap->unanswered.erase(nodeID);
            } else if (!awaitsPulseAnswer(nodeID, now)) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::claimAll(TapObject& tap) {
    tap.claiming = true;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            claimNode(tap, nodeID);
        }
    }
}

bool PipeWireAudioHardware::Impl::carriedByAnotherTap(const TapObject& tap) const {
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            const auto target = ownTargets.find(nodeID);
            if (target != ownTargets.end() && !ownsSink(tap, target->second)) {
                return true;
            }
        }
    }
    return false;
}

bool PipeWireAudioHardware::Impl::playingStraightToDevice(const TapObject& tap) const {
    const auto& graph = connection->graph();
    const auto now = std::chrono::steady_clock::now();
    bool any = false;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : graph.outputStreamsOf(clientID)) {
            const pw::NodeRecord& node = graph.nodes.at(nodeID);
            if (!node.running || now - node.runningSince < kPlayingAfter ||
                !graph.hasOutputLink(nodeID) || tap.held.count(nodeID) == 0) {
                return false;
            }
            any = true;
        }
    }
    return any;
}

// Moves a waiting tap's streams in once our playback stream is linked, so that
// they go on being heard. (Its node runs only once sound reaches it.)
void PipeWireAudioHardware::Impl::claimWhenCarried(TapObject& tap) {
    if (!tap.claimPending || !tap.streams ||
        !connection->graph().hasOutputLink(tap.streams->playbackNodeID())) {
        return;
    }
    tap.claimPending = false;
    moveStreamsIn(tap);
}

void PipeWireAudioHardware::Impl::moveStreamsIn(TapObject& tap) {
    tap.startRequested = false;
    claimAll(tap);
    if (!retiring.empty()) {
        scheduleRelease();
    }
}

void PipeWireAudioHardware::Impl::advanceStart(TapObject& tap) {
    if (tap.claimPending) {
        claimWhenCarried(tap);
        return;
    }
    if (!tap.startRequested || tap.claiming || !tap.streams) {
        return;
    }
    pw::TapStreams& streams = *tap.streams;
    if (streams.captureState() == pw::TapStreams::State::failed ||
        streams.playbackState() == pw::TapStreams::State::failed ||
        tap.generation != connection->generation()) {
        failStart(tap);
        return;
    }
    if (streams.captureState() != pw::TapStreams::State::ready ||
        connection->graph().nodes.count(streams.captureNodeID()) == 0) {
        return;
    }
    // Streams that are starting move in at once: until our playback stream is
    // linked they are held silent, never heard at their own level for longer
    // than it takes. Streams another tap of ours carries, and streams playing
    // straight to their device at their own volume held at the gain, wait for
    // it, so that they go on being heard at their setting. (New streams of the
    // PulseAudio server first wait for their device: see claimNode.)
    if (carriedByAnotherTap(tap) || playingStraightToDevice(tap)) {
        tap.claimPending = true;
        claimWhenCarried(tap);
        return;
    }
    moveStreamsIn(tap);
}

// A stream that plays straight to its device is heard at its own level until
// the session manager has moved it into our sink; its soft volumes, set now,
// hold it at the tap's gain from its next cycle on. Its own volume stays as it
// was: the session manager stores that per application, for every stream
// that shares the key, and would keep our gain after us.
void PipeWireAudioHardware::Impl::holdAtGain(TapObject& tap, float gain) {
    if (!(gain < 1.0F) || !tap.streams) {
        return;
    }
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            holdNode(tap, nodeID, gain);
        }
    }
}

// A stream whose Props have not arrived yet is held once they do
// (streamVolumeChanged).
void PipeWireAudioHardware::Impl::holdNode(TapObject& tap, std::uint32_t nodeID, float gain) {
    const auto node = connection->graph().nodes.find(nodeID);
    // A JACK client's node has no volume of its own to hold.
    if (!(gain < 1.0F) || tap.held.count(nodeID) > 0 || ownTargets.count(nodeID) > 0 ||
        node == connection->graph().nodes.end() || !pw::GraphState::isAudioStream(node->second) ||
        linkedToTap(tap, nodeID)) {
        return;
    }
    tap.held.insert(nodeID);
    connection->setSoftVolume(nodeID, std::max(gain, 0.0F));
}

void PipeWireAudioHardware::Impl::letGo(TapObject& tap, std::uint32_t nodeID) {
    if (tap.held.erase(nodeID) > 0) {
        connection->setSoftVolume(nodeID, 1.0F);
    }
}

void PipeWireAudioHardware::Impl::letGoAll(TapObject& tap) {
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    for (const std::uint32_t nodeID : tap.held) {
        if (current) {
            connection->setSoftVolume(nodeID, 1.0F);
        }
    }
    tap.held.clear();
}

// Keeps a stream's soft volumes where they belong: at the tap's gain times its
// own volume while held; at its own volume otherwise. While held, any set of
// someone else's is answered, even one that reports nothing new: the session
// manager restores a new stream's stored volume as it appears, which undoes
// the soft volumes without changing a value. Letting go mends soft volumes that
// an earlier run of ours left when it was killed while holding, and ours when
// a change of the stream's own volume crossed our letting go.
void PipeWireAudioHardware::Impl::streamVolumeChanged(std::uint32_t nodeID, bool byOthers) {
    const auto node = connection->graph().nodes.find(nodeID);
    if (node == connection->graph().nodes.end() || !node->second.volume) {
        return;
    }
    const pw::StreamVolume& volume = *node->second.volume;
    for (const auto& [id, tap] : taps) {
        if (tap->held.count(nodeID) > 0) {
            const float gain = std::max(heldGain(*tap), 0.0F);
            if (byOthers || !volume.isSoftAt(gain)) {
                connection->setSoftVolume(nodeID, gain);
            }
            return;
        }
    }
    const bool leftOver = node->second.softSetByUs || !volume.isSoftUntouched();
    if (leftOver && !volume.isSoftAt(1.0F)) {
        connection->setSoftVolume(nodeID, 1.0F);
    }
}

void PipeWireAudioHardware::Impl::failStart(TapObject& tap) {
    tap.startRequested = false;
    tap.unanswered.clear();
    letGoAll(tap);
    const AggregateObject* aggregate = aggregateOf(tap);
    if (aggregate == nullptr || !post) {
        return;
    }
    const AudioObjectID aggregateID = aggregate->id;
    std::weak_ptr<int> token = alive;
    post([this, token, aggregateID] {
        if (!token.expired()) {
            fire(aggregateID, kAudioDevicePropertyDeviceIsAlive);
        }
    });
}

void PipeWireAudioHardware::Impl::armStartWatch() {
    if (startWatch == nullptr) {
        return;
    }
    std::optional<std::chrono::steady_clock::time_point> next;
    const auto sooner = [&](std::chrono::steady_clock::time_point at) {
        if (!next || at < *next) {
            next = at;
        }
    };
    for (const auto& [id, tap] : taps) {
        if (tap->startRequested) {
            sooner(tap->startDeadline);
        }
        for (const std::uint32_t nodeID : tap->unanswered) {
            const auto node = connection->graph().nodes.find(nodeID);
            if (node != connection->graph().nodes.end() && node->second.deviceLinkedSince) {
                sooner(*node->second.deviceLinkedSince + kPulseAnswerTime);
            }
        }
    }
    timespec value{};
    if (next) {
        const auto wait = std::max<std::chrono::nanoseconds>(
            *next - std::chrono::steady_clock::now(), std::chrono::nanoseconds(1));
        value.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
        value.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    }
    pw_loop_update_timer(loop.loop(), startWatch, &value, nullptr, false);
}

void PipeWireAudioHardware::Impl::onStartWatch(void* data, std::uint64_t) {
    auto* self = static_cast<Impl*>(data);
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : self->taps) {
        if (tap->startRequested && now >= tap->startDeadline) {
            self->failStart(*tap);
        }
    }
    self->claimAnswered();
    self->armStartWatch();
}

void PipeWireAudioHardware::Impl::scheduleRelease() {
    if (releasePosted) {
        return;
    }
    releasePosted = true;
    std::weak_ptr<int> token = alive;
    auto task = [this, token] {
        if (!token.expired()) {
            releaseRetired();
        }
    };
    if (post) {
        post(task);
    } else {
        task();
    }
}

void PipeWireAudioHardware::Impl::releaseRetired() {
    pw::ThreadLoopLock lock(loop);
    releasePosted = false;
    // Aggregates whose tap lives on: that tap is muted from now on.
    for (auto& aggregate : retiredAggregates) {
        if (TapObject* tap = liveTap(aggregate->tapID); tap != nullptr && tap->streams) {
            tap->streams->destroyPlayback();
            for (auto& [output, lane] : tap->lanes) {
                lane->destroyPlayback();
            }
        }
    }
    retiredAggregates.clear();
    // A tap whose streams a newer tap is about to take over keeps them until then.
    std::vector<std::unique_ptr<TapObject>> pending;
    std::vector<std::unique_ptr<TapObject>> kept;
    for (auto& tap : retiring) {
        (heldBackByPendingClaim(*tap) ? kept : pending).push_back(std::move(tap));
    }
    retiring = std::move(kept);
    // Nothing here waits on the server: streams still linked to our sink are
    // waited for on the loop thread.
    for (auto& tap : pending) {
        if (handBack(*tap)) {
            tap->releaseDeadline = std::chrono::steady_clock::now() + kRelinkTimeout;
            releasing.push_back(std::move(tap));
        } else {
            release(lock, *tap, false);
        }
    }
    finishReleases();
    armReleaseWatch();
}

bool PipeWireAudioHardware::Impl::handBack(TapObject& tap) {
    if (!tap.streams) {
        return false;
    }
    tap.claiming = false;
    tap.claimPending = false;
    tap.startRequested = false;
    tap.unanswered.clear();
    letGoAll(tap);
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    if (!current || tap.claimed.empty()) {
        return false;
    }
    for (const auto& [nodeID, previous] : tap.claimed) {
        const auto target = ownTargets.find(nodeID);
        if (target == ownTargets.end() || !ownsSink(tap, target->second)) {
            continue;
        }
        ownTargets.erase(target);
        const auto node = connection->graph().nodes.find(nodeID);
        if (node == connection->graph().nodes.end()) {
            continue;
        }
        if (pw::GraphState::isJackNode(node->second)) {
            placeJackNode(nodeID);
            continue;
        }
        connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                previous ? previous->c_str() : nullptr);
    }
    return stillLinked(tap);
}

bool PipeWireAudioHardware::Impl::stillLinked(const TapObject& tap) const {
    if (!tap.streams || !connection->isConnected()) {
        return false;
    }
    for (const auto& [nodeID, previous] : tap.claimed) {
        if (linkedToTap(tap, nodeID)) {
            return true;
        }
    }
    return false;
}

void PipeWireAudioHardware::Impl::finishReleases() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<TapObject>> done;
    std::erase_if(releasing, [&](auto& tap) {
        if (stillLinked(*tap) && now < tap->releaseDeadline) {
            return false;
        }
        done.push_back(std::move(tap));
        return true;
    });
    for (auto& tap : done) {
        tap->claimed.clear();
        for (auto& [output, lane] : tap->lanes) {
            reaper.destroyAfterEvent(std::move(lane));
        }
        tap->lanes.clear();
        reaper.destroyAfterEvent(std::move(tap->streams));
    }
}

void PipeWireAudioHardware::Impl::armReleaseWatch() {
    if (releaseWatch == nullptr) {
        return;
    }
    timespec value{};
    if (!releasing.empty()) {
        auto next = releasing.front()->releaseDeadline;
        for (const auto& tap : releasing) {
            next = std::min(next, tap->releaseDeadline);
        }
        const auto wait = std::max<std::chrono::nanoseconds>(
            next - std::chrono::steady_clock::now(), std::chrono::nanoseconds(1));
        value.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
        value.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    }
    pw_loop_update_timer(loop.loop(), releaseWatch, &value, nullptr, false);
}

void PipeWireAudioHardware::Impl::onReleaseWatch(void* data, std::uint64_t) {
    auto* self = static_cast<Impl*>(data);
    self->finishReleases();
    self->armReleaseWatch();
}

void PipeWireAudioHardware::Impl::release(pw::ThreadLoopLock& lock, TapObject& tap,
                                          bool waitForRelink) {
    if (!tap.streams) {
        return;
    }
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    const bool handedBack = current && !tap.claimed.empty();
    handBack(tap);
    // The metadata writes reach the server before our streams go away.
    if (handedBack && connection->sync(lock, kSyncTimeoutMs) && waitForRelink) {
        const timespec deadline = lock.deadlineIn(kRelinkTimeoutMs);
        while (stillLinked(tap)) {
            if (!lock.waitUntil(deadline)) {
                break;
            }
        }
    }
    tap.claimed.clear();
    destroyLanes(tap, current);
    if (current) {
        reaper.destroyWhenSettled(std::move(tap.streams));
    } else {
        tap.streams->destroy();
    }
    tap.streams.reset();
}

} // namespace corvalle
