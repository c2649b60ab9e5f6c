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
    // Throws CAError when a step fails; nothing created by it remains then.
    AppTap(AudioHardware& hardware, std::vector<AudioObjectID> processObjects,
           std::string outputUID, const std::string& label, float gain);
    ~AppTap();
    AppTap(const AppTap&) = delete;
    AppTap& operator=(const AppTap&) = delete;

    const std::vector<AudioObjectID>& processObjects() const { return processObjects_; }
    const std::string& outputUID() const { return outputUID_; }

    float gain() const;
    // Stored as Volume::playableGain(gain): NaN, negative or infinite gains as 0,
    // gains above 4 as 4.
    void setGain(float gain);

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
    AudioObjectID tapID_ = kAudioObjectUnknown;
    AudioObjectID aggregateID_ = kAudioObjectUnknown;
    std::optional<AudioDeviceIOProcID> ioProcID_;
    std::unique_ptr<GainState> gainState_;
};

} // namespace corvalle
