#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The vocabulary of the audio-object interface the mixer is written against: every
// device, process and tap is an object with a numeric ID whose properties are read
// and written by four-character selector. The names are the interface's own; the
// comments say what each means on PipeWire.
namespace corvalle {

using AudioObjectID = std::uint32_t;
using OSStatus = std::int32_t; // a call's result: noErr (0) or a failure code
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;

// A four-character code read big-endian: fourCC("dOut") == 0x644F7574.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24U) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16U) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8U) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

constexpr OSStatus noErr = 0;
// Status codes a backend may return; any non-zero value is a failure.
constexpr OSStatus kAudioHardwareUnspecifiedError = static_cast<OSStatus>(fourCC("what"));
constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(fourCC("!obj"));
constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(fourCC("who?"));
constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(fourCC("!siz"));
constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(fourCC("nope"));
constexpr OSStatus kAudioHardwareNotRunningError = static_cast<OSStatus>(fourCC("stop"));
constexpr OSStatus kAudioParamError = -50;

constexpr AudioObjectID kAudioObjectUnknown = 0;
// The audio system itself: owner of the device list, default output and process list.
constexpr AudioObjectID kAudioObjectSystemObject = 1;

constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCC("glob");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCC("outp");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = fourCC("inpt");
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

// Selectors, by the object they are read from.
// System object: the sink nodes, the default sink, one object per client process.
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourCC("dev#");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourCC("dOut");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList = fourCC("prs#");
// Device (sink node): its output streams (none for a source), node.name, description.
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreams = fourCC("stm#");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourCC("uid ");
// Fires when a device stops working (an aggregate whose start failed on the server).
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsAlive = fourCC("livn");
constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCC("lnam");
// Process object: its PID, its application id (a desktop file id; "bundle" is the
// interface's word for an application package), and whether it is playing now.
constexpr AudioObjectPropertySelector kAudioProcessPropertyPID = fourCC("ppid");
constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID = fourCC("pbid");
constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningOutput = fourCC("piro");
// Whether one of the process's running output streams says it carries a call
// (media.role Communication or Phone), as a UInt32: 1 or 0.
constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningCall = fourCC("pcal");
// What the audio server was told about a process's application: its icon name, and
// (as the process's kAudioObjectPropertyName) its display name. Used where the
// desktop knows no application for the process.
constexpr AudioObjectPropertySelector kAudioProcessPropertyIconHint = fourCC("picn");
// Settable only: the UID of the output device the process's untapped streams are
// sent to, as an AudioStringRef; an empty string sends them back where they were.
// The audio server keeps the choice while the device is away (its streams play on
// the fallback meanwhile) and goes back to it when the device returns.
constexpr AudioObjectPropertySelector kAudioProcessPropertyOutputDevice = fourCC("pout");
// A process's level, measured only while asked for: writing 1 (a UInt32) to
// 'pmtr' starts measuring what the process plays, 0 stops it and frees whatever
// measured it. 'ppek' reads (a Float32) the largest sample magnitude played since
// the last read, 1 being full scale, and starts over; 0 while not measured.
constexpr AudioObjectPropertySelector kAudioProcessPropertyPeakMetering = fourCC("pmtr");
constexpr AudioObjectPropertySelector kAudioProcessPropertyOutputPeak = fourCC("ppek");
// On the system object: how often measured levels change, as the period of the
// audio cycle that measures them in microseconds (a UInt32); 0 while nothing is
// measured or the period is not known yet.
constexpr AudioObjectPropertySelector kAudioHardwarePropertyPeakPeriod = fourCC("pprd");

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector selector = 0;
    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal;
    AudioObjectPropertyElement element = kAudioObjectPropertyElementMain;

    friend bool operator==(const AudioObjectPropertyAddress&,
                           const AudioObjectPropertyAddress&) = default;
};

// String properties ('uid ', 'lnam', 'pbid') are read into a destination of this
// type, one pointer wide. On success the backend stores a heap string that the
// caller then owns and deletes, or null when the object has no such string.
using AudioStringRef = std::string*;

// One buffer of interleaved 32-bit float samples.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

// A count of buffers and the buffers themselves, in order.
struct AudioBufferList {
    std::uint32_t numberBuffers = 0;
    AudioBuffer* buffers = nullptr;
};

// The IO procedure's time stamps. The gain procedure needs no time, so no backend
// fills one in; the type stays so the IO block keeps the interface's signature.
struct AudioTimeStamp {};

} // namespace corvalle
