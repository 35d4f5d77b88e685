#include "tokenizers/UnigramTokenizer.h"

#include "tokenizers/TokenLattice.h"
#include "tokenizers/TokenizerError.h"

#include <algorithm>

namespace tokenizers {

UnigramTokenizer::UnigramTokenizer(const hub::Config& tokenizerConfig,
                                   const hub::Config& tokenizerData, const AddedTokenIds&) {
    const hub::Config& model = tokenizerData["model"];
    const hub::Config& pieces = model["vocab"];
    if (pieces.kind() != hub::Config::Kind::array) throw TokenizerError::missingVocab();
    bool malformed = false;
    pieces.forEachElement([&](const hub::Config& element) {
        const auto* parts = element.array();
        const auto token = parts && !parts->empty() ? parts->front().string() : std::nullopt;
        const auto score = parts && !parts->empty() ? parts->back().floating() : std::nullopt;
        if (!token || !score) {
            malformed = true;
            return;
        }
        vocab_.push_back(SentencePieceToken{*token, *score});
    });
    if (malformed) throw TokenizerError::malformedVocab();

    for (const auto& piece : vocab_)
        minScore_ = std::min(minScore_, piece.score);

    // The unknown piece must be one of the vocabulary's.
    const auto unknownId = model["unkId"].integer();
    if (!unknownId || *unknownId < 0 || *unknownId >= static_cast<std::int64_t>(vocab_.size()))
        throw TokenizerError::malformedVocab();
    unknownTokenId_ = *unknownId;
    unknownPiece_ =
        SentencePieceToken{vocab_[static_cast<std::size_t>(*unknownId)].token, minScore_ - 10};

    // A piece listed twice would have two ids for one text.
    tokensToIds_.reserve(vocab_.size());
    for (std::size_t id = 0; id < vocab_.size(); ++id) {
        const auto stored =
            tokensToIds_.findOrInsert(vocab_[id].token, static_cast<std::int64_t>(id));
        if (stored != static_cast<std::int64_t>(id)) throw TokenizerError::malformedVocab();
    }

    if (const std::int64_t* id = tokensToIds_.find(*bosToken_)) bosTokenId_ = *id;
    eosToken_ = tokenizerConfig["eosToken"].string();
    if (eosToken_) {
        if (const std::int64_t* id = tokensToIds_.find(*eosToken_)) eosTokenId_ = *id;
    }

    for (std::size_t id = 0; id < vocab_.size(); ++id)
        trie_.insert(vocab_[id].token, static_cast<std::int64_t>(id));
}

std::vector<std::string> UnigramTokenizer::tokenize(std::string_view text) const {
    TokenLattice lattice(text, bosTokenId_.value_or(0), eosTokenId_.value_or(0));
    const auto& characters = lattice.characterBounds();
    const auto length = static_cast<std::int32_t>(characters.size()) - 1;
    for (std::int32_t start = 0; start < length; ++start) {
        bool singleCharacter = false;
        auto search = trie_.commonPrefixSearch(text, characters, static_cast<std::size_t>(start));
        while (const auto leaf = search.next()) {
            // The tree holds the vocabulary's own spellings, so every piece it
            // finds has its id.
            lattice.insert(start, static_cast<std::int32_t>(leaf->characters),
                           vocab_[static_cast<std::size_t>(leaf->value)].score, leaf->value);
            singleCharacter = singleCharacter || leaf->characters == 1;
        }
        if (!singleCharacter)
            lattice.insert(start, 1, unknownPiece_.score, unknownTokenId_.value_or(0));
    }
    return lattice.tokens();
}

std::optional<TokenId> UnigramTokenizer::convertTokenToId(std::string_view token) const {
    if (const std::int64_t* id = tokensToIds_.find(token)) return *id;
    return unknownTokenId_;
}

std::optional<std::string> UnigramTokenizer::convertIdToToken(TokenId id) const {
    if (id < 0 || id >= static_cast<TokenId>(vocab_.size())) return std::nullopt;
    return vocab_[static_cast<std::size_t>(id)].token;
}

} // namespace tokenizers
