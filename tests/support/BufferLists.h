#pragma once

// Header-only: the support library does not see the audio headers, the tests that
// include this do.
#include "AudioTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvalle::test {

// Owns the samples and descriptors of one AudioBufferList, built buffer by buffer.
class BufferList {
public:
    // A buffer of `frames` interleaved frames of `channels` channels, every sample `fill`.
    BufferList& add(std::uint32_t channels, std::uint32_t frames, float fill = 0.0F) {
        return addBytes(channels, channels * frames * kFloatSize, fill);
    }

    // A buffer whose byte size need not be a whole number of frames; without
    // `hasData` it claims the bytes but has no data.
    BufferList& addBytes(std::uint32_t channels, std::uint32_t byteSize, float fill = 0.0F,
                         bool hasData = true) {
        samples_.emplace_back(hasData ? (byteSize + kFloatSize - 1) / kFloatSize : 0, fill);
        buffers_.push_back(AudioBuffer{channels, byteSize, nullptr});
        null_.push_back(!hasData);
        return *this;
    }

    std::size_t size() const { return buffers_.size(); }
    std::vector<float>& samples(std::size_t buffer) { return samples_[buffer]; }

    // Sample of frame `frame`, channel `channel` of buffer `buffer`.
    float& at(std::size_t buffer, std::size_t frame, std::size_t channel) {
        return samples_[buffer][frame * buffers_[buffer].numberChannels + channel];
    }

    // The list, pointing into this object; valid until the next add.
    AudioBufferList& list() {
        for (std::size_t i = 0; i < buffers_.size(); ++i) {
            buffers_[i].data = null_[i] ? nullptr : samples_[i].data();
        }
        list_.numberBuffers = static_cast<std::uint32_t>(buffers_.size());
        list_.buffers = buffers_.empty() ? nullptr : buffers_.data();
        return list_;
    }

private:
    static constexpr std::uint32_t kFloatSize = sizeof(float);

    std::vector<std::vector<float>> samples_;
    std::vector<AudioBuffer> buffers_;
    std::vector<bool> null_;
    AudioBufferList list_;
};

} // namespace corvalle::test
