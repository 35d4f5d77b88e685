#pragma once
// The optional cache-prefill model: "task" [1] (0 transcribe, 1 translate)
// and "language" [1] (a language token id) -> "key_cache_prefill" and
// "value_cache_prefill" [1, layers·width, 1, length] float16, looked up in a
// stored table of the decoder's keys and values for the prompt prefix.

#include "platform/ml/WeightBuffer.h"
#include "platform/ml/whisper/Stage.h"
#include "platform/ml/whisper/WhisperDimensions.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <vector>

namespace platform::ml {

class WeightFile;

class ContextPrefillStage : public Stage {
public:
    ContextPrefillStage(const WhisperDimensions& dims, const WhisperLayout::PrefillSizes& sizes,
                        const WeightFile& weights);
    std::map<std::string, MultiArray> run(const std::map<std::string, MultiArray>& inputs,
                                          const PredictionOptions& options) const override;

private:
    WhisperDimensions dims_;
    WhisperLayout::PrefillSizes sizes_;
    WeightBuffer<uint16_t> keys_;   // [2, languages, E, length] half floats
    WeightBuffer<uint16_t> values_; // [2, languages, E, length] half floats
};

} // namespace platform::ml
