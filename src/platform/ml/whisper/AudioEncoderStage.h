#pragma once
// Whisper's audio encoder: "melspectrogram_features" [1, n_mels, 1, frames]
// float16 -> "encoder_output_embeds" [1, width, 1, positions] float16.
// Two convolutions with GELU (the second halves the frame rate), fixed
// sinusoidal positions, pre-norm transformer blocks and a final norm.

#include "platform/ml/WeightBuffer.h"
#include "platform/ml/layers/EncoderLayer.h"
#include "platform/ml/ops/Conv1d.h"
#include "platform/ml/ops/LayerNorm.h"
#include "platform/ml/ops/Workspace.h"
#include "platform/ml/whisper/Stage.h"
#include "platform/ml/whisper/WhisperDimensions.h"

#include <vector>

namespace platform::ml {

class AudioEncoderStage : public Stage {
public:
    AudioEncoderStage(const WhisperDimensions& dims, const WeightFile& weights);
    std::map<std::string, MultiArray> run(const std::map<std::string, MultiArray>& inputs,
                                          const PredictionOptions& options) const override;

private:
    WhisperDimensions dims_;
    Conv1d conv1_, conv2_;
    WeightBuffer<float> positions_; // [n_audio_ctx, width]
    std::vector<EncoderLayer> layers_;
    LayerNorm lnPost_;
    mutable WorkspacePool workspaces_;
};

} // namespace platform::ml
