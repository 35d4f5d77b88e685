#include "platform/ml/whisper/ContextPrefillStage.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/WeightFile.h"

#include <algorithm>

namespace platform::ml {

ContextPrefillStage::ContextPrefillStage(const WhisperDimensions& dims,
                                         const WhisperLayout::PrefillSizes& sizes,
                                         const WeightFile& weights)
    : dims_(dims), sizes_(sizes) {
    std::vector<int64_t> shape = {2, sizes.languages, dims.kvCacheEmbedDim(), sizes.length};
    keys_ = weights.halves("key_cache_prefill", shape);
    values_ = weights.halves("value_cache_prefill", shape);
}

std::map<std::string, MultiArray>
ContextPrefillStage::run(const std::map<std::string, MultiArray>& inputs,
                         const PredictionOptions&) const {
    const int32_t task = inputs.at(WhisperLayout::kTask).data<int32_t>()[0];
    const int32_t language = inputs.at(WhisperLayout::kLanguage).data<int32_t>()[0];
    const int64_t row = static_cast<int64_t>(language) - sizes_.firstLanguageToken;
    if (task != 0 && task != 1) {
        throw ModelError(ModelError::Kind::invalidInput,
                         "Input \"task\" must be 0 (transcribe) or 1 (translate), not " +
                             std::to_string(task));
    }
    if (row < 0 || row >= sizes_.languages) {
        throw ModelError(ModelError::Kind::invalidInput, "Input \"language\" holds " +
                                                             std::to_string(language) +
                                                             ", not a language token");
    }
    const int64_t slice = dims_.kvCacheEmbedDim() * sizes_.length;
    const size_t start = static_cast<size_t>((task * sizes_.languages + row) * slice);
    MultiArray keys({1, dims_.kvCacheEmbedDim(), 1, sizes_.length}, ElementType::float16);
    MultiArray values({1, dims_.kvCacheEmbedDim(), 1, sizes_.length}, ElementType::float16);
    std::copy_n(keys_.data() + start, slice, keys.data<uint16_t>());
    std::copy_n(values_.data() + start, slice, values.data<uint16_t>());
    return {{WhisperLayout::kKeyCachePrefill, keys}, {WhisperLayout::kValueCachePrefill, values}};
}

} // namespace platform::ml
