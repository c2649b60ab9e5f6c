// The backend's life: the connection and the loop's timers made at the start,
// every tap handed back and every stream put back where it was at the end;
// listener delivery on the main thread, and the lookups of live objects.
#include "HardwareImpl.h"

#include "PipeWireKeys.h"

#include <algorithm>
#include <cassert>
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
    // The connection reports on the loop thread, or under our lock when we end
    // it; either way with the lock held.
    const auto underLock = [this](auto handler) {
        return [this, handler](auto&&... args) {
            assert(loop.isLockedHere());
            (this->*handler)(std::forward<decltype(args)>(args)...);
        };
    };
    pw::ConnectionEvents events;
    events.summaryChanged = underLock(&Impl::summaryChanged);
    events.nodeAdded = underLock(&Impl::nodeAdded);
    events.outputStreamAdded = underLock(&Impl::outputStreamAdded);
    events.linkAdded = underLock(&Impl::linkAdded);
    events.portAdded = underLock(&Impl::portAdded);
    events.streamVolumeChanged = underLock(&Impl::streamVolumeChanged);
    events.targetChanged = underLock(&Impl::targetChanged);
    events.linkRemoved = underLock(&Impl::linkRemoved);
    events.completed = underLock(&Impl::restoreRecordedJackLinks);
    events.disconnected = underLock(&Impl::disconnected);
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
    assert(std::this_thread::get_id() == mainThreadID);
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

void PipeWireAudioHardware::Impl::restoreRecordedJackLinks() {
    jackRoutes.restoreRecorded(*connection);
}

bool PipeWireAudioHardware::Impl::isCurrent(const TapObject& tap) const {
    return tap.generation == connection->generation() && connection->isConnected();
}

} // namespace corvalle
