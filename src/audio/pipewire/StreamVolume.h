#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct spa_pod;
struct spa_pod_builder;

namespace corvalle::pw {

// A stream's volume as its Props report it. Its own part (volume, mute and the
// channel volumes) is what the session manager stores per application and what
// PulseAudio clients show. The soft part, once someone sets it, is applied in
// place of the channel volumes and mute, until the own part is set again; no
// one stores it. Holding a stream at a gain through the soft part therefore
// leaves every stored and shown setting as it was.
struct StreamVolume {
    float volume = 1.0F;
    bool mute = false;
    std::vector<float> channelVolumes;
    bool softMute = false;
    std::vector<float> softVolumes;

    bool hasSameOwnPart(const StreamVolume& other) const;
    // Whether the soft part is the own part times `gain`.
    bool isSoftAt(float gain) const;
    // As a stream starts: soft volumes at 1, soft mute off.
    bool isSoftUntouched() const;
};

// The volume in a Props object; nothing when `props` is not one. Arrays longer
// than a format can carry are cut there; values that are not finite read as 0.
std::optional<StreamVolume> readStreamVolume(const spa_pod* props);

// A Props object setting the soft part to `volume`'s own part times `gain`:
// the channel volumes times it, and the mute. Nothing without channel volumes.
const spa_pod* buildSoftVolumes(spa_pod_builder& builder, const StreamVolume& volume, float gain);

// Room enough for buildSoftVolumes at any channel count.
inline constexpr std::size_t kSoftVolumesPodSize = 1024;

} // namespace corvalle::pw
