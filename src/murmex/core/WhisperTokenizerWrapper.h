#pragma once
// The engine's tokenizer: wraps a tokenizer of the tokenizer library, finds
// the special tokens by their texts once when it is created, and falls back
// to the standard Whisper ids for texts the vocabulary lacks.

#include "murmex/core/WhisperTokenizer.h"
#include "tokenizers/Tokenizer.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace murmex {

class WhisperTokenizerWrapper : public WhisperTokenizer {
public:
    /// Looks up the special tokens and the language tokens. A token text
    /// counts as known only when its id converts back to the same text, so a
    /// tokenizer that answers every unknown text with its unknown-token id
    /// still gets the fixed fallback ids. Never fails.
    explicit WhisperTokenizerWrapper(std::shared_ptr<const tokenizers::Tokenizer> tokenizer,
                                     std::optional<std::string> tokenizerFolder = std::nullopt);

    std::vector<int> encode(std::string_view text) const override;
    std::string decode(const std::vector<int>& tokens) const override;
    std::optional<int> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(int id) const override;

    const SpecialTokens& specialTokens() const override { return specialTokens_; }
    const std::unordered_set<int>& allLanguageTokens() const override { return allLanguageTokens_; }

    /// Splits by characters for languages written without blanks (Chinese,
    /// Japanese, Thai, Lao, Burmese, Cantonese), else at blanks.
    WordTokens splitToWordTokens(const std::vector<int>& tokenIds) const override;

    const std::shared_ptr<const tokenizers::Tokenizer>& tokenizer() const { return tokenizer_; }
    /// The folder the tokenizer was loaded from; kept for reference.
    const std::optional<std::string>& tokenizerFolder() const { return tokenizerFolder_; }

private:
    /// Groups tokens into pieces that decode to whole characters.
    WordTokens splitTokensOnUnicode(const std::vector<int>& tokens) const;
    /// Joins those pieces into words that start at a blank, a special token
    /// or a lone punctuation character.
    WordTokens splitTokensOnSpaces(const std::vector<int>& tokens) const;
    /// The id of `text` when the vocabulary really holds it.
    std::optional<int> verifiedId(const std::string& text) const;

    std::shared_ptr<const tokenizers::Tokenizer> tokenizer_;
    std::optional<std::string> tokenizerFolder_;
    SpecialTokens specialTokens_;
    std::unordered_set<int> allLanguageTokens_;
};

} // namespace murmex
