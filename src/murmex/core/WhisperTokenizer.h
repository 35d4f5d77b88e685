#pragma once
// The speech engine's view of its tokenizer: text to ids and back, token
// text to id and back, the special tokens the decoder needs, the set of
// language tokens, and the split of a token sequence into words for word
// timestamps. `WhisperTokenizerWrapper` is the implementation.

#include "murmex/core/SpecialTokens.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace murmex {

/// Words and the ids each word is made of; both lists have the same length.
struct WordTokens {
    std::vector<std::string> words;
    std::vector<std::vector<int>> wordTokens;
};

class WhisperTokenizer {
public:
    virtual ~WhisperTokenizer() = default;

    virtual std::vector<int> encode(std::string_view text) const = 0;
    /// Ids to text; special tokens stay in the text.
    virtual std::string decode(const std::vector<int>& tokens) const = 0;
    /// Absent when the text is not a token.
    virtual std::optional<int> convertTokenToId(std::string_view token) const = 0;
    /// Absent when the id is not in the vocabulary.
    virtual std::optional<std::string> convertIdToToken(int id) const = 0;

    virtual const SpecialTokens& specialTokens() const = 0;
    virtual const std::unordered_set<int>& allLanguageTokens() const = 0;

    virtual WordTokens splitToWordTokens(const std::vector<int>& tokenIds) const = 0;
};

} // namespace murmex
