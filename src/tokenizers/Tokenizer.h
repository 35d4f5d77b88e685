#pragma once
// The one interface through which the rest of the system uses a tokenizer:
// text to token ids and back, single token/id conversion and the special
// tokens of the model. `PreTrainedTokenizer` is the implementation built from
// tokenizer documents; callers hold a `std::shared_ptr<Tokenizer>`.
//
// Texts are UTF-8. Token ids are signed 64-bit integers. Every operation is
// const and safe to call from several threads on one shared tokenizer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

using TokenId = std::int64_t;

/// fn applied to each item, results in order.
template <typename In, typename Fn> auto convertEach(const std::vector<In>& items, Fn&& fn) {
    std::vector<decltype(fn(items.front()))> out;
    out.reserve(items.size());
    for (const auto& item : items)
        out.push_back(fn(item));
    return out;
}

class Tokenizer {
public:
    virtual ~Tokenizer() = default;

    /// Text -> token texts, without the special tokens a post-processor adds.
    virtual std::vector<std::string> tokenize(std::string_view text) const = 0;

    /// Text -> ids, with the special tokens of the post-processor.
    virtual std::vector<TokenId> encode(std::string_view text) const = 0;
    virtual std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const = 0;

    /// Ids -> text. Ids the vocabulary lacks are left out; never throws for
    /// any list of ids.
    virtual std::string decode(const std::vector<TokenId>& tokens,
                               bool skipSpecialTokens) const = 0;

    /// The id of a token text; for a text the vocabulary lacks, the model's
    /// unknown-token id when it has one, otherwise absent.
    virtual std::optional<TokenId> convertTokenToId(std::string_view token) const = 0;
    /// The token text of an id, absent for an id the vocabulary lacks.
    virtual std::optional<std::string> convertIdToToken(TokenId id) const = 0;

    virtual std::optional<std::string> bosToken() const = 0;
    virtual std::optional<TokenId> bosTokenId() const = 0;
    virtual std::optional<std::string> eosToken() const = 0;
    virtual std::optional<TokenId> eosTokenId() const = 0;
    virtual std::optional<std::string> unknownToken() const = 0;
    virtual std::optional<TokenId> unknownTokenId() const = 0;

    /// Whether the tokenizer configuration carries a chat template.
    virtual bool hasChatTemplate() const { return false; }

    // Shared forms built on the operations above.

    std::vector<TokenId> operator()(std::string_view text, bool addSpecialTokens = true) const {
        return encode(text, addSpecialTokens);
    }

    /// Same as `decode(tokens, false)`: special tokens stay in the text.
    std::string decode(const std::vector<TokenId>& tokens) const { return decode(tokens, false); }

    std::vector<std::optional<TokenId>>
    convertTokensToIds(const std::vector<std::string>& tokens) const {
        return convertEach(tokens,
                           [this](const std::string& token) { return convertTokenToId(token); });
    }

    std::vector<std::optional<std::string>>
    convertIdsToTokens(const std::vector<TokenId>& ids) const {
        return convertEach(ids, [this](TokenId id) { return convertIdToToken(id); });
    }
};

} // namespace tokenizers
