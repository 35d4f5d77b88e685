#include "platform/audio/MonoMix.h"

#include <algorithm>
#include <cmath>

namespace platform::audio {

namespace {

// Vector routines for whole pieces of audio. Several running maxima keep
// the reductions from waiting on one another.

float peakMagnitude(const float* samples, uint32_t count) {
    float lanes[8] = {};
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k)
            lanes[k] = std::max(lanes[k], std::fabs(samples[i + k]));
    }
    for (; i < count; ++i)
        lanes[0] = std::max(lanes[0], std::fabs(samples[i]));
    return *std::max_element(lanes, lanes + 8);
}

/// out = in (first) or out += in (later), returning the peak magnitude of in.
float accumulateWithPeak(float* out, const float* in, uint32_t count, bool first) {
    float lanes[8] = {};
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k) {
            out[i + k] = first ? in[i + k] : out[i + k] + in[i + k];
            lanes[k] = std::max(lanes[k], std::fabs(in[i + k]));
        }
    }
    for (; i < count; ++i) {
        out[i] = first ? in[i] : out[i] + in[i];
        lanes[0] = std::max(lanes[0], std::fabs(in[i]));
    }
    return *std::max_element(lanes, lanes + 8);
}

bool exists(int index, uint32_t channelCount) {
    return index >= 0 && uint32_t(index) < channelCount;
}

} // namespace

bool MonoMix::fallsBackToFirstChannel(uint32_t channelCount) const {
    if (kind_ != Kind::sum || !channels_ || channels_->empty()) return false;
    return std::none_of(channels_->begin(), channels_->end(),
                        [&](int index) { return exists(index, channelCount); });
}

void MonoMix::mix(const PcmBuffer& source, PcmBuffer& mono) const {
    const uint32_t channels = source.format().channelCount();
    const uint32_t frames = std::min(source.frameLength(), mono.frameCapacity());
    mono.setFrameLength(frames);
    float* out = mono.channel(0);
    auto copyChannel = [&](uint32_t channel) {
        const float* in = source.channel(channel);
        std::copy(in, in + frames, out);
    };
    if (kind_ == Kind::channel) {
        copyChannel(exists(index_, channels) ? uint32_t(index_) : 0);
        return;
    }
    std::vector<uint32_t> chosen;
    if (!channels_ || channels_->empty()) {
        for (uint32_t c = 0; c < channels; ++c)
            chosen.push_back(c);
    } else {
        for (int index : *channels_) {
            if (exists(index, channels)) chosen.push_back(uint32_t(index));
        }
        if (chosen.empty()) {
            copyChannel(0);
            return;
        }
    }
    float loudest = 0.0f;
    for (size_t k = 0; k < chosen.size(); ++k) {
        loudest =
            std::max(loudest, accumulateWithPeak(out, source.channel(chosen[k]), frames, k == 0));
    }
    const float scale = loudest / std::max(peakMagnitude(out, frames), 0.0001f);
    for (uint32_t i = 0; i < frames; ++i)
        out[i] *= scale;
}

} // namespace platform::audio
