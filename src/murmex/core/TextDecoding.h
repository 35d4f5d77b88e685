#pragma once
// The text-decoder stage: the Whisper text decoder run one token per step
// over the encoder output of one 30-second window, with its key-value cache
// kept outside the model in a DecodingInputs object.

#include "murmex/core/WhisperMLModel.h"
#include "murmex/core/WhisperTokenizer.h"
#include "murmex/core/text/LogitsFiltering.h"
#include "murmex/core/text/TokenSampling.h"
#include "murmex/records/DecodingCache.h"
#include "murmex/records/DecodingInputs.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/DecodingResult.h"
#include "murmex/records/TranscriptionProgress.h"
#include "platform/ml/MultiArray.h"
#include "platform/system/Float16.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace murmex {

/// The seven arrays of one decoder prediction, fed to the model inputs
/// "input_ids", "cache_length", "key_cache", "value_cache",
/// "kv_cache_update_mask", "encoder_output_embeds" and "decoder_key_padding_mask".
struct TextDecoderMLMultiArrayInputType {
    platform::ml::MultiArray inputIds;
    platform::ml::MultiArray cacheLength;
    platform::ml::MultiArray keyCache;
    platform::ml::MultiArray valueCache;
    platform::ml::MultiArray kvCacheUpdateMask;
    platform::ml::MultiArray encoderOutputEmbeds;
    platform::ml::MultiArray decoderKeyPaddingMask;
};

/// What one prediction returns: the logits and the cache updates.
struct TextDecoderMLMultiArrayOutputType {
    std::optional<platform::ml::MultiArray> logits;
    std::optional<DecodingCache> cache;
};

/// Told about every decoding step; answering false (not absent, not true)
/// asks the window to stop early.
using DecodingCallback = std::function<std::optional<bool>(const TranscriptionProgress&)>;

using LogitsFilterList = std::vector<std::shared_ptr<LogitsFiltering>>;

class TextDecoding {
public:
    virtual ~TextDecoding() = default;

    virtual std::shared_ptr<WhisperTokenizer> tokenizer() const = 0;
    virtual void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) = 0;
    /// The holder of the optional cache-prefill model.
    virtual std::shared_ptr<WhisperMLModel> prefillData() const = 0;
    virtual void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) = 0;
    virtual bool isModelMultilingual() const = 0;
    virtual void setIsModelMultilingual(bool multilingual) = 0;
    virtual std::optional<LogitsFilterList> logitsFilters() const = 0;
    virtual void setLogitsFilters(std::optional<LogitsFilterList> filters) = 0;

    /// Model dimensions; absent while no model is loaded.
    virtual bool supportsWordTimestamps() const = 0;
    virtual std::optional<int> logitsSize() const = 0;
    virtual std::optional<int> kvCacheEmbedDim() const = 0;
    virtual std::optional<int> kvCacheMaxSequenceLength() const = 0;
    virtual std::optional<int> windowSize() const = 0;
    virtual std::optional<int> embedSize() const = 0;

    /// One decoder prediction. Prediction errors and cancellation propagate.
    virtual std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input) = 0;

    /// New inputs sized from the loaded model, with `prompt` as the initial
    /// prompt: everything zero, the first position open and about to be
    /// written. Throws WhisperError (prepareDecoderInputsFailed) when a model
    /// dimension cannot be read.
    virtual std::shared_ptr<DecodingInputs> prepareDecoderInputs(const std::vector<int>& prompt);

    /// Builds the initial prompt for the options (start, language, task,
    /// timestamp mode, previous-text and prefix tokens) and, when allowed,
    /// fills the key-value cache from the prefill model.
    virtual std::shared_ptr<DecodingInputs>
    prefillDecoderInputs(std::shared_ptr<DecodingInputs> inputs,
                         const std::optional<DecodingOptions>& options);

    /// Runs the prefill model for a task (0 transcribe, 1 translate) and a
    /// language token; absent when there is no prefill model.
    virtual std::optional<DecodingCache> prefillKVCache(const platform::ml::MultiArray& task,
                                                        const platform::ml::MultiArray& language);

    /// Decodes one window from the inputs' cache position.
    virtual DecodingResult decodeText(const platform::ml::MultiArray& encoderOutput,
                                      DecodingInputs& inputs, TokenSampling& sampler,
                                      const DecodingOptions& options,
                                      const DecodingCallback& callback) = 0;

    /// The same as a one-element list.
    virtual std::vector<DecodingResult>
    decodeTextResults(const platform::ml::MultiArray& encoderOutput, DecodingInputs& inputs,
                      TokenSampling& sampler, const DecodingOptions& options,
                      const DecodingCallback& callback) {
        return {decodeText(encoderOutput, inputs, sampler, options, callback)};
    }

    /// The spoken language of one window, from a single decoder step.
    virtual DecodingResult detectLanguage(const platform::ml::MultiArray& encoderOutput,
                                          DecodingInputs& inputs, TokenSampling& sampler,
                                          const DecodingOptions& options,
                                          platform::system::Float16 temperature) = 0;

    /// The same as a one-element list.
    virtual std::vector<DecodingResult>
    detectLanguageResults(const platform::ml::MultiArray& encoderOutput, DecodingInputs& inputs,
                          TokenSampling& sampler, const DecodingOptions& options,
                          platform::system::Float16 temperature) {
        return {detectLanguage(encoderOutput, inputs, sampler, options, temperature)};
    }

    /// Copies the key and value slices ([1, E, 1, L]) into the caches
    /// ([1, E, 1, S]) at positions insertAtIndex ..< insertAtIndex + L. Each
    /// array is addressed through its own strides; positions or channels that
    /// do not fit both the slice and the cache are left out.
    static void updateKVCache(platform::ml::MultiArray& keyTensor,
                              const platform::ml::MultiArray& keySlice,
                              platform::ml::MultiArray& valueTensor,
                              const platform::ml::MultiArray& valueSlice, int insertAtIndex);

    /// Writes one step's alignment weights (read along the slice's last
    /// dimension) into row insertAtIndex + 1 of the [S, W] matrix: the row of
    /// the token that step predicted. Nothing is written past the last row.
    static void updateAlignmentWeights(platform::ml::MultiArray& alignmentTensor,
                                       const platform::ml::MultiArray& alignmentSlice,
                                       int insertAtIndex);
};

} // namespace murmex
