#pragma once

#include "AudioHardware.h"
#include "CA.h"
#include "GainRender.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvalle {

// The audio objects that change one application's loudness: a process tap over
// its processes, a private aggregate device that plays to `outputUID`, and an IO
// procedure on it that runs the gain procedure. Running from construction until
// stop() or destruction; never restarted.
class AppTap {
public:
    // Throws CAError when a step fails; nothing created by it remains then. With
    // `overridesStreamOutputs` every stream is heard on `outputUID`; otherwise a
    // stream that chose an output of its own is heard there.
    AppTap(AudioHardware& hardware, std::vector<AudioObjectID> processObjects,
           std::string outputUID, const std::string& label, float gain,
           bool overridesStreamOutputs = false);
    ~AppTap();
    AppTap(const AppTap&) = delete;
    AppTap& operator=(const AppTap&) = delete;

    const std::vector<AudioObjectID>& processObjects() const { return processObjects_; }
    const std::string& outputUID() const { return outputUID_; }
    bool overridesStreamOutputs() const { return overridesStreamOutputs_; }

    float gain() const;
    // Stored as Volume::playableGain(gain): NaN, negative or infinite gains as 0,
    // gains above 4 as 4.
    void setGain(float gain);

    // The largest sample magnitude the IO procedure played since the last call,
    // after the gain and the limit: in [0, 1], 0 while muted.
    float takePeak();

    // Whether sound above full scale is limited smoothly (the default) or
    // clipped; from the next cycle on.
    void setLimiterOn(bool on);
    bool limiterOn() const;
    // The lowest gain the limiter applied since the last call, in (0, 1]: 1
    // when it did not work.
    float takeLimit();

    // Tears everything down in reverse order of creation; safe to repeat.
    void stop();

    static constexpr const char* kNamePrefix = "Corvalle \u2013 ";
    // The step named when starting the device fails.
    static constexpr const char* kStartDeviceStep = "Start device";
    // Every aggregate device UID starts with this; the output list leaves them out.
    static constexpr const char* kDeviceUIDPrefix = CA::kPrivateDeviceUIDPrefix;

    // The objects while running; 0 / absent once stopped.
    AudioObjectID tapID() const { return tapID_; }
    AudioObjectID aggregateID() const { return aggregateID_; }
    std::optional<AudioDeviceIOProcID> ioProcID() const { return ioProcID_; }

private:
    void start(const std::string& label);

    AudioHardware& hardware_;
    std::vector<AudioObjectID> processObjects_;
    std::string outputUID_;
    bool overridesStreamOutputs_ = false;
    AudioObjectID tapID_ = kAudioObjectUnknown;
    AudioObjectID aggregateID_ = kAudioObjectUnknown;
    std::optional<AudioDeviceIOProcID> ioProcID_;
    std::unique_ptr<GainState> gainState_;
};

} // namespace corvalle
