#include "AppTap.h"

#include "CAError.h"
#include "Volume.h"

#include <utility>
#include <uuid/uuid.h>

namespace corvalle {

namespace {

constexpr const char* kCreateTapStep = "Create process tap";
constexpr const char* kCreateAggregateStep = "Create aggregate device";
constexpr const char* kCreateIOProcStep = "Create IO proc";

std::string freshUUID() {
    uuid_t raw;
    uuid_generate_random(raw);
    char text[37] = {};
    uuid_unparse_upper(raw, text);
    return text;
}

void check(OSStatus status, const char* step) {
    if (status != noErr) {
        throw CAError(step, status);
    }
}

} // namespace

AppTap::AppTap(AudioHardware& hardware, std::vector<AudioObjectID> processObjects,
               std::string outputUID, const std::string& label, float gain,
               bool overridesStreamOutputs)
    : hardware_(hardware), processObjects_(std::move(processObjects)),
      outputUID_(std::move(outputUID)), overridesStreamOutputs_(overridesStreamOutputs),
      gainState_(std::make_unique<GainState>()) {
    const float safe = Volume::playableGain(gain);
    gainState_->target.store(safe, std::memory_order_relaxed);
    gainState_->applied.store(safe, std::memory_order_relaxed);
    try {
        start(label);
    } catch (...) {
        stop();
        throw;
    }
}

AppTap::~AppTap() {
    stop();
}

float AppTap::gain() const {
    return gainState_->target.load(std::memory_order_relaxed);
}

void AppTap::setGain(float gain) {
    gainState_->target.store(Volume::playableGain(gain), std::memory_order_relaxed);
}

float AppTap::takePeak() {
    return corvalle::takePeak(*gainState_);
}

void AppTap::setLimiterOn(bool on) {
    gainState_->limiterOn.store(on, std::memory_order_relaxed);
}

bool AppTap::limiterOn() const {
    return gainState_->limiterOn.load(std::memory_order_relaxed);
}

float AppTap::takeLimit() {
    return corvalle::takeLimit(*gainState_);
}

void AppTap::start(const std::string& label) {
    const std::string name = kNamePrefix + label;

    TapDescription tap;
    tap.processes = processObjects_;
    tap.stereoMixdown = true;
    tap.uuid = freshUUID();
    tap.name = name;
    tap.isPrivate = true;
    tap.muteBehavior = TapMuteBehavior::mutedWhenTapped;

    AudioObjectID tapID = kAudioObjectUnknown;
    check(hardware_.createProcessTap(tap, &tapID), kCreateTapStep);
    tapID_ = tapID;

    AggregateDeviceDescription aggregate;
    aggregate.name = name;
    aggregate.uid = std::string(kDeviceUIDPrefix) + freshUUID();
    aggregate.mainSubDevice = outputUID_;
    aggregate.isPrivate = true;
    aggregate.isStacked = false;
    aggregate.tapAutoStart = true;
    aggregate.subDevices = {AggregateSubDevice{outputUID_}};
    aggregate.taps = {AggregateSubTap{true, tap.uuid}};
    aggregate.overridesStreamOutputs = overridesStreamOutputs_;
    aggregate.appliedGain = &gainState_->applied;

    AudioObjectID aggregateID = kAudioObjectUnknown;
    check(hardware_.createAggregateDevice(aggregate, &aggregateID), kCreateAggregateStep);
    aggregateID_ = aggregateID;

    // The block holds the gain state's address and nothing else: it must never
    // reach this object, which the main thread may be tearing down.
    GainState* state = gainState_.get();
    AudioDeviceIOBlock block = [state](const AudioTimeStamp*, const AudioBufferList* input,
                                       const AudioTimeStamp*, AudioBufferList* output,
                                       const AudioTimeStamp*) { renderGain(input, output, state); };
    AudioDeviceIOProcID ioProcID = nullptr;
    check(hardware_.createIOProcIDWithBlock(aggregateID_, std::move(block), &ioProcID),
          kCreateIOProcStep);
    ioProcID_ = ioProcID;

    check(hardware_.deviceStart(aggregateID_, *ioProcID_), kStartDeviceStep);
}

void AppTap::stop() {
    if (aggregateID_ != kAudioObjectUnknown) {
        if (ioProcID_) {
            static_cast<void>(hardware_.deviceStop(aggregateID_, *ioProcID_));
            static_cast<void>(hardware_.destroyIOProcID(aggregateID_, *ioProcID_));
        }
        static_cast<void>(hardware_.destroyAggregateDevice(aggregateID_));
    }
    if (tapID_ != kAudioObjectUnknown) {
        static_cast<void>(hardware_.destroyProcessTap(tapID_));
    }
    tapID_ = kAudioObjectUnknown;
    aggregateID_ = kAudioObjectUnknown;
    ioProcID_.reset();
}

} // namespace corvalle
