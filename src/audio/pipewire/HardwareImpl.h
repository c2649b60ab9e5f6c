#pragma once

// The state behind PipeWireAudioHardware, shared by its source files. Every
// member of Impl except `listeners` is used with the loop's lock held.
//
// The words of a tap's life, here and in the source files:
// - tap: our node ("Corvalle-<uuid>", TapNode), a sink to the session manager
//   whose outputs we link to the device; the model runs its IO block in it
//   through an aggregate device.
// - start: the sink is made; once it exists the tap's streams are claimed. Its
//   phases, from a start to a release, are TapSession's (TapSession.h).
// - claim: a stream of a tapped process is taken into the tap. `claimed` keeps
//   the target it had; routing then sends it to our sink (target.object, or a
//   JACK client's links moved one by one).
// - carried: our node's outputs are linked to a device, so that what enters
//   our sink is heard; streams that already play move in only then (no gap).
// - hold: a stream still playing straight to its device during a start plays
//   at the tap's gain through its soft volumes, never louder than set.
// - unanswered: a new stream of the PulseAudio server, which must first be
//   linked to a device (that server answers its client only then), held meanwhile.
// - lane: another tap node, for the streams that chose an output of their own;
//   `waiting` holds those whose lane is not carried yet.
// - retire: a tap the model destroyed waits in `retiring` to hand back.
// - hand back: each claimed stream gets back the target it had; the tap then
//   waits in `releasing` until its streams have moved out (release).
#include "CA.h"
#include "GraphState.h"
#include "JackRoutes.h"
#include "PeakFilter.h"
#include "PipeWireAudioHardware.h"
#include "PwConnection.h"
#include "PwLoop.h"
#include "StreamReaper.h"
#include "TapNode.h"
#include "TapSession.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct spa_source;

namespace corvalle {

// Names of this backend alone, kept apart from the rest of the library.
inline namespace pipewire_backend {

inline constexpr AudioObjectID kFirstOwnObjectID = 0x40000000;
inline constexpr int kSyncTimeoutMs = 1000;
inline constexpr int kRelinkTimeoutMs = static_cast<int>(pw::kRelinkTimeout.count());
// How long a default output we asked for is told before the session manager
// has made it the default.
inline constexpr std::chrono::milliseconds kRequestedDefaultTimeout{1000};
inline bool isOwnName(const std::string& name) {
    return name.starts_with(CA::kPrivateDeviceUIDPrefix);
}

inline const std::string* property(const pw::Properties& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? nullptr : &it->second;
}

// The answer to one property read, before it is copied out.
struct Answer {
    OSStatus status = noErr;
    enum class Kind { ids, u32, i32, string } kind = Kind::u32;
    std::vector<AudioObjectID> ids;
    std::uint32_t u32 = 0;
    std::int32_t i32 = 0;
    std::optional<std::string> string;

    static Answer failure(OSStatus status) {
        Answer a;
        a.status = status;
        return a;
    }
    static Answer list(std::vector<AudioObjectID> ids) {
        Answer a;
        a.kind = Kind::ids;
        a.ids = std::move(ids);
        return a;
    }
    static Answer unsigned32(std::uint32_t value) {
        Answer a;
        a.u32 = value;
        return a;
    }
    static Answer signed32(std::int32_t value) {
        Answer a;
        a.kind = Kind::i32;
        a.i32 = value;
        return a;
    }
    static Answer text(std::optional<std::string> value) {
        Answer a;
        a.kind = Kind::string;
        a.string = std::move(value);
        return a;
    }
    std::uint32_t size() const {
        switch (kind) {
        case Kind::ids:
            return static_cast<std::uint32_t>(ids.size() * sizeof(AudioObjectID));
        case Kind::u32:
        case Kind::i32:
            return 4;
        case Kind::string:
            return sizeof(AudioStringRef);
        }
        return 0;
    }
};

struct IOProcRecord {
    AudioDeviceIOBlock block;
    bool started = false;
};

// A process tap: our sink and the streams moved into it.
struct TapObject {
    AudioObjectID id = kAudioObjectUnknown;
    std::string uuid;
    std::uint64_t generation = 0;
    std::set<std::uint32_t> clientIDs;
    std::unique_ptr<pw::TapNode> streams;
    // Moved stream node -> the target it had before (restored on release).
    std::map<std::uint32_t, std::optional<std::string>> claimed;
    // Where its start or release stands, and the streams it holds meanwhile.
    pw::TapSession session;
    // Streams that chose an output of their own play there through a lane: a
    // node of its own per output, by the output's node.name. The others play
    // through `streams`, to the aggregate's main device.
    std::map<std::string, std::unique_ptr<pw::TapNode>> lanes;
    // Claimed stream node -> the output of the lane it was moved to ("" for
    // `streams`); and streams whose lane is not linked yet, which stay where they
    // are until it is.
    std::map<std::uint32_t, std::string> laneOf;
    std::map<std::uint32_t, std::string> waiting;
    // The running IO block, and the description a lane's node takes after.
    const AudioDeviceIOBlock* block = nullptr;
    std::string playbackDescription;
    unsigned lanesMade = 0;
    // Every stream plays through `streams`, whatever it chose itself.
    bool overridesStreamOutputs = false;
};

struct AggregateObject {
    AudioObjectID id = kAudioObjectUnknown;
    AggregateDeviceDescription description;
    AudioObjectID tapID = kAudioObjectUnknown;
    std::vector<std::unique_ptr<IOProcRecord>> ioProcs;
};

} // namespace pipewire_backend

class PipeWireAudioHardware::Impl {
public:
    Impl(MainThreadPoster post, const Options& options);
    ~Impl();

    MainThreadPoster post;
    // Where listeners are told; the thread that made the backend.
    std::thread::id mainThreadID = std::this_thread::get_id();
    pw::ThreadLoop loop{"corvalle-pw"};
    std::unique_ptr<pw::Connection> connection;
    pw::StreamReaper reaper{loop};
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    // Main thread only.
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>,
             std::vector<AudioObjectPropertyListenerBlock>>
        listeners;
    // Under the loop's lock.
    std::map<AudioObjectID, std::unique_ptr<TapObject>> taps;
    // Clients whose untapped streams are sent to an output device (its node.name),
    // and each stream so moved with the target.object it had before.
    std::map<std::uint32_t, std::string> clientOutputs;
    std::map<std::uint32_t, std::optional<std::string>> movedFrom;
    std::map<AudioObjectID, std::unique_ptr<AggregateObject>> aggregates;
    std::vector<std::unique_ptr<TapObject>> retiring;
    std::vector<std::unique_ptr<AggregateObject>> retiredAggregates;
    std::vector<std::unique_ptr<TapObject>> releasing;
    // What we last wrote as target.object of each stream node. The metadata
    // belongs to the session manager, whose echo of our writes can trail them.
    std::map<std::uint32_t, std::string> ownTargets;
    // JACK clients in a tap or on an output chosen for them, moved link by link.
    pw::JackRoutes jackRoutes;
    bool releasePosted = false;
    // Processes whose level is measured; the node that measures their output
    // ports while there are any, and which process each measured port is of.
    std::set<AudioObjectID> meteredProcesses;
    std::unique_ptr<pw::PeakFilter> peakFilter;
    std::map<AudioObjectID, std::vector<std::uint32_t>> meteredPorts;
    std::uint64_t peakSyncPortChanges = 0;
    // The default output we asked for, told until the server's answer arrives.
    std::optional<std::string> requestedDefault;
    std::chrono::steady_clock::time_point requestedDefaultUntil;
    spa_source* startWatch = nullptr;
    spa_source* releaseWatch = nullptr;
    AudioObjectID nextOwnID = kFirstOwnObjectID;

    // HardwareImpl.cpp.
    void fire(AudioObjectID objectID, AudioObjectPropertySelector selector);
    TapObject* liveTap(AudioObjectID id);
    AggregateObject* liveAggregate(AudioObjectID id);
    AggregateObject* aggregateOf(const TapObject& tap) const;
    // Whether the tap's streams live on the connection we have now.
    bool isCurrent(const TapObject& tap) const;

    // What the connection reports: GraphEvents.cpp.
    void summaryChanged(const pw::GraphSummary& before, const pw::GraphSummary& after);
    void outputStreamAdded(std::uint32_t nodeID);
    void nodeAdded(std::uint32_t nodeID);
    void portAdded(std::uint32_t nodeID);
    void linkAdded(const pw::LinkRecord& link);
    void linkRemoved();
    // Lets every node of ours link its outputs to its device, or notice that
    // the device went: for each change of ports, links or devices.
    void linkOutputs();
    void streamVolumeChanged(std::uint32_t nodeID, bool byOthers);
    void disconnected();
    // Puts back the JACK links that a run of ours, killed while it had moved
    // them, left on record.
    void restoreRecordedJackLinks();

    // Levels: PeakMetering.cpp.
    OSStatus setPeakMetering(AudioObjectID processObjectID, bool on);
    void syncPeakPorts();
    float takeProcessPeak(AudioObjectID processObjectID);

    Answer answer(AudioObjectID objectID, const AudioObjectPropertyAddress& address);
    // A process object of the graph, or one whose level is being measured.
    bool isProcess(AudioObjectID objectID) const;
    OSStatus setDefaultOutput(AudioObjectID deviceID);
    AudioObjectID defaultOutputID();

    // A tap's start: TapStart.cpp. Moves a started tap's streams in as soon as
    // its session allows: at once when they are starting, else once our playback
    // stream is linked.
    void advanceStart(TapObject& tap);
    // Ends a start: the tap's streams move into it, and a tap it replaces goes.
    void moveStreamsIn(TapObject& tap);
    void claimAll(TapObject& tap);
    void claimNode(TapObject& tap, std::uint32_t nodeID);
    bool carriedByAnotherTap(const TapObject& tap) const;
    std::vector<std::uint32_t> outputStreamsOf(const TapObject& tap) const;
    void failStart(TapObject& tap);
    void holdAtGain(TapObject& tap, float gain);
    void holdNode(TapObject& tap, std::uint32_t nodeID, float gain);
    // The gain the tap's block applies, 1 before it runs.
    float heldGain(const TapObject& tap) const;
    void claimAnswered();
    void letGo(TapObject& tap, std::uint32_t nodeID);
    void letGoAll(TapObject& tap);
    void armStartWatch();
    static void onStartWatch(void* data, std::uint64_t expirations);

    // Where a claimed stream goes, and lanes, one per output a tapped stream
    // chose: TapRouting.cpp.
    std::optional<std::string> foreignTarget(std::uint32_t nodeID) const;
    void routeNode(TapObject& tap, std::uint32_t nodeID);
    pw::TapNode* laneFor(TapObject& tap, const std::string& output);
    void laneLinked(TapObject& tap, std::uint32_t playbackNodeID);
    void rerouteAll();
    void dropIdleLanes(TapObject& tap);
    // Runs `block` on the tap's streams and lanes; stopping it (nullptr) holds
    // what they play at `appliedGain` until the streams are back on their device.
    // The one block runs for each pair in every cycle and ramps from the gain it
    // applied last to the one set: with lanes, the first pair of a cycle ramps,
    // the others of that cycle play at the new gain already.
    void runBlock(TapObject& tap, const AudioDeviceIOBlock* block,
                  const std::atomic<float>* appliedGain = nullptr);
    static bool ownsSink(const TapObject& tap, const std::string& sinkName);
    bool linkedToTap(const TapObject& tap, std::uint32_t nodeID) const;
    void destroyLanes(TapObject& tap, bool settled);
    // The tap's streams and lanes go at once, as when their connection is gone.
    void destroyStreams(TapObject& tap);
    void targetChanged(std::uint32_t nodeID, bool inMetadata);
    void dropStaleTarget(std::uint32_t nodeID);
    void dropStaleTargets();

    // A tap's release: TapRelease.cpp.
    bool heldBackByPendingClaim(const TapObject& retired) const;
    void scheduleRelease();
    void releaseRetired();
    void release(pw::ThreadLoopLock& lock, TapObject& tap, bool waitForRelink);
    // Hands the streams back to their targets; true when some still have to move out.
    bool handBack(TapObject& tap);
    bool stillLinked(const TapObject& tap) const;
    void finishReleases();
    void armReleaseWatch();
    static void onReleaseWatch(void* data, std::uint64_t expirations);

    // Untapped streams sent to an output: ProcessOutputs.cpp.
    OSStatus setProcessOutput(AudioObjectID processObjectID, const std::string& deviceUID);
    void moveStream(std::uint32_t nodeID);
    TapObject* tapHolding(std::uint32_t nodeID) const;
    std::optional<std::string> outputChosenFor(std::uint32_t nodeID) const;
    // An untapped JACK client on the output chosen for it, else on its own.
    void placeJackNode(std::uint32_t nodeID);
    void placeJackNodes();
    void restoreMovedStreams(pw::ThreadLoopLock& lock);
};

} // namespace corvalle
