#pragma once

#include "AudioHardware.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvalle {

// The calls a test can count or make fail.
enum class SimCall {
    getPropertyDataSize,
    getPropertyData,
    setPropertyData,
    addPropertyListener,
    createProcessTap,
    destroyProcessTap,
    createAggregateDevice,
    destroyAggregateDevice,
    createIOProcIDWithBlock,
    destroyIOProcID,
    deviceStart,
    deviceStop,
};

struct SimCallRecord {
    SimCall call{};
    AudioObjectID objectID = kAudioObjectUnknown;
    AudioObjectPropertySelector selector = 0; // for property calls
};

// Absent strings read as a null string (success without a value).
struct SimDevice {
    std::optional<std::string> uid;
    std::optional<std::string> name;
    std::uint32_t outputStreams = 1;
    std::uint32_t inputStreams = 0;
};

struct SimProcess {
    pid_t pid = 0;
    std::optional<std::string> bundleID;
    bool runningOutput = false;
    // What the application told the audio server.
    std::optional<std::string> nameHint = std::nullopt;
    std::optional<std::string> iconHint = std::nullopt;
    // The output its untapped streams were sent to ('pout'); empty: their own.
    std::string sentTo = {};
    // Whether a running stream of it says it carries a call ('pcal').
    bool runningCall = false;
};

// A process tap that exists while created.
struct SimTap {
    AudioObjectID id = kAudioObjectUnknown;
    TapDescription description;
};

// An aggregate device that exists while created, with its IO procs.
struct SimAggregate {
    AudioObjectID id = kAudioObjectUnknown;
    AggregateDeviceDescription description;
    std::vector<AudioDeviceIOProcID> ioProcs;
    std::vector<AudioDeviceIOProcID> started;
};

// The audio system in memory, for tests, benchmarks and --simulate. The test
// shapes the world through the add/remove/set members; each change fires the
// listeners registered for it, through the main-thread poster. Every interface
// call is recorded.
class SimulatedAudioHardware final : public AudioHardware {
public:
    explicit SimulatedAudioHardware(MainThreadPoster post);
    ~SimulatedAudioHardware() override;

    // --- the world -------------------------------------------------------
    AudioObjectID addDevice(SimDevice device);
    // Removing the default output moves the default to the first remaining device
    // with output streams, or to none (fires 'dev#', then 'dOut').
    void removeDevice(AudioObjectID deviceID);
    void renameDevice(AudioObjectID deviceID, std::optional<std::string> name);
    // Changes the default output device as another program would. Fires 'dOut'
    // every time, as does an accepted write of 'dOut' through setPropertyData.
    void setDefaultOutput(AudioObjectID deviceID);
    AudioObjectID defaultOutput() const;

    AudioObjectID addProcess(SimProcess process);
    void removeProcess(AudioObjectID processID);
    void setRunningOutput(AudioObjectID processID, bool running);
    // Sets what 'pcal' reports, and with it 'piro' (a call is a running stream).
    void setRunningCall(AudioObjectID processID, bool running);
    // Changes what 'pbid' reports (no notification, as on the real system).
    void setBundleID(AudioObjectID processID, std::optional<std::string> bundleID);
    // The process plays a sample of magnitude `peak`: measured only while its
    // level is asked for ('pmtr'), held until 'ppek' is read.
    void playPeak(AudioObjectID processID, float peak);
    bool isMetered(AudioObjectID processID) const;
    // The audio cycle that measures levels while any process is measured.
    void setPeakPeriod(std::chrono::microseconds period);
    std::size_t meteredCount() const;
    // Moves a process object to another place of the process list.
    void moveProcess(AudioObjectID processID, std::size_t index);

    // Makes reads of one property of one object fail with `status`, or (with
    // noErr) makes a string property succeed with a null string. std::nullopt
    // restores the normal answer.
    void setPropertyFailure(AudioObjectID objectID, AudioObjectPropertySelector selector,
                            std::optional<OSStatus> status);
    void setNullString(AudioObjectID objectID, AudioObjectPropertySelector selector, bool null);
    // Makes every later call of the kind return `status` (noErr restores it).
    void setCallFailure(SimCall call, OSStatus status);
    // A device stops working, as an aggregate whose start the server gave up
    // on: fires its 'livn'.
    void failDevice(AudioObjectID deviceID);
    // Whether setPropertyData on 'dOut' is accepted (default true).
    void setAcceptsDefaultOutputChange(bool accepts);

    // --- inspection ------------------------------------------------------
    std::size_t callCount(SimCall call) const;
    std::size_t callCount() const;
    const std::vector<SimCallRecord>& calls() const { return calls_; }
    void clearCalls();
    std::size_t listenerCount(AudioObjectID objectID, AudioObjectPropertySelector selector) const;

    const std::map<AudioObjectID, SimTap>& taps() const { return taps_; }
    const std::map<AudioObjectID, SimAggregate>& aggregates() const { return aggregates_; }
    std::size_t ioProcCount() const;
    // Where 'pout' last sent the process's untapped streams; empty when nowhere.
    std::string sentTo(AudioObjectID processID) const;

    // Runs one IO cycle of `deviceID`: every started IO proc of it, in order of
    // creation, with the given buffers. May be called from another thread;
    // stopping or destroying an IO proc waits for a running cycle to end.
    void runIOCycle(AudioObjectID deviceID, const AudioBufferList& input, AudioBufferList& output);

    // --- AudioHardware ---------------------------------------------------
    OSStatus getPropertyDataSize(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                                 std::uint32_t* outDataSize) override;
    OSStatus getPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                             std::uint32_t* ioDataSize, void* outData) override;
    OSStatus setPropertyData(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                             std::uint32_t dataSize, const void* data) override;
    OSStatus addPropertyListener(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                                 AudioObjectPropertyListenerBlock listener) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID* outTapID) override;
    OSStatus destroyProcessTap(AudioObjectID tapID) override;
    OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                   AudioObjectID* outDeviceID) override;
    OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus createIOProcIDWithBlock(AudioObjectID deviceID, AudioDeviceIOBlock block,
                                     AudioDeviceIOProcID* outIOProcID) override;
    OSStatus destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) override;
    OSStatus deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) override;
    OSStatus deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) override;

private:
    // One property value as the backend answers it.
    struct Value {
        bool isString = false;
        bool isScalar = false;
        std::optional<std::string> text;
        std::vector<std::uint32_t> ids;
    };

    void record(SimCall call, AudioObjectID objectID, AudioObjectPropertySelector selector);
    std::optional<OSStatus> failureOf(SimCall call) const;
    bool isKnownObject(AudioObjectID objectID) const;
    // Hands every listener of the property to the poster.
    void fire(AudioObjectID objectID, AudioObjectPropertySelector selector);
    // The property as it stands; only getPropertyData changes state (a level read
    // starts the level over).
    OSStatus read(AudioObjectID objectID, const AudioObjectPropertyAddress& address,
                  Value& value) const;

    // Implementation-defined state; see the .cpp.
    struct State;
    MainThreadPoster post_;
    std::vector<SimCallRecord> calls_;
    std::map<AudioObjectID, SimTap> taps_;
    std::map<AudioObjectID, SimAggregate> aggregates_;
    std::unique_ptr<State> state_;
};

} // namespace corvalle
