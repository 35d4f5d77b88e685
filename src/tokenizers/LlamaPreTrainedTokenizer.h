#pragma once
// The tokenizer class for Llama-style documents. Unless the configuration
// says "legacy": false it behaves as the plain pre-trained tokenizer; in the
// non-legacy mode it drops the normalizer, pre-tokenizes with Metaspace and
// puts one "▁" before the text. Its post-processor is always a template
// built from add_bos_token / add_eos_token unless the data has a template.

#include "tokenizers/PreTrainedTokenizer.h"

#include <optional>

namespace tokenizers {

class LlamaPreTrainedTokenizer final : public PreTrainedTokenizer {
public:
    LlamaPreTrainedTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                             bool strict = true);

    std::vector<std::string> tokenize(std::string_view text) const override;
    bool isLegacy() const { return isLegacy_; }

    /// A TemplateProcessing configuration replacing `processorConfig`, or
    /// absent when that already is a template. Throws
    /// TokenizerError::mismatchedConfig for add_bos_token / add_eos_token
    /// without the token.
    static std::optional<hub::Config> maybeUpdatePostProcessor(const hub::Config& tokenizerConfig,
                                                               const hub::Config& processorConfig);

private:
    static hub::Config editedData(const hub::Config& tokenizerConfig,
                                  const hub::Config& tokenizerData);

    bool isLegacy_;
};

} // namespace tokenizers
