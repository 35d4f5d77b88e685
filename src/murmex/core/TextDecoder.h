#pragma once
// The default text decoder: runs the "TextDecoder" model of a model folder
// one token per step, with greedy or top-k sampling through the logits
// filters, progress reports that may stop the window, and the quality
// measures the transcription loop uses to decide on a retry.

#include "murmex/core/TextDecoding.h"
#include "murmex/core/WhisperMLModel.h"
#include "murmex/core/text/LanguageLogitsFilter.h"
#include "tessary_core/EarlyStopActor.h"
#include "tessary_core/PropertyLock.h"

#include <memory>

namespace murmex {

class TextDecoder : public TextDecoding,
                    public LockedWhisperMLModel,
                    public std::enable_shared_from_this<TextDecoder> {
public:
    TextDecoder();
    ~TextDecoder() override;
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    /// Drops the model, the prefill model and the cached language filter;
    /// the tokenizer, the filters and the multilingual flag stay.
    void unloadModel() override;

    std::shared_ptr<WhisperTokenizer> tokenizer() const override;
    void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) override;
    std::shared_ptr<WhisperMLModel> prefillData() const override;
    void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) override;
    bool isModelMultilingual() const override;
    void setIsModelMultilingual(bool multilingual) override;
    /// A new decoder has an empty list (present, not absent).
    std::optional<LogitsFilterList> logitsFilters() const override;
    void setLogitsFilters(std::optional<LogitsFilterList> filters) override;

    bool supportsWordTimestamps() const override;
    std::optional<int> logitsSize() const override;
    std::optional<int> kvCacheEmbedDim() const override;
    std::optional<int> kvCacheMaxSequenceLength() const override;
    std::optional<int> windowSize() const override;
    std::optional<int> embedSize() const override;

    /// Without a loaded model: an output whose logits and cache are absent.
    std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input) override;

    /// The token loop over one window; see the .cpp for the steps.
    DecodingResult decodeText(const platform::ml::MultiArray& encoderOutput, DecodingInputs& inputs,
                              TokenSampling& sampler, const DecodingOptions& options,
                              const DecodingCallback& callback) override;

    DecodingResult detectLanguage(const platform::ml::MultiArray& encoderOutput,
                                  DecodingInputs& inputs, TokenSampling& sampler,
                                  const DecodingOptions& options,
                                  platform::system::Float16 temperature) override;

    /// The filters of one window, in order: the configured ones, blank
    /// suppression, token suppression, the timestamp rules.
    LogitsFilterList createLogitsFilters(const DecodingOptions& options, int prefilledIndex,
                                         int initialPromptIndex,
                                         const WhisperTokenizer& tokenizer) const;

    /// Logs the first positions of the caches and masks at debug level.
    void debugCaches(const DecodingInputs& decoderInputs, int tokenIndex, int prefillSize) const;

    /// The decoder's stop flags, keyed by window.
    tessary::EarlyStopActor& earlyStopActor() { return *earlyStopActor_; }

private:
    class ProgressReporter;

    std::shared_ptr<LanguageLogitsFilter> languageFilter(const WhisperTokenizer& tokenizer,
                                                         int logitsDim);

    tessary::PropertyLock<std::shared_ptr<WhisperTokenizer>> tokenizer_;
    tessary::PropertyLock<std::shared_ptr<WhisperMLModel>> prefillData_;
    tessary::PropertyLock<bool> isModelMultilingual_{false};
    tessary::PropertyLock<std::optional<LogitsFilterList>> logitsFilters_{LogitsFilterList{}};
    tessary::PropertyLock<std::shared_ptr<LanguageLogitsFilter>> languageLogitsFilter_;
    const std::shared_ptr<tessary::EarlyStopActor> earlyStopActor_;
    std::unique_ptr<ProgressReporter> progressReporter_;
};

/// The holder of the optional "TextDecoderContextPrefill" model.
class TextDecoderContextPrefill : public LockedWhisperMLModel {};

} // namespace murmex
