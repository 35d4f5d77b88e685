#pragma once
// The interface through which the pre-trained tokenizer drives a
// tokenization model (byte-pair encoding, WordPiece, Unigram), and the
// constructor form every registered model provides.

#include "hub/BinaryDistinctString.h"
#include "hub/Config.h"
#include "tokenizers/Tokenizer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class TokenizingModel {
public:
    virtual ~TokenizingModel() = default;

    /// One pre-tokenized piece -> token texts.
    virtual std::vector<std::string> tokenize(std::string_view text) const = 0;
    std::vector<std::string> operator()(std::string_view text) const { return tokenize(text); }

    virtual std::optional<TokenId> convertTokenToId(std::string_view token) const = 0;
    virtual std::optional<std::string> convertIdToToken(TokenId id) const = 0;

    std::vector<std::optional<TokenId>>
    convertTokensToIds(const std::vector<std::string>& tokens) const {
        return convertEach(tokens,
                           [this](const std::string& token) { return convertTokenToId(token); });
    }
    std::vector<std::optional<std::string>>
    convertIdsToTokens(const std::vector<TokenId>& ids) const {
        return convertEach(ids, [this](TokenId id) { return convertIdToToken(id); });
    }

    /// Appends the ids of tokenize(piece), each as convertTokenToId gives
    /// it; false, with nothing appended, when a token has no id. Models may
    /// do this without building the token texts.
    virtual bool appendIds(std::string_view piece, std::vector<TokenId>& ids) const {
        std::vector<TokenId> pieceIds;
        for (const auto& token : tokenize(piece)) {
            const auto id = convertTokenToId(token);
            if (!id) return false;
            pieceIds.push_back(*id);
        }
        ids.insert(ids.end(), pieceIds.begin(), pieceIds.end());
        return true;
    }

    virtual std::optional<std::string> bosToken() const = 0;
    virtual std::optional<TokenId> bosTokenId() const = 0;
    virtual std::optional<std::string> eosToken() const = 0;
    virtual std::optional<TokenId> eosTokenId() const = 0;
    virtual std::optional<std::string> unknownToken() const = 0;
    virtual std::optional<TokenId> unknownTokenId() const = 0;
    virtual bool fuseUnknownTokens() const = 0;
};

/// Added-token contents with their ids, as the pre-trained tokenizer collects them.
using AddedTokenIds = hub::BinaryDistinctMap<TokenId>;

/// How a registered model class is built: from the tokenizer configuration,
/// the tokenizer data and the added tokens. May throw.
using PreTrainedTokenizerModel = std::function<std::shared_ptr<const TokenizingModel>(
    const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
    const AddedTokenIds& addedTokens)>;

} // namespace tokenizers
