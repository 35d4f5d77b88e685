#include "murmex/core/audio/EnergyVAD.h"

#include "murmex/core/audio/AudioProcessor.h"

#include <cmath>

namespace murmex {

EnergyVAD::EnergyVAD(int64_t sampleRate, int64_t frameLengthSamples, int64_t frameOverlapSamples,
                     float energyThreshold)
    : VoiceActivityDetector(sampleRate, frameLengthSamples, frameOverlapSamples),
      energyThreshold_(energyThreshold) {}

EnergyVAD EnergyVAD::withSeconds(int64_t sampleRate, float frameLength, float frameOverlap,
                                 float energyThreshold) {
    const float rate = float(sampleRate);
    // Truncated toward zero; a value beyond the 64-bit range is refused by
    // the constructor through its sign or its size.
    auto samples = [&](float seconds) {
        const float value = std::trunc(seconds * rate);
        return std::isfinite(value) && std::fabs(value) < 9.2e18f ? int64_t(value) : int64_t(-1);
    };
    return EnergyVAD(sampleRate, samples(frameLength), samples(frameOverlap), energyThreshold);
}

std::vector<bool> EnergyVAD::voiceActivity(std::span<const float> waveform) const {
    const auto frames = int64_t(std::ceil(double(waveform.size()) / double(frameLengthSamples())));
    return AudioProcessor::calculateVoiceActivityInChunks(waveform, frames, frameLengthSamples(),
                                                          frameOverlapSamples(), energyThreshold_);
}

} // namespace murmex
