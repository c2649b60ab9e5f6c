#include "PipeWireAudioHardware.h"

#include "CA.h"
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

namespace {

OSStatus writeIDs(const std::vector<AudioObjectID>& ids, std::uint32_t* ioDataSize, void* outData) {
    const std::size_t fits = std::min<std::size_t>(*ioDataSize / sizeof(AudioObjectID), ids.size());
    if (fits > 0) {
        std::memcpy(outData, ids.data(), fits * sizeof(AudioObjectID));
    }
    *ioDataSize = static_cast<std::uint32_t>(fits * sizeof(AudioObjectID));
    return noErr;
}

template <typename T> OSStatus writeValue(T value, std::uint32_t* ioDataSize, void* outData) {
    if (*ioDataSize < sizeof(T)) {
        return kAudioHardwareBadPropertySizeError;
    }
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return noErr;
}

OSStatus writeString(const std::optional<std::string>& value, std::uint32_t* ioDataSize,
                     void* outData) {
    if (*ioDataSize < sizeof(AudioStringRef)) {
        return kAudioHardwareBadPropertySizeError;
    }
    AudioStringRef string = value ? new std::string(*value) : nullptr;
    std::memcpy(outData, &string, sizeof(AudioStringRef));
    *ioDataSize = sizeof(AudioStringRef);
    return noErr;
}

OSStatus writeAnswer(const Answer& a, std::uint32_t* ioDataSize, void* outData) {
    if (a.status != noErr) {
        return a.status;
    }
    switch (a.kind) {
    case Answer::Kind::ids:
        return writeIDs(a.ids, ioDataSize, outData);
    case Answer::Kind::u32:
        return writeValue(a.u32, ioDataSize, outData);
    case Answer::Kind::i32:
        return writeValue(a.i32, ioDataSize, outData);
    case Answer::Kind::string:
        return writeString(a.string, ioDataSize, outData);
    }
    return kAudioHardwareUnspecifiedError;
}

// The way into every call: the loop must run, and its lock is held until `call`
// returns. Templates, as Impl is private to the class.
template <typename Backend, typename Call> OSStatus runLocked(Backend& impl, Call call) {
    if (!impl.loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    const pw::ThreadLoopLock lock(impl.loop);
    return call();
}

// The same for a call on one of our objects, which `find` looks up under the lock.
template <typename Backend, typename Object, typename Call>
OSStatus runOnObject(Backend& impl, Object* (Backend::*find)(AudioObjectID), AudioObjectID id,
                     Call call) {
    return runLocked(impl, [&] {
        Object* object = (impl.*find)(id);
        return object == nullptr ? kAudioHardwareBadObjectError : call(*object);
    });
}

// Tells the device-list listeners on the main thread that one of ours came or went.
template <typename Backend> void postDevicesChanged(Backend& impl) {
    if (!impl.post) {
        return;
    }
    std::weak_ptr<int> token = impl.alive;
    impl.post([&impl, token] {
        if (!token.expired()) {
            impl.fire(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
        }
    });
}

} // namespace

PipeWireAudioHardware::PipeWireAudioHardware(MainThreadPoster post, const Options& options)
    : impl_(std::make_unique<Impl>(std::move(post), options)) {}

PipeWireAudioHardware::~PipeWireAudioHardware() = default;

bool PipeWireAudioHardware::isConnected() const {
    if (!impl_->loop.isValid()) {
        return false;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    return impl_->connection && impl_->connection->isConnected();
}

bool PipeWireAudioHardware::waitUntilConnected(int timeoutMs) {
    if (!impl_->loop.isValid()) {
        return false;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    const timespec deadline = lock.deadlineIn(timeoutMs);
    while (!(impl_->connection->isComplete() && impl_->connection->hasMetadata())) {
        if (!lock.waitUntil(deadline)) {
            return false;
        }
    }
    // Node and client details arrive after the globals: one more round trip.
    if (!impl_->connection->sync(lock, timeoutMs)) {
        return false;
    }
    impl_->dropStaleTargets();
    return true;
}

OSStatus PipeWireAudioHardware::getPropertyDataSize(AudioObjectID objectID,
                                                    const AudioObjectPropertyAddress& address,
                                                    std::uint32_t* outDataSize) {
    if (outDataSize == nullptr) {
        return kAudioParamError;
    }
    return runLocked(*impl_, [&] {
        if (address.selector == kAudioProcessPropertyOutputPeak) {
            if (!impl_->isProcess(objectID)) {
                return kAudioHardwareBadObjectError;
            }
            *outDataSize = sizeof(float);
            return noErr;
        }
        const Answer a = impl_->answer(objectID, address);
        if (a.status == noErr) {
            *outDataSize = a.size();
        }
        return a.status;
    });
}

OSStatus PipeWireAudioHardware::getPropertyData(AudioObjectID objectID,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t* ioDataSize, void* outData) {
    if (ioDataSize == nullptr || outData == nullptr) {
        return kAudioParamError;
    }
    return runLocked(*impl_, [&] {
        // Taken here, not in the answer, which a size query gives as well.
        if (address.selector == kAudioProcessPropertyOutputPeak) {
            if (!impl_->isProcess(objectID)) {
                return kAudioHardwareBadObjectError;
            }
            return writeValue(impl_->takeProcessPeak(objectID), ioDataSize, outData);
        }
        return writeAnswer(impl_->answer(objectID, address), ioDataSize, outData);
    });
}

OSStatus PipeWireAudioHardware::setPropertyData(AudioObjectID objectID,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t dataSize, const void* data) {
    if (address.selector == kAudioProcessPropertyOutputDevice) {
        if (data == nullptr || dataSize != sizeof(AudioStringRef)) {
            return kAudioHardwareBadPropertySizeError;
        }
        AudioStringRef uid = nullptr;
        std::memcpy(&uid, data, sizeof(AudioStringRef));
        if (uid == nullptr) {
            return kAudioParamError;
        }
        return runLocked(*impl_, [&] { return impl_->setProcessOutput(objectID, *uid); });
    }
    if (address.selector == kAudioProcessPropertyPeakMetering) {
        if (data == nullptr || dataSize != sizeof(std::uint32_t)) {
            return kAudioHardwareBadPropertySizeError;
        }
        std::uint32_t on = 0;
        std::memcpy(&on, data, sizeof(on));
        return runLocked(*impl_, [&] { return impl_->setPeakMetering(objectID, on != 0); });
    }
    if (objectID != kAudioObjectSystemObject ||
        address.selector != kAudioHardwarePropertyDefaultOutputDevice) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (data == nullptr || dataSize != sizeof(AudioObjectID)) {
        return kAudioHardwareBadPropertySizeError;
    }
    AudioObjectID deviceID = kAudioObjectUnknown;
    std::memcpy(&deviceID, data, sizeof(deviceID));
    return runLocked(*impl_, [&] {
        return impl_->connection->isConnected() ? impl_->setDefaultOutput(deviceID)
                                                : kAudioHardwareNotRunningError;
    });
}

OSStatus PipeWireAudioHardware::addPropertyListener(AudioObjectID objectID,
                                                    const AudioObjectPropertyAddress& address,
                                                    AudioObjectPropertyListenerBlock listener) {
    if (!listener) {
        return kAudioParamError;
    }
    assert(std::this_thread::get_id() == impl_->mainThreadID);
    impl_->listeners[{objectID, address.selector}].push_back(std::move(listener));
    return noErr;
}

OSStatus PipeWireAudioHardware::createProcessTap(const TapDescription& description,
                                                 AudioObjectID* outTapID) {
    if (outTapID == nullptr || description.uuid.empty()) {
        return kAudioParamError;
    }
    return runLocked(*impl_, [&] {
        pw::Connection& connection = *impl_->connection;
        if (!connection.isConnected()) {
            return kAudioHardwareNotRunningError;
        }
        auto tap = std::make_unique<TapObject>();
        tap->id = impl_->nextOwnID++;
        tap->uuid = description.uuid;
        tap->generation = connection.generation();
        // Processes that ended meanwhile are left out; the model rebuilds the tap
        // when its process set changes.
        for (const AudioObjectID processID : description.processes) {
            if (const pw::ClientRecord* client =
                    connection.graph().clientByProcessObject(processID)) {
                tap->clientIDs.insert(client->id);
            }
        }
        tap->streams = std::make_unique<pw::TapNode>(
            impl_->loop, connection, CA::kPrivateDeviceUIDPrefix + description.uuid,
            description.name, std::string("corvalle-") + description.uuid);
        const AudioObjectID tapID = tap->id;
        tap->streams->setStateListener([impl = impl_.get(), tapID] {
            if (TapObject* live = impl->liveTap(tapID)) {
                impl->advanceStart(*live);
            }
        });
        // Its streams connect with the aggregate, once the device whose channels they
        // carry is known.
        *outTapID = tap->id;
        impl_->taps[tap->id] = std::move(tap);
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::destroyProcessTap(AudioObjectID tapID) {
    return runOnObject(*impl_, &Impl::liveTap, tapID, [&](TapObject&) {
        // Released on the next turn of the main loop, so that a tap that replaces
        // this one in the same pass takes its streams over without a detour.
        impl_->retiring.push_back(std::move(impl_->taps.at(tapID)));
        impl_->taps.erase(tapID);
        for (auto& entry : impl_->aggregates) {
            if (entry.second->tapID == tapID) {
                entry.second->tapID = kAudioObjectUnknown;
            }
        }
        impl_->scheduleRelease();
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::createAggregateDevice(const AggregateDeviceDescription& description,
                                                      AudioObjectID* outDeviceID) {
    if (outDeviceID == nullptr || description.taps.empty()) {
        return kAudioParamError;
    }
    return runLocked(*impl_, [&] {
        pw::Connection& connection = *impl_->connection;
        if (!connection.isConnected()) {
            return kAudioHardwareNotRunningError;
        }
        TapObject* tap = nullptr;
        for (auto& entry : impl_->taps) {
            if (entry.second->uuid == description.taps.front().uid) {
                tap = entry.second.get();
            }
        }
        if (tap == nullptr || !tap->streams || tap->streams->hasPlayback() ||
            tap->generation != connection.generation()) {
            return kAudioHardwareBadObjectError;
        }
        const pw::NodeRecord* device =
            isOwnName(description.mainSubDevice)
                ? nullptr
                : connection.graph().deviceByName(description.mainSubDevice);
        if (device == nullptr) {
            return kAudioHardwareBadObjectError;
        }
        if (!tap->streams->connectCapture(pw::channelLayout(device->props)) ||
            !tap->streams->connectPlayback(description.mainSubDevice)) {
            tap->streams->destroy();
            return kAudioHardwareUnspecifiedError;
        }
        tap->overridesStreamOutputs = description.overridesStreamOutputs;
        tap->playbackDescription = description.name;
        auto aggregate = std::make_unique<AggregateObject>();
        aggregate->id = impl_->nextOwnID++;
        aggregate->description = description;
        aggregate->tapID = tap->id;
        *outDeviceID = aggregate->id;
        impl_->aggregates[aggregate->id] = std::move(aggregate);
        postDevicesChanged(*impl_);
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::destroyAggregateDevice(AudioObjectID deviceID) {
    return runOnObject(*impl_, &Impl::liveAggregate, deviceID, [&](AggregateObject& aggregate) {
        for (auto& proc : aggregate.ioProcs) {
            if (proc->started) {
                if (TapObject* tap = impl_->liveTap(aggregate.tapID); tap && tap->streams) {
                    impl_->runBlock(*tap, nullptr, aggregate.description.appliedGain);
                }
            }
        }
        // Its listeners end with it; aggregate IDs are never reused.
        std::erase_if(impl_->listeners,
                      [&](const auto& entry) { return entry.first.first == deviceID; });
        impl_->retiredAggregates.push_back(std::move(impl_->aggregates.at(deviceID)));
        impl_->aggregates.erase(deviceID);
        impl_->scheduleRelease();
        postDevicesChanged(*impl_);
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::createIOProcIDWithBlock(AudioObjectID deviceID,
                                                        AudioDeviceIOBlock block,
                                                        AudioDeviceIOProcID* outIOProcID) {
    if (outIOProcID == nullptr || !block) {
        return kAudioParamError;
    }
    return runOnObject(*impl_, &Impl::liveAggregate, deviceID, [&](AggregateObject& aggregate) {
        auto proc = std::make_unique<IOProcRecord>();
        proc->block = std::move(block);
        *outIOProcID = reinterpret_cast<AudioDeviceIOProcID>(proc.get());
        aggregate.ioProcs.push_back(std::move(proc));
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::destroyIOProcID(AudioObjectID deviceID,
                                                AudioDeviceIOProcID ioProcID) {
    return runOnObject(*impl_, &Impl::liveAggregate, deviceID, [&](AggregateObject& aggregate) {
        auto& procs = aggregate.ioProcs;
        const auto it = std::find_if(procs.begin(), procs.end(), [&](const auto& proc) {
            return reinterpret_cast<AudioDeviceIOProcID>(proc.get()) == ioProcID;
        });
        if (it == procs.end()) {
            return kAudioHardwareBadObjectError;
        }
        if ((*it)->started) {
            if (TapObject* tap = impl_->liveTap(aggregate.tapID); tap && tap->streams) {
                impl_->runBlock(*tap, nullptr, aggregate.description.appliedGain);
            }
        }
        procs.erase(it);
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    return runOnObject(*impl_, &Impl::liveAggregate, deviceID, [&](AggregateObject& aggregate) {
        IOProcRecord* proc = nullptr;
        for (auto& candidate : aggregate.ioProcs) {
            if (reinterpret_cast<AudioDeviceIOProcID>(candidate.get()) == ioProcID) {
                proc = candidate.get();
            }
        }
        TapObject* tap = impl_->liveTap(aggregate.tapID);
        if (proc == nullptr || tap == nullptr || !tap->streams) {
            return kAudioHardwareBadObjectError;
        }
        pw::TapNode& streams = *tap->streams;
        if (tap->generation != impl_->connection->generation() ||
            streams.captureState() == pw::TapNode::State::failed ||
            streams.playbackState() == pw::TapNode::State::failed) {
            return kAudioHardwareNotRunningError;
        }
        if (!proc->started) {
            impl_->runBlock(*tap, &proc->block);
            proc->started = true;
        }
        // The rest waits on the server: the loop thread moves the streams in once
        // our sink exists, and tells the aggregate dead if it never does.
        if (tap->session.requestStart(std::chrono::steady_clock::now())) {
            if (aggregate.description.appliedGain != nullptr) {
                impl_->holdAtGain(*tap, aggregate.description.appliedGain->load());
            }
            impl_->advanceStart(*tap);
            impl_->armStartWatch();
        }
        return noErr;
    });
}

OSStatus PipeWireAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    return runOnObject(*impl_, &Impl::liveAggregate, deviceID, [&](AggregateObject& aggregate) {
        for (auto& proc : aggregate.ioProcs) {
            if (reinterpret_cast<AudioDeviceIOProcID>(proc.get()) == ioProcID) {
                if (proc->started) {
                    if (TapObject* tap = impl_->liveTap(aggregate.tapID); tap && tap->streams) {
                        impl_->runBlock(*tap, nullptr, aggregate.description.appliedGain);
                    }
                    proc->started = false;
                }
                return noErr;
            }
        }
        return kAudioHardwareBadObjectError;
    });
}

} // namespace corvalle
