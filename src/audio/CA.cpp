#include "CA.h"

#include <memory>

namespace corvalle::CA {

namespace {

// Takes a string property into our hands; the backend gives up ownership on success.
std::optional<std::string> readString(AudioHardware& hardware, AudioObjectID objectID,
                                      const AudioObjectPropertyAddress& addr) {
    AudioStringRef ref = nullptr;
    auto size = static_cast<std::uint32_t>(sizeof(AudioStringRef));
    if (hardware.getPropertyData(objectID, addr, &size, &ref) != noErr) {
        return std::nullopt;
    }
    const std::unique_ptr<std::string> owned(ref);
    if (!owned) {
        return std::nullopt;
    }
    return std::move(*owned);
}

} // namespace

AudioObjectPropertyAddress address(AudioObjectPropertySelector selector,
                                   AudioObjectPropertyScope scope) {
    return AudioObjectPropertyAddress{selector, scope, kAudioObjectPropertyElementMain};
}

std::optional<std::string> string(AudioHardware& hardware, AudioObjectID objectID,
                                  AudioObjectPropertySelector selector) {
    return readString(hardware, objectID, address(selector));
}

std::vector<AudioObjectID> objectList(AudioHardware& hardware, AudioObjectID objectID,
                                      AudioObjectPropertySelector selector) {
    const auto addr = address(selector);
    std::uint32_t size = 0;
    if (hardware.getPropertyDataSize(objectID, addr, &size) != noErr || size == 0) {
        return {};
    }
    const std::size_t count = size / sizeof(AudioObjectID);
    if (count == 0) {
        return {};
    }
    std::vector<AudioObjectID> ids(count, kAudioObjectUnknown);
    // Only whole IDs are asked for, so a size that is not a multiple of 4 cannot
    // make the backend write past the end of the list.
    auto ioSize = static_cast<std::uint32_t>(count * sizeof(AudioObjectID));
    if (hardware.getPropertyData(objectID, addr, &ioSize, ids.data()) != noErr) {
        return {};
    }
    return ids;
}

AudioObjectID defaultOutputDevice(AudioHardware& hardware) {
    return get<AudioObjectID>(hardware, system, kAudioHardwarePropertyDefaultOutputDevice,
                              kAudioObjectUnknown);
}

OSStatus setDefaultOutputDevice(AudioHardware& hardware, AudioObjectID deviceID) {
    const auto addr = address(kAudioHardwarePropertyDefaultOutputDevice);
    return hardware.setPropertyData(system, addr, static_cast<std::uint32_t>(sizeof(deviceID)),
                                    &deviceID);
}

std::vector<AudioObjectID> outputDevices(AudioHardware& hardware) {
    std::vector<AudioObjectID> result;
    const auto streams = address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput);
    const auto uid = address(kAudioDevicePropertyDeviceUID);
    const std::string_view prefix = kPrivateDeviceUIDPrefix;
    for (const AudioObjectID deviceID :
         objectList(hardware, system, kAudioHardwarePropertyDevices)) {
        std::uint32_t size = 0;
        if (hardware.getPropertyDataSize(deviceID, streams, &size) != noErr || size == 0) {
            continue;
        }
        const std::string deviceUIDText = readString(hardware, deviceID, uid).value_or("");
        if (deviceUIDText.starts_with(prefix)) {
            continue;
        }
        result.push_back(deviceID);
    }
    return result;
}

std::optional<std::string> deviceUID(AudioHardware& hardware, AudioObjectID deviceID) {
    return string(hardware, deviceID, kAudioDevicePropertyDeviceUID);
}

std::optional<std::string> deviceName(AudioHardware& hardware, AudioObjectID deviceID) {
    return string(hardware, deviceID, kAudioObjectPropertyName);
}

} // namespace corvalle::CA
