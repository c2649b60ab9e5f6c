#pragma once

#include "Volume.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <map>
#include <optional>

namespace corvalle {

// A volume and mute switch remembered for one output device.
struct OutputLevel {
    double volume = 1.0;
    bool muted = false;

    // Within 0.005 of full volume and not muted: played as it is.
    bool isFull() const { return !muted && Volume::isUnchanged(volume); }

    friend bool operator==(const OutputLevel&, const OutputLevel&) = default;
};

// The remembered volume, mute switch and output of one application group.
struct AppSetting {
    double volume = 1.0;
    bool muted = false;
    std::optional<QString> name;
    // Members of the stored entry that this version does not know (a newer
    // version's, another tool's), as stored: `"key":value` pairs joined by commas.
    // Written back unchanged with the entry.
    QByteArray otherMembers = {};
    // The UID of the output device chosen for the application in Corvalle; none
    // when it plays where it (or the system) chooses.
    std::optional<QString> output = {};
    // While it plays, the other applications are lowered, as for a call.
    bool lowersOthers = false;
    // Opted in to a level for each output device: `volume` and `muted` are the
    // level on `levelOutput` (the UID of the device it was last heard on, none
    // before it was first heard), and `outputLevels` those of the other devices
    // it was heard on, by UID.
    bool levelPerOutput = false;
    std::optional<QString> levelOutput = {};
    std::map<QString, OutputLevel> outputLevels = {};

    // A level that is not full needs a tap. With a level for each output, a full
    // level still keeps the tap while another device has a level of its own: a
    // move there is then made by the refresh that switches the level, before the
    // new device hears a sample. Untapped, the session manager moves the streams
    // as the default changes, and the first moments there would play at the
    // full level.
    bool needsTap() const {
        return !OutputLevel{volume, muted}.isFull() ||
               (levelPerOutput && !std::ranges::all_of(outputLevels, [](const auto& level) {
                    return level.second.isFull();
                }));
    }
    // Nothing to remember: no tap, no output of its own, lowers nothing, one level.
    bool isDefault() const { return !needsTap() && !output && !lowersOthers && !levelPerOutput; }
    // The volume a tap plays, mute aside: a stored volume outside 0 to 4 (a
    // hand-edited or corrupt file) is taken to the nearest end, NaN to silence.
    double appliedVolume() const { return Volume::clamped(volume); }
    // Whether the stored volume is one that appliedVolume() has to bring into range.
    bool isVolumeOutOfRange() const { return appliedVolume() != volume; }
    // The gain a tap applies: appliedVolume(), or silence when muted.
    float effectiveGain() const { return muted ? 0.0F : static_cast<float>(appliedVolume()); }

    // Opted in: makes the level the one remembered for `outputUID`, keeping the
    // present one for the device it was on. A device never heard on before keeps
    // the present level. Whether anything changed.
    bool switchLevelTo(const QString& outputUID);

    friend bool operator==(const AppSetting&, const AppSetting&) = default;
};

} // namespace corvalle
