#pragma once

#include "AudioTypes.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace corvalle {

// How a process tap treats the tapped processes on their own output.
enum class TapMuteBehavior : std::uint32_t {
    unmuted = 0,
    muted = 1,
    mutedWhenTapped = 2, // silent on their device while the tap is being read
};

// TapDescription and AggregateDeviceDescription carry every field of the
// interface's tap description and aggregate-device dictionary, set by AppTap as
// the interface asks. The PipeWire backend reads only the processes, name and
// uuid of a tap and the name, uid and main sub-device of an aggregate; the other
// fields are kept so the interface keeps its shape and the simulated system can
// show what AppTap asked for.

// What a process tap is made from: a stereo mixdown of the listed processes. On
// PipeWire a tap is a private virtual sink that the processes' streams move into.
struct TapDescription {
    std::vector<AudioObjectID> processes;
    bool stereoMixdown = true;
    std::string uuid; // 36-character upper-case text form
    std::string name;
    bool isPrivate = false;
    TapMuteBehavior muteBehavior = TapMuteBehavior::unmuted;
};

struct AggregateSubDevice {
    std::string uid;
};

struct AggregateSubTap {
    bool driftCompensation = false;
    std::string uid; // the tap description's UUID
};

// The aggregate-device dictionary, one field per key. An aggregate device is one
// device made of others; here it is the tap's node playing to the main
// sub-device.
struct AggregateDeviceDescription {
    std::string name;
    std::string uid;
    std::string mainSubDevice;
    bool isPrivate = false;
    bool isStacked = false;
    bool tapAutoStart = false;
    std::vector<AggregateSubDevice> subDevices;
    std::vector<AggregateSubTap> taps;
    // Every tapped stream plays to the main sub-device, whatever output it chose
    // for itself (an output chosen for the application in Corvalle). Otherwise a
    // stream that chose an output of its own is heard there.
    bool overridesStreamOutputs = false;
    // Where the IO block publishes the gain it applied last. A backend that keeps
    // playing the tapped sound after the block stops, until the streams are back
    // on their device, plays on at this gain. Not a dictionary key.
    const std::atomic<float>* appliedGain = nullptr;
};

// An IO procedure: the realtime callback registered on a device, named by this handle.
struct AudioDeviceIOProc;
using AudioDeviceIOProcID = AudioDeviceIOProc*;

// Runs on the device's realtime thread once per IO cycle.
using AudioDeviceIOBlock = std::function<void(
    const AudioTimeStamp* now, const AudioBufferList* inputData, const AudioTimeStamp* inputTime,
    AudioBufferList* outputData, const AudioTimeStamp* outputTime)>;

// Called on the main thread with the addresses that changed.
using AudioObjectPropertyListenerBlock =
    std::function<void(std::uint32_t numberAddresses, const AudioObjectPropertyAddress* addresses)>;

// Hands a task to the main thread's event loop. Backends deliver every listener
// call through it, never on their own threads.
using MainThreadPoster = std::function<void(std::function<void()>)>;

// The audio system. Each member corresponds to one call of the platform's
// object-property and tap API and returns its status: noErr or a failure code.
class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    virtual OSStatus getPropertyDataSize(AudioObjectID objectID,
                                         const AudioObjectPropertyAddress& address,
                                         std::uint32_t* outDataSize) = 0;
    // `ioDataSize` holds the destination's size and is set to the bytes written.
    virtual OSStatus getPropertyData(AudioObjectID objectID,
                                     const AudioObjectPropertyAddress& address,
                                     std::uint32_t* ioDataSize, void* outData) = 0;
    virtual OSStatus setPropertyData(AudioObjectID objectID,
                                     const AudioObjectPropertyAddress& address,
                                     std::uint32_t dataSize, const void* data) = 0;
    virtual OSStatus addPropertyListener(AudioObjectID objectID,
                                         const AudioObjectPropertyAddress& address,
                                         AudioObjectPropertyListenerBlock listener) = 0;

    virtual OSStatus createProcessTap(const TapDescription& description,
                                      AudioObjectID* outTapID) = 0;
    virtual OSStatus destroyProcessTap(AudioObjectID tapID) = 0;

    virtual OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                           AudioObjectID* outDeviceID) = 0;
    virtual OSStatus destroyAggregateDevice(AudioObjectID deviceID) = 0;

    virtual OSStatus createIOProcIDWithBlock(AudioObjectID deviceID, AudioDeviceIOBlock block,
                                             AudioDeviceIOProcID* outIOProcID) = 0;
    virtual OSStatus destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) = 0;

    virtual OSStatus deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) = 0;
    virtual OSStatus deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) = 0;
};

} // namespace corvalle
