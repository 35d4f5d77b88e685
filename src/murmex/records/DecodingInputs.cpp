#include "murmex/records/DecodingInputs.h"

#include <algorithm>
#include <utility>

namespace murmex {

namespace {
constexpr double kMaskedOut = -10000.0;
}

DecodingInputs::DecodingInputs(
    std::vector<int> initialPrompt, platform::ml::MultiArray inputIds,
    platform::ml::MultiArray cacheLength, platform::ml::MultiArray keyCache,
    platform::ml::MultiArray valueCache, platform::ml::MultiArray alignmentWeights,
    platform::ml::MultiArray kvCacheUpdateMask, platform::ml::MultiArray decoderKeyPaddingMask,
    platform::ml::MultiArray prefillKeyCache, platform::ml::MultiArray prefillValueCache)
    : initialPrompt(std::move(initialPrompt)), inputIds(std::move(inputIds)),
      cacheLength(std::move(cacheLength)), keyCache(std::move(keyCache)),
      valueCache(std::move(valueCache)), alignmentWeights(std::move(alignmentWeights)),
      kvCacheUpdateMask(std::move(kvCacheUpdateMask)),
      decoderKeyPaddingMask(std::move(decoderKeyPaddingMask)),
      prefillKeyCache(std::move(prefillKeyCache)), prefillValueCache(std::move(prefillValueCache)) {
}

void DecodingInputs::reset(int prefilledCacheSize, int maxTokenContext) {
    cacheLength.setValue(0, prefilledCacheSize);

    // A context longer than the masks would write past their ends.
    const int64_t positions = std::clamp<int64_t>(
        maxTokenContext, 0, std::min(decoderKeyPaddingMask.count(), kvCacheUpdateMask.count()));
    for (int64_t i = 0; i < positions; ++i) {
        if (i <= prefilledCacheSize) {
            decoderKeyPaddingMask.setValue(i, 0.0);
            kvCacheUpdateMask.setValue(i, 1.0);
            if (i > 0) kvCacheUpdateMask.setValue(i - 1, 0.0);
        } else {
            decoderKeyPaddingMask.setValue(i, kMaskedOut);
            kvCacheUpdateMask.setValue(i, 0.0);
        }
    }
}

} // namespace murmex
