#pragma once
// Whisper's log-mel front end: "audio" [samples] float32 ->
// "melspectrogram_features" [1, n_mels, 1, frames] float16.
// Reflect-padded frames of 400 samples every 160, periodic Hann window,
// power spectrum, the stored mel filter bank, log10 floored at 1e-10,
// clamped to (maximum − 8) and mapped by (x + 4) / 4.

#include "platform/ml/WeightBuffer.h"
#include "platform/ml/ops/Workspace.h"
#include "platform/ml/whisper/Stage.h"
#include "platform/ml/whisper/WhisperDimensions.h"

#include <vector>

namespace platform::ml {

class WeightFile;

class MelSpectrogramStage : public Stage {
public:
    MelSpectrogramStage(const WhisperDimensions& dims, const WeightFile& weights);
    std::map<std::string, MultiArray> run(const std::map<std::string, MultiArray>& inputs,
                                          const PredictionOptions& options) const override;

    /// The log-mel spectrogram of `samples` (nSamples values) into
    /// out[n_mels][frames] as floats, before conversion to half precision.
    void compute(const float* samples, float* out, Workspace& workspace) const;

private:
    WhisperDimensions dims_;
    WeightBuffer<float> filters_; // [n_mels, bins]
    std::vector<float>
        basis_; // [fft length, 2·bins]: windowed cosines, then windowed negated sines
    mutable WorkspacePool workspaces_;
};

} // namespace platform::ml
