#pragma once
// The energy voice-activity detector: a frame is speech when the root mean
// square of its samples (in -1...1) is above a threshold.

#include "murmex/core/audio/VoiceActivityDetector.h"

namespace murmex {

class EnergyVAD : public VoiceActivityDetector {
public:
    /// The defaults the engine uses: 16 kHz, frames of a tenth of a second,
    /// no overlap, threshold 0.02. Throws as VoiceActivityDetector does.
    explicit EnergyVAD(int64_t sampleRate = 16000, int64_t frameLengthSamples = 1600,
                       int64_t frameOverlapSamples = 0, float energyThreshold = 0.02f);

    /// Frame length and overlap in seconds, turned into samples (in single
    /// precision, cut toward zero).
    static EnergyVAD withSeconds(int64_t sampleRate = 16000, float frameLength = 0.1f,
                                 float frameOverlap = 0.0f, float energyThreshold = 0.02f);

    float energyThreshold() const { return energyThreshold_; }

    std::vector<bool> voiceActivity(std::span<const float> waveform) const override;

private:
    float energyThreshold_;
};

} // namespace murmex
