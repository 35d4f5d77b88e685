#pragma once
// The sizes of a Whisper network, as its hyper-parameters name them, and the
// fixed framing of its audio front end.

#include "platform/ml/ModelManifest.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace platform::ml {

struct WhisperDimensions {
    static constexpr int64_t kSampleRate = 16000;
    static constexpr int64_t kFftLength = 400;
    static constexpr int64_t kHopLength = 160;
    static constexpr int64_t kFrequencyBins = kFftLength / 2 + 1;

    int64_t nMels = 80;
    int64_t nAudioCtx = 1500;
    int64_t nAudioState = 384;
    int64_t nAudioHead = 6;
    int64_t nAudioLayer = 4;
    int64_t nVocab = 51865;
    int64_t nTextCtx = 448;
    int64_t nTextState = 384;
    int64_t nTextHead = 6;
    int64_t nTextLayer = 4;
    /// Positions of the decoder's key-value cache kept by the caller.
    int64_t kvCacheLength = 224;
    /// (decoder layer, head) pairs whose cross-attention is averaged into
    /// "alignment_heads_weights"; empty means the output is absent.
    std::vector<std::pair<int64_t, int64_t>> alignmentHeads;

    /// Mel frames per window (two per encoder position) and samples per window.
    int64_t nFrames() const { return nAudioCtx * 2; }
    int64_t nSamples() const { return nFrames() * kHopLength; }
    /// Channels of the caller's key-value cache: every decoder layer's keys stacked.
    int64_t kvCacheEmbedDim() const { return nTextLayer * nTextState; }

    /// Stores the sizes as hyper-parameters of a manifest.
    void writeTo(ModelManifest& manifest) const;
    /// Reads the sizes back and checks them; throws ModelError naming `file`.
    static WhisperDimensions readFrom(const ModelManifest& manifest, const std::string& file);
};

} // namespace platform::ml
