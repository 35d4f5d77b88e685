#pragma once
// The Unigram model: every vocabulary piece carries a score (a log
// probability), and a text is split into the pieces whose scores add up to
// the most, found over a lattice of all pieces that occur in it. A
// character that begins no one-character piece may always be taken as the
// unknown piece, scored below every real one, so a split always exists.
//
// The vocabulary compares pieces by their exact code units.

#include "hub/Config.h"
#include "tokenizers/StringIdTable.h"
#include "tokenizers/TokenizingModel.h"
#include "tokenizers/Trie.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class UnigramTokenizer : public TokenizingModel {
public:
    struct SentencePieceToken {
        std::string token;
        float score = 0;
    };

    /// From the "vocab" array inside "model" of [piece, score] elements
    /// (else TokenizerError::missingVocab) and its "unk_id". A malformed
    /// element, a piece listed twice, or an unknown-piece id that is not an
    /// integer naming an element is TokenizerError::malformedVocab. The
    /// added tokens are not used.
    UnigramTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                     const AddedTokenIds& addedTokens);
    // The trie and the id table refer to nothing outside, but a model is
    // shared, never copied.
    UnigramTokenizer(const UnigramTokenizer&) = delete;
    UnigramTokenizer& operator=(const UnigramTokenizer&) = delete;

    /// The best split of one piece of text: substrings of it.
    std::vector<std::string> tokenize(std::string_view text) const override;

    std::optional<TokenId> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(TokenId id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<TokenId> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<TokenId> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override { return unknownPiece_.token; }
    std::optional<TokenId> unknownTokenId() const override { return unknownTokenId_; }
    bool fuseUnknownTokens() const override { return true; }

    const std::vector<SentencePieceToken>& vocab() const { return vocab_; }
    const SentencePieceToken& unknownPiece() const { return unknownPiece_; }
    /// The smallest score of the vocabulary, but at most 999.
    float minScore() const { return minScore_; }

private:
    std::vector<SentencePieceToken> vocab_;
    SentencePieceToken unknownPiece_;
    std::optional<TokenId> unknownTokenId_;
    float minScore_ = 999;
    StringIdTable tokensToIds_;
    std::optional<std::string> bosToken_ = " ";
    std::optional<TokenId> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<TokenId> eosTokenId_;
    Trie trie_;
};

/// The Unigram model as "T5Tokenizer" names it: built the same way.
class T5Tokenizer final : public UnigramTokenizer {
public:
    T5Tokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                const AddedTokenIds& addedTokens)
        : UnigramTokenizer(tokenizerConfig, tokenizerData, addedTokens) {}
};

} // namespace tokenizers
