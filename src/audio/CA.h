#pragma once

#include "AudioHardware.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

// CA: the Core Audio property layer, the audio-object interface's name for it; all of
// it goes through AudioHardware, so it works on any backend.
namespace corvalle::CA {

// Typed property reads and writes that never fail: every read has a fallback.
// Each takes the audio system it talks to.

constexpr AudioObjectID system = kAudioObjectSystemObject;
// The prefix of the UIDs of the devices our taps create (and of the PipeWire
// backend's sinks): the audio system lists them, outputDevices never does.
inline constexpr const char* kPrivateDeviceUIDPrefix = "Corvalle-";

AudioObjectPropertyAddress
address(AudioObjectPropertySelector selector,
        AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

// The property's value as T, or `fallback` when the read fails. A shorter value
// leaves the remaining bytes of the fallback in place.
template <typename T>
T get(AudioHardware& hardware, AudioObjectID objectID, AudioObjectPropertySelector selector,
      T fallback) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value = fallback;
    auto size = static_cast<std::uint32_t>(sizeof(T));
    const auto addr = address(selector);
    if (hardware.getPropertyData(objectID, addr, &size, &value) == noErr) {
        return value;
    }
    return fallback;
}

std::optional<std::string> string(AudioHardware& hardware, AudioObjectID objectID,
                                  AudioObjectPropertySelector selector);
std::vector<AudioObjectID> objectList(AudioHardware& hardware, AudioObjectID objectID,
                                      AudioObjectPropertySelector selector);

AudioObjectID defaultOutputDevice(AudioHardware& hardware);
// Asks the audio system to make `deviceID` the default output; noErr when it took
// the request (a server may still apply it a moment later), else its refusal.
OSStatus setDefaultOutputDevice(AudioHardware& hardware, AudioObjectID deviceID);
std::vector<AudioObjectID> outputDevices(AudioHardware& hardware);
std::optional<std::string> deviceUID(AudioHardware& hardware, AudioObjectID deviceID);
std::optional<std::string> deviceName(AudioHardware& hardware, AudioObjectID deviceID);

} // namespace corvalle::CA
