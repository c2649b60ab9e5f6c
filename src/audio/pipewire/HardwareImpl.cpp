// The backend's life: the connection and the loop's timers made at the start,
// every tap handed back and every stream put back where it was at the end;
// listener delivery on the main thread, and the lookups of live objects.
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
            destroyStreams(*handed);
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

TapObject* PipeWireAudioHardware::Impl::liveTap(AudioObjectID id) {
    const auto it = taps.find(id);
    return it == taps.end() ? nullptr : it->second.get();
}

AggregateObject* PipeWireAudioHardware::Impl::liveAggregate(AudioObjectID id) {
    const auto it = aggregates.find(id);
    return it == aggregates.end() ? nullptr : it->second.get();
}

AggregateObject* PipeWireAudioHardware::Impl::aggregateOf(const TapObject& tap) const {
    for (const auto& [id, aggregate] : aggregates) {
        if (aggregate->tapID == tap.id) {
            return aggregate.get();
        }
    }
    return nullptr;
}

} // namespace corvalle
