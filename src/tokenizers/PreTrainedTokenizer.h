#pragma once
// The tokenizer built from a tokenizer configuration (tokenizer_config.json)
// and tokenizer data (tokenizer.json): added-token splitting, normalizer,
// pre-tokenizer, model, post-processor, decoder and the final clean-up.
// Immutable after construction; safe to use from several threads at once.

#include "hub/Config.h"
#include "tokenizers/Decoder.h"
#include "tokenizers/LiteralAlternation.h"
#include "tokenizers/Normalizer.h"
#include "tokenizers/PostProcessor.h"
#include "tokenizers/PreTokenizer.h"
#include "tokenizers/Regex.h"
#include "tokenizers/Tokenizer.h"
#include "tokenizers/TokenizingModel.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace jinja {
class Template;
}

namespace tokenizers {

class PreTrainedTokenizer : public Tokenizer {
public:
    /// Throws TokenizerError, ConfigurationError, or the model's error.
    /// `strict` decides whether an unregistered model class is an error
    /// (TokenizerError::unsupportedTokenizer) or falls back to byte-pair
    /// encoding with a warning line on standard output.
    PreTrainedTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                        bool strict = true);

    std::vector<std::string> tokenize(std::string_view text) const override;
    std::vector<TokenId> encode(std::string_view text) const override { return encode(text, true); }
    /// Throws TokenizerError::mismatchedConfig when a token has no id (a
    /// vocabulary without the byte or unknown tokens the pipeline produces).
    std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const override;
    using Tokenizer::decode;
    std::string decode(const std::vector<TokenId>& tokens, bool skipSpecialTokens) const override;

    std::optional<TokenId> convertTokenToId(std::string_view token) const override {
        return model_->convertTokenToId(token);
    }
    std::optional<std::string> convertIdToToken(TokenId id) const override {
        return model_->convertIdToToken(id);
    }

    std::optional<std::string> bosToken() const override { return model_->bosToken(); }
    std::optional<TokenId> bosTokenId() const override { return model_->bosTokenId(); }
    std::optional<std::string> eosToken() const override { return model_->eosToken(); }
    std::optional<TokenId> eosTokenId() const override { return model_->eosTokenId(); }
    std::optional<std::string> unknownToken() const override { return model_->unknownToken(); }
    std::optional<TokenId> unknownTokenId() const override { return model_->unknownTokenId(); }
    bool fuseUnknownTokens() const { return model_->fuseUnknownTokens(); }

    bool hasChatTemplate() const override;
    using Tokenizer::applyChatTemplate;
    std::vector<TokenId>
    applyChatTemplate(const std::vector<Message>& messages,
                      const std::optional<ChatTemplateArgument>& chatTemplate,
                      bool addGenerationPrompt, bool truncation,
                      std::optional<std::int64_t> maxLength,
                      const std::optional<std::vector<ToolSpec>>& tools,
                      const std::optional<Message>& additionalContext) const override;

    std::vector<std::string> preTokenize(std::string_view text, PreTokenizerOptions options) const;
    std::string normalize(std::string_view text) const;
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         bool addSpecialTokens) const;
    std::vector<std::string> decodeTokens(const std::vector<std::string>& tokens) const;
    std::string cleanUp(std::string text) const;
    std::vector<std::string> fuseUnknown(const std::vector<std::string>& tokens) const;

    const TokenizingModel& model() const { return *model_; }
    const std::unordered_set<std::string>& addedTokens() const { return addedTokens_; }
    const std::unordered_map<std::string, TokenId>& specialTokens() const { return specialTokens_; }
    const hub::Config& tokenizerConfig() const { return tokenizerConfig_; }

protected:
    /// The sections of `text` between added tokens (added tokens are
    /// sections of their own), before any other stage.
    std::vector<std::string> sections(std::string_view text) const;
    /// Normalizes and pre-tokenizes one section (the `index`-th) and hands
    /// each piece to `sink`.
    void forEachPiece(std::string_view section, std::size_t index,
                      const std::function<void(std::string_view)>& sink) const;
    /// The ids of token texts; throws TokenizerError::mismatchedConfig for a
    /// token without one.
    std::vector<TokenId> idsOfTokens(const std::vector<std::string>& tokens) const;

private:
    /// The compiled template of a template text, compiled on first use.
    std::shared_ptr<const jinja::Template> compiledTemplate(const std::string& text) const;

    std::shared_ptr<const TokenizingModel> model_;
    std::unordered_set<std::string> addedTokens_;
    std::unordered_map<std::string, TokenId> specialTokens_;
    std::unordered_set<TokenId> specialTokenIds_;
    // Cuts text at added tokens: "\s*(content)" for lstrip, "(content)\s*"
    // for rstrip, longest contents first.
    std::shared_ptr<const LiteralAlternation> addedTokensRegex_;
    PreTokenizerPtr preTokenizer_;
    NormalizerPtr normalizer_;
    PostProcessorPtr postProcessor_;
    DecoderPtr decoder_;
    hub::Config tokenizerConfig_;
    bool cleanUpTokenizationSpaces_ = true;
    // The only state that changes after construction: compiled chat
    // templates by text, guarded by cacheLock_.
    mutable std::mutex cacheLock_;
    mutable std::unordered_map<std::string, std::shared_ptr<const jinja::Template>>
        compiledChatTemplateCache_;
};

} // namespace tokenizers
