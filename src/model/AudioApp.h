#pragma once

#include "AudioTypes.h"

#include <QString>
#include <optional>
#include <vector>

namespace corvalle {

// One application group as a row shows it. A row without process objects stands
// for a remembered setting of an application that is not running.
struct AudioApp {
    QString id; // the group key
    QString name;
    // A theme icon name or an absolute file path; the interface resolves it.
    std::optional<QString> icon;
    std::vector<AudioObjectID> processObjects;
    bool isPlaying = false;
    // One of its running streams says it carries a call.
    bool isCalling = false;

    friend bool operator==(const AudioApp&, const AudioApp&) = default;
};

struct OutputDevice {
    AudioObjectID id = kAudioObjectUnknown;
    QString name;
    QString uid = {}; // what an application's chosen output is stored as
};

} // namespace corvalle
