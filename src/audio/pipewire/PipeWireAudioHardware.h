#pragma once

#include "AudioHardware.h"

#include <memory>
#include <string>

namespace corvalle {

// The audio system on a PipeWire server. Devices are the server's Audio/Sink and
// Audio/Duplex nodes (ours, whose UIDs begin "Corvalle-", included); process
// objects are the clients that own audio streams (with name and icon hints from
// the stream, else its client); a process tap is a private
// sink of ours into which the tapped processes' output streams are moved, and its
// aggregate device that node's outputs linked to the chosen output, with the IO
// block run in between in the same graph cycle. Listeners are called through the main-thread
// poster. Keeps reconnecting in the background when the server goes away.
class PipeWireAudioHardware final : public AudioHardware {
public:
    struct Options {
        std::string remoteName; // empty: the default server
    };

    explicit PipeWireAudioHardware(MainThreadPoster post, const Options& options = {});
    ~PipeWireAudioHardware() override;
    PipeWireAudioHardware(const PipeWireAudioHardware&) = delete;
    PipeWireAudioHardware& operator=(const PipeWireAudioHardware&) = delete;

    bool isConnected() const;
    // Waits until the view of the server is complete (at most `timeoutMs`).
    bool waitUntilConnected(int timeoutMs);

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
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace corvalle
