#pragma once
// The text decoder's reusable inputs: the prompt they were prepared with, the
// next token, the cache length, the key and value caches, the alignment
// weights and the two masks. The arrays are allocated once per decoding run
// and rewritten in place from step to step and window to window; the object
// is shared by reference between the text decoder and the transcription loop
// and takes no lock (one run uses it at a time).
//
// Shapes, with E the cache embedding size, S the cache length and W the
// encoder output length: inputIds and cacheLength [1] int32; keyCache,
// valueCache and the prefill caches [1, E, 1, S] float16; alignmentWeights
// [S, W] float16; kvCacheUpdateMask [1, S] int32 (one-hot write position);
// decoderKeyPaddingMask [1, S] float16 (0 visible, -10000 masked).

#include "platform/ml/MultiArray.h"

#include <vector>

namespace murmex {

class DecodingInputs {
public:
    DecodingInputs(std::vector<int> initialPrompt, platform::ml::MultiArray inputIds,
                   platform::ml::MultiArray cacheLength, platform::ml::MultiArray keyCache,
                   platform::ml::MultiArray valueCache, platform::ml::MultiArray alignmentWeights,
                   platform::ml::MultiArray kvCacheUpdateMask,
                   platform::ml::MultiArray decoderKeyPaddingMask,
                   platform::ml::MultiArray prefillKeyCache,
                   platform::ml::MultiArray prefillValueCache);

    /// Returns the masks and the cache length to the state right after a
    /// prefill of `prefilledCacheSize` positions, for a token context of
    /// `maxTokenContext` positions: positions 0...min(P, M-1) open in the
    /// padding mask, later ones masked, and the update mask's one 1 at
    /// min(P, M-1). Writes only positions below M, and never past the end of
    /// either mask: a context longer than a mask is cut to the mask's length,
    /// a negative one counts as 0.
    void reset(int prefilledCacheSize, int maxTokenContext);

    std::vector<int> initialPrompt;
    platform::ml::MultiArray inputIds;
    platform::ml::MultiArray cacheLength;
    platform::ml::MultiArray keyCache;
    platform::ml::MultiArray valueCache;
    platform::ml::MultiArray alignmentWeights;
    platform::ml::MultiArray kvCacheUpdateMask;
    platform::ml::MultiArray decoderKeyPaddingMask;
    platform::ml::MultiArray prefillKeyCache;
    platform::ml::MultiArray prefillValueCache;
};

} // namespace murmex
