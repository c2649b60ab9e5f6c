#include "SimulatedAudioHardware.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace corvalle {

namespace {

using PropertyKey = std::pair<AudioObjectID, AudioObjectPropertySelector>;

struct Listener {
    AudioObjectID objectID = kAudioObjectUnknown;
    AudioObjectPropertyAddress address;
    AudioObjectPropertyListenerBlock block;
};

struct IOProc {
    AudioObjectID deviceID = kAudioObjectUnknown;
    AudioDeviceIOBlock block;
};

// IO proc IDs are opaque handles that are never dereferenced.
AudioDeviceIOProcID ioProcHandle(std::uintptr_t serial) {
    return reinterpret_cast<AudioDeviceIOProcID>( // NOLINT(performance-no-int-to-ptr)
        serial * alignof(std::max_align_t));
}

constexpr std::uint32_t kIDSize = sizeof(AudioObjectID);
constexpr std::uint32_t kStringSize = sizeof(AudioStringRef);

} // namespace

struct SimulatedAudioHardware::State {
    AudioObjectID nextID = 2; // 1 is the system object
    std::uintptr_t nextIOProc = 1;

    std::map<AudioObjectID, SimDevice> devices;
    std::map<AudioObjectID, SimProcess> processes;
    // Processes whose level is measured, with the peak held since the last read.
    std::map<AudioObjectID, float> metered;
    std::uint32_t peakPeriodMicroseconds = 0;
    // 'dev#' order: devices and aggregate devices as they were added.
    std::vector<AudioObjectID> deviceOrder;
    std::vector<AudioObjectID> processOrder;
    AudioObjectID defaultOutput = kAudioObjectUnknown;
    bool acceptsDefaultOutputChange = true;

    std::map<PropertyKey, OSStatus> propertyFailures;
    std::set<PropertyKey> nullStrings;
    std::map<SimCall, OSStatus> callFailures;

    std::vector<Listener> listeners;

    // Guards the IO procs against a cycle run from another thread: like a real
    // device, stopping or destroying waits for the running cycle to end.
    std::mutex ioMutex;
    std::map<AudioDeviceIOProcID, IOProc> ioProcs;
};

SimulatedAudioHardware::SimulatedAudioHardware(MainThreadPoster post)
    : post_(std::move(post)), state_(std::make_unique<State>()) {}

SimulatedAudioHardware::~SimulatedAudioHardware() = default;

// --- the world -----------------------------------------------------------

AudioObjectID SimulatedAudioHardware::addDevice(SimDevice device) {
    const AudioObjectID id = state_->nextID++;
    state_->devices.emplace(id, std::move(device));
    state_->deviceOrder.push_back(id);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    return id;
}

void SimulatedAudioHardware::removeDevice(AudioObjectID deviceID) {
    if (state_->devices.erase(deviceID) == 0) {
        return;
    }
    std::erase(state_->deviceOrder, deviceID);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    if (state_->defaultOutput == deviceID) {
        // The system falls back to the first remaining device that can play.
        AudioObjectID fallback = kAudioObjectUnknown;
        for (const AudioObjectID id : state_->deviceOrder) {
            const auto it = state_->devices.find(id);
            if (it != state_->devices.end() && it->second.outputStreams > 0) {
                fallback = id;
                break;
            }
        }
        state_->defaultOutput = fallback;
        fire(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
}

void SimulatedAudioHardware::renameDevice(AudioObjectID deviceID, std::optional<std::string> name) {
    const auto it = state_->devices.find(deviceID);
    if (it == state_->devices.end()) {
        return;
    }
    it->second.name = std::move(name);
    fire(deviceID, kAudioObjectPropertyName);
}

void SimulatedAudioHardware::setDefaultOutput(AudioObjectID deviceID) {
    state_->defaultOutput = deviceID;
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
}

AudioObjectID SimulatedAudioHardware::defaultOutput() const {
    return state_->defaultOutput;
}

AudioObjectID SimulatedAudioHardware::addProcess(SimProcess process) {
    const AudioObjectID id = state_->nextID++;
    state_->processes.emplace(id, std::move(process));
    state_->processOrder.push_back(id);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    return id;
}

void SimulatedAudioHardware::removeProcess(AudioObjectID processID) {
    if (state_->processes.erase(processID) == 0) {
        return;
    }
    std::erase(state_->processOrder, processID);
    state_->metered.erase(processID);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
}

void SimulatedAudioHardware::playPeak(AudioObjectID processID, float peak) {
    if (const auto held = state_->metered.find(processID); held != state_->metered.end()) {
        held->second = std::max(held->second, peak);
    }
}

void SimulatedAudioHardware::setPeakPeriod(std::chrono::microseconds period) {
    state_->peakPeriodMicroseconds = static_cast<std::uint32_t>(period.count());
}

bool SimulatedAudioHardware::isMetered(AudioObjectID processID) const {
    return state_->metered.contains(processID);
}

std::size_t SimulatedAudioHardware::meteredCount() const {
    return state_->metered.size();
}

void SimulatedAudioHardware::setRunningOutput(AudioObjectID processID, bool running) {
    const auto it = state_->processes.find(processID);
    if (it == state_->processes.end()) {
        return;
    }
    it->second.runningOutput = running;
    fire(processID, kAudioProcessPropertyIsRunningOutput);
}

void SimulatedAudioHardware::setRunningCall(AudioObjectID processID, bool running) {
    const auto it = state_->processes.find(processID);
    if (it == state_->processes.end()) {
        return;
    }
    it->second.runningCall = running;
    fire(processID, kAudioProcessPropertyIsRunningCall);
    if (running && !it->second.runningOutput) {
        setRunningOutput(processID, true);
    }
}

void SimulatedAudioHardware::setBundleID(AudioObjectID processID,
                                         std::optional<std::string> bundleID) {
    const auto it = state_->processes.find(processID);
    if (it != state_->processes.end()) {
        it->second.bundleID = std::move(bundleID);
    }
}

void SimulatedAudioHardware::moveProcess(AudioObjectID processID, std::size_t index) {
    auto& order = state_->processOrder;
    const auto it = std::find(order.begin(), order.end(), processID);
    if (it == order.end()) {
        return;
    }
    order.erase(it);
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(std::min(index, order.size())),
                 processID);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
}

void SimulatedAudioHardware::setPropertyFailure(AudioObjectID objectID,
                                                AudioObjectPropertySelector selector,
                                                std::optional<OSStatus> status) {
    const PropertyKey key{objectID, selector};
    if (status == noErr) {
        state_->propertyFailures.erase(key);
        state_->nullStrings.insert(key);
    } else if (status) {
        state_->propertyFailures[key] = *status;
    } else {
        state_->propertyFailures.erase(key);
        state_->nullStrings.erase(key);
    }
}

void SimulatedAudioHardware::setNullString(AudioObjectID objectID,
                                           AudioObjectPropertySelector selector, bool null) {
    const PropertyKey key{objectID, selector};
    if (null) {
        state_->nullStrings.insert(key);
    } else {
        state_->nullStrings.erase(key);
    }
}

void SimulatedAudioHardware::failDevice(AudioObjectID deviceID) {
    fire(deviceID, kAudioDevicePropertyDeviceIsAlive);
}

void SimulatedAudioHardware::setCallFailure(SimCall call, OSStatus status) {
    if (status == noErr) {
        state_->callFailures.erase(call);
    } else {
        state_->callFailures[call] = status;
    }
}

void SimulatedAudioHardware::setAcceptsDefaultOutputChange(bool accepts) {
    state_->acceptsDefaultOutputChange = accepts;
}

// --- inspection ------------------------------------------------------------

std::size_t SimulatedAudioHardware::callCount(SimCall call) const {
    return static_cast<std::size_t>(std::count_if(
        calls_.begin(), calls_.end(), [call](const SimCallRecord& r) { return r.call == call; }));
}

std::size_t SimulatedAudioHardware::callCount() const {
    return calls_.size();
}

void SimulatedAudioHardware::clearCalls() {
    calls_.clear();
}

std::size_t SimulatedAudioHardware::listenerCount(AudioObjectID objectID,
                                                  AudioObjectPropertySelector selector) const {
    return static_cast<std::size_t>(
        std::count_if(state_->listeners.begin(), state_->listeners.end(), [&](const Listener& l) {
            return l.objectID == objectID && l.address.selector == selector;
        }));
}

std::size_t SimulatedAudioHardware::ioProcCount() const {
    const std::lock_guard lock(state_->ioMutex);
    return state_->ioProcs.size();
}

void SimulatedAudioHardware::runIOCycle(AudioObjectID deviceID, const AudioBufferList& input,
                                        AudioBufferList& output) {
    const std::lock_guard lock(state_->ioMutex);
    const auto it = aggregates_.find(deviceID);
    if (it == aggregates_.end()) {
        return;
    }
    const AudioTimeStamp now{};
    for (const AudioDeviceIOProcID procID : it->second.ioProcs) {
        const auto& started = it->second.started;
        if (std::find(started.begin(), started.end(), procID) == started.end()) {
            continue;
        }
        const auto proc = state_->ioProcs.find(procID);
        if (proc != state_->ioProcs.end() && proc->second.block) {
            proc->second.block(&now, &input, &now, &output, &now);
        }
    }
}

// --- AudioHardware -----------------------------------------------------------

OSStatus SimulatedAudioHardware::getPropertyDataSize(AudioObjectID objectID,
                                                     const AudioObjectPropertyAddress& address,
                                                     std::uint32_t* outDataSize) {
    record(SimCall::getPropertyDataSize, objectID, address.selector);
    if (const auto failure = failureOf(SimCall::getPropertyDataSize)) {
        return *failure;
    }
    if (outDataSize == nullptr) {
        return kAudioParamError;
    }
    Value value;
    const OSStatus status = read(objectID, address, value);
    if (status != noErr) {
        return status;
    }
    *outDataSize =
        value.isString ? kStringSize : static_cast<std::uint32_t>(value.ids.size() * kIDSize);
    return noErr;
}

OSStatus SimulatedAudioHardware::getPropertyData(AudioObjectID objectID,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::uint32_t* ioDataSize, void* outData) {
    record(SimCall::getPropertyData, objectID, address.selector);
    if (const auto failure = failureOf(SimCall::getPropertyData)) {
        return *failure;
    }
    if (ioDataSize == nullptr || outData == nullptr) {
        return kAudioParamError;
    }
    Value value;
    const OSStatus status = read(objectID, address, value);
    if (status != noErr) {
        return status;
    }
    if (value.isString) {
        if (*ioDataSize < kStringSize) {
            return kAudioHardwareBadPropertySizeError;
        }
        AudioStringRef ref = value.text ? new std::string(*value.text) : nullptr;
        std::memcpy(outData, &ref, kStringSize);
        *ioDataSize = kStringSize;
        return noErr;
    }
    if (value.isScalar) {
        if (*ioDataSize < kIDSize) {
            return kAudioHardwareBadPropertySizeError;
        }
        std::memcpy(outData, value.ids.data(), kIDSize);
        *ioDataSize = kIDSize;
        // Reading a level starts its measurement over; asking for its size does not.
        if (address.selector == kAudioProcessPropertyOutputPeak) {
            if (const auto held = state_->metered.find(objectID); held != state_->metered.end()) {
                held->second = 0.0F;
            }
        }
        return noErr;
    }
    // Lists: as many whole entries as fit.
    const std::size_t fit = std::min<std::size_t>(*ioDataSize / kIDSize, value.ids.size());
    if (fit > 0) {
        std::memcpy(outData, value.ids.data(), fit * kIDSize);
    }
    *ioDataSize = static_cast<std::uint32_t>(fit * kIDSize);
    return noErr;
}

OSStatus SimulatedAudioHardware::setPropertyData(AudioObjectID objectID,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::uint32_t dataSize, const void* data) {
    record(SimCall::setPropertyData, objectID, address.selector);
    if (const auto failure = failureOf(SimCall::setPropertyData)) {
        return *failure;
    }
    if (const auto process = state_->processes.find(objectID);
        process != state_->processes.end() &&
        address.selector == kAudioProcessPropertyOutputDevice) {
        if (dataSize != sizeof(AudioStringRef) || data == nullptr) {
            return kAudioHardwareBadPropertySizeError;
        }
        AudioStringRef uid = nullptr;
        std::memcpy(&uid, data, sizeof(AudioStringRef));
        if (uid == nullptr) {
            return kAudioParamError;
        }
        process->second.sentTo = *uid;
        return noErr;
    }
    if (address.selector == kAudioProcessPropertyPeakMetering &&
        state_->processes.contains(objectID)) {
        if (dataSize != kIDSize || data == nullptr) {
            return kAudioHardwareBadPropertySizeError;
        }
        std::uint32_t on = 0;
        std::memcpy(&on, data, kIDSize);
        if (on == 0) {
            state_->metered.erase(objectID);
        } else {
            state_->metered.try_emplace(objectID, 0.0F);
        }
        return noErr;
    }
    if (objectID != kAudioObjectSystemObject) {
        return isKnownObject(objectID) ? kAudioHardwareUnknownPropertyError
                                       : kAudioHardwareBadObjectError;
    }
    if (address.selector != kAudioHardwarePropertyDefaultOutputDevice) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (dataSize != kIDSize || data == nullptr) {
        return kAudioHardwareBadPropertySizeError;
    }
    AudioObjectID deviceID = kAudioObjectUnknown;
    std::memcpy(&deviceID, data, kIDSize);
    const auto it = state_->devices.find(deviceID);
    if (it == state_->devices.end() || it->second.outputStreams == 0) {
        return kAudioHardwareIllegalOperationError;
    }
    if (!state_->acceptsDefaultOutputChange) {
        return kAudioHardwareIllegalOperationError;
    }
    setDefaultOutput(deviceID);
    return noErr;
}

OSStatus SimulatedAudioHardware::addPropertyListener(AudioObjectID objectID,
                                                     const AudioObjectPropertyAddress& address,
                                                     AudioObjectPropertyListenerBlock listener) {
    record(SimCall::addPropertyListener, objectID, address.selector);
    if (const auto failure = failureOf(SimCall::addPropertyListener)) {
        return *failure;
    }
    if (!isKnownObject(objectID)) {
        return kAudioHardwareBadObjectError;
    }
    if (!listener) {
        return kAudioParamError;
    }
    state_->listeners.push_back(Listener{objectID, address, std::move(listener)});
    return noErr;
}

OSStatus SimulatedAudioHardware::createProcessTap(const TapDescription& description,
                                                  AudioObjectID* outTapID) {
    record(SimCall::createProcessTap, kAudioObjectUnknown, 0);
    if (const auto failure = failureOf(SimCall::createProcessTap)) {
        return *failure;
    }
    if (outTapID == nullptr) {
        return kAudioParamError;
    }
    const AudioObjectID id = state_->nextID++;
    taps_.emplace(id, SimTap{id, description});
    *outTapID = id;
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyProcessTap(AudioObjectID tapID) {
    record(SimCall::destroyProcessTap, tapID, 0);
    if (const auto failure = failureOf(SimCall::destroyProcessTap)) {
        return *failure;
    }
    return taps_.erase(tapID) == 1 ? noErr : kAudioHardwareBadObjectError;
}

OSStatus
SimulatedAudioHardware::createAggregateDevice(const AggregateDeviceDescription& description,
                                              AudioObjectID* outDeviceID) {
    record(SimCall::createAggregateDevice, kAudioObjectUnknown, 0);
    if (const auto failure = failureOf(SimCall::createAggregateDevice)) {
        return *failure;
    }
    if (outDeviceID == nullptr) {
        return kAudioParamError;
    }
    const AudioObjectID id = state_->nextID++;
    {
        const std::lock_guard lock(state_->ioMutex);
        aggregates_.emplace(id, SimAggregate{id, description, {}, {}});
    }
    state_->deviceOrder.push_back(id);
    *outDeviceID = id;
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyAggregateDevice(AudioObjectID deviceID) {
    record(SimCall::destroyAggregateDevice, deviceID, 0);
    if (const auto failure = failureOf(SimCall::destroyAggregateDevice)) {
        return *failure;
    }
    {
        const std::lock_guard lock(state_->ioMutex);
        const auto it = aggregates_.find(deviceID);
        if (it == aggregates_.end()) {
            return kAudioHardwareBadObjectError;
        }
        for (const AudioDeviceIOProcID procID : it->second.ioProcs) {
            state_->ioProcs.erase(procID);
        }
        aggregates_.erase(it);
    }
    std::erase(state_->deviceOrder, deviceID);
    fire(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    return noErr;
}

OSStatus SimulatedAudioHardware::createIOProcIDWithBlock(AudioObjectID deviceID,
                                                         AudioDeviceIOBlock block,
                                                         AudioDeviceIOProcID* outIOProcID) {
    record(SimCall::createIOProcIDWithBlock, deviceID, 0);
    if (const auto failure = failureOf(SimCall::createIOProcIDWithBlock)) {
        return *failure;
    }
    if (outIOProcID == nullptr || !block) {
        return kAudioParamError;
    }
    const std::lock_guard lock(state_->ioMutex);
    const auto it = aggregates_.find(deviceID);
    if (it == aggregates_.end()) {
        return kAudioHardwareBadObjectError;
    }
    const AudioDeviceIOProcID procID = ioProcHandle(state_->nextIOProc++);
    state_->ioProcs.emplace(procID, IOProc{deviceID, std::move(block)});
    it->second.ioProcs.push_back(procID);
    *outIOProcID = procID;
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyIOProcID(AudioObjectID deviceID,
                                                 AudioDeviceIOProcID ioProcID) {
    record(SimCall::destroyIOProcID, deviceID, 0);
    if (const auto failure = failureOf(SimCall::destroyIOProcID)) {
        return *failure;
    }
    const std::lock_guard lock(state_->ioMutex);
    const auto it = aggregates_.find(deviceID);
    const auto proc = state_->ioProcs.find(ioProcID);
    if (it == aggregates_.end() || proc == state_->ioProcs.end() ||
        proc->second.deviceID != deviceID) {
        return kAudioHardwareBadObjectError;
    }
    state_->ioProcs.erase(proc);
    std::erase(it->second.ioProcs, ioProcID);
    std::erase(it->second.started, ioProcID);
    return noErr;
}

OSStatus SimulatedAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    record(SimCall::deviceStart, deviceID, 0);
    if (const auto failure = failureOf(SimCall::deviceStart)) {
        return *failure;
    }
    const std::lock_guard lock(state_->ioMutex);
    const auto it = aggregates_.find(deviceID);
    if (it == aggregates_.end()) {
        return kAudioHardwareBadObjectError;
    }
    auto& aggregate = it->second;
    if (std::find(aggregate.ioProcs.begin(), aggregate.ioProcs.end(), ioProcID) ==
        aggregate.ioProcs.end()) {
        return kAudioHardwareBadObjectError;
    }
    if (std::find(aggregate.started.begin(), aggregate.started.end(), ioProcID) ==
        aggregate.started.end()) {
        aggregate.started.push_back(ioProcID);
    }
    return noErr;
}

OSStatus SimulatedAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    record(SimCall::deviceStop, deviceID, 0);
    if (const auto failure = failureOf(SimCall::deviceStop)) {
        return *failure;
    }
    const std::lock_guard lock(state_->ioMutex);
    const auto it = aggregates_.find(deviceID);
    if (it == aggregates_.end()) {
        return kAudioHardwareBadObjectError;
    }
    std::erase(it->second.started, ioProcID);
    return noErr;
}

// --- helpers -----------------------------------------------------------------

void SimulatedAudioHardware::record(SimCall call, AudioObjectID objectID,
                                    AudioObjectPropertySelector selector) {
    calls_.push_back(SimCallRecord{call, objectID, selector});
}

std::optional<OSStatus> SimulatedAudioHardware::failureOf(SimCall call) const {
    const auto it = state_->callFailures.find(call);
    if (it == state_->callFailures.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string SimulatedAudioHardware::sentTo(AudioObjectID processID) const {
    const auto it = state_->processes.find(processID);
    return it == state_->processes.end() ? std::string() : it->second.sentTo;
}

bool SimulatedAudioHardware::isKnownObject(AudioObjectID objectID) const {
    return objectID == kAudioObjectSystemObject || state_->devices.contains(objectID) ||
           state_->processes.contains(objectID) || taps_.contains(objectID) ||
           aggregates_.contains(objectID);
}

void SimulatedAudioHardware::fire(AudioObjectID objectID, AudioObjectPropertySelector selector) {
    for (const Listener& listener : state_->listeners) {
        if (listener.objectID != objectID || listener.address.selector != selector) {
            continue;
        }
        auto call = [block = listener.block, address = listener.address] { block(1, &address); };
        if (post_) {
            post_(std::move(call));
        } else {
            call();
        }
    }
}

OSStatus SimulatedAudioHardware::read(AudioObjectID objectID,
                                      const AudioObjectPropertyAddress& address,
                                      Value& value) const {
    const PropertyKey key{objectID, address.selector};
    if (const auto it = state_->propertyFailures.find(key); it != state_->propertyFailures.end()) {
        return it->second;
    }
    const bool forcedNull = state_->nullStrings.contains(key);
    const auto text = [&](const std::optional<std::string>& s) {
        value.isString = true;
        value.text = forcedNull ? std::nullopt : s;
        return noErr;
    };
    const auto scalar = [&](std::uint32_t v) {
        value.isScalar = true;
        value.ids = {v};
        return noErr;
    };
    const auto streams = [&](std::uint32_t output, std::uint32_t input) {
        std::uint32_t count = output + input;
        if (address.scope == kAudioObjectPropertyScopeOutput) {
            count = output;
        } else if (address.scope == kAudioObjectPropertyScopeInput) {
            count = input;
        }
        // Stream IDs are not modelled; only the count matters.
        value.ids.assign(count, kAudioObjectUnknown);
        return noErr;
    };

    if (objectID == kAudioObjectSystemObject) {
        switch (address.selector) {
        case kAudioHardwarePropertyDevices:
            value.ids = state_->deviceOrder;
            return noErr;
        case kAudioHardwarePropertyDefaultOutputDevice:
            return scalar(state_->defaultOutput);
        case kAudioHardwarePropertyProcessObjectList:
            value.ids = state_->processOrder;
            return noErr;
        case kAudioHardwarePropertyPeakPeriod:
            return scalar(state_->metered.empty() ? 0U : state_->peakPeriodMicroseconds);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    if (const auto it = state_->devices.find(objectID); it != state_->devices.end()) {
        const SimDevice& device = it->second;
        switch (address.selector) {
        case kAudioDevicePropertyStreams:
            return streams(device.outputStreams, device.inputStreams);
        case kAudioDevicePropertyDeviceUID:
            return text(device.uid);
        case kAudioObjectPropertyName:
            return text(device.name);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    if (const auto it = aggregates_.find(objectID); it != aggregates_.end()) {
        const AggregateDeviceDescription& description = it->second.description;
        switch (address.selector) {
        case kAudioDevicePropertyStreams:
            return streams(1, 0);
        case kAudioDevicePropertyDeviceUID:
            return text(description.uid);
        case kAudioObjectPropertyName:
            return text(description.name);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    if (const auto it = state_->processes.find(objectID); it != state_->processes.end()) {
        const SimProcess& process = it->second;
        switch (address.selector) {
        case kAudioProcessPropertyPID:
            return scalar(static_cast<std::uint32_t>(process.pid));
        case kAudioProcessPropertyBundleID:
            return text(process.bundleID);
        case kAudioProcessPropertyIsRunningOutput:
            return scalar(process.runningOutput ? 1U : 0U);
        case kAudioProcessPropertyIsRunningCall:
            return scalar(process.runningCall ? 1U : 0U);
        case kAudioObjectPropertyName:
            return text(process.nameHint);
        case kAudioProcessPropertyIconHint:
            return text(process.iconHint);
        case kAudioProcessPropertyOutputPeak: {
            const auto held = state_->metered.find(objectID);
            return scalar(
                std::bit_cast<std::uint32_t>(held == state_->metered.end() ? 0.0F : held->second));
        }
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    if (const auto it = taps_.find(objectID); it != taps_.end()) {
        // Aggregates name a tap by its UUID; its name is the description's alone.
        if (address.selector == kAudioDevicePropertyDeviceUID) {
            return text(it->second.description.uuid);
        }
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareBadObjectError;
}

} // namespace corvalle
