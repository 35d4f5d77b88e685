#pragma once
// The byte-pair-encoding model: merges the characters of one piece pair by
// pair in merge-rank order and maps the resulting symbols to vocabulary ids,
// falling back to "<0xHH>" byte tokens for symbols the vocabulary lacks.
//
// Merging works on interned symbol ids with a priority queue, so a piece of
// n characters costs O(n log n) whatever its length; each step merges every
// occurrence of the best-ranked pair left to right, exactly as the
// textbook rank-by-rank loop does.

#include "hub/Config.h"
#include "platform/system/LargeAllocator.h"
#include "tokenizers/StringIdTable.h"
#include "tokenizers/TokenizingModel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tokenizers {

class BPETokenizer final : public TokenizingModel {
public:
    /// Throws ConfigurationError("BPETokenizer requires merges") without a
    /// merge list and TokenizerError::missingVocab without a vocabulary object.
    BPETokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                 const AddedTokenIds& addedTokens);
    // The id table views the vocabulary's keys: not copyable.
    BPETokenizer(const BPETokenizer&) = delete;
    BPETokenizer& operator=(const BPETokenizer&) = delete;

    /// The merges of a "merges" member: arrays of texts, or texts cut at each
    /// space; absent when the member is not an array.
    static std::optional<std::vector<std::vector<std::string>>>
    mergesFromConfig(const hub::Config& merges);

    std::vector<std::string> tokenize(std::string_view text) const override;
    /// The merged symbols of one piece joined by single spaces.
    std::string bpe(std::string_view token) const;
    /// One "<0xHH>" token per UTF-8 byte.
    static std::vector<std::string> hexaEncode(std::string_view text);

    std::optional<TokenId> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(TokenId id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<TokenId> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<TokenId> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override { return unknownToken_; }
    std::optional<TokenId> unknownTokenId() const override { return unknownTokenId_; }
    bool fuseUnknownTokens() const override { return fuseUnknownTokens_; }

    std::size_t vocabCount() const { return tokensToIds_.size(); }

    /// Appends the ids of the piece's tokens (what tokenize() then
    /// convertTokenToId() give) without building token texts; false, with
    /// nothing appended, when a token has no id.
    bool appendIds(std::string_view piece, std::vector<TokenId>& ids) const override;

private:
    struct StringHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    struct Merge {
        std::int32_t rank;
        std::int32_t merged; // symbol id of the joined pair
    };
    struct Span {
        std::uint32_t begin, end;
    };
    /// Open-addressing table from a symbol pair to its merge.
    class MergeTable {
    public:
        void assign(std::uint64_t key, Merge merge);
        const Merge* find(std::uint64_t key) const;
        void reserve(std::size_t count);

    private:
        std::size_t slot(std::uint64_t key) const;
        std::vector<std::uint64_t, platform::system::LargeAllocator<std::uint64_t>> keys_;
        std::vector<Merge, platform::system::LargeAllocator<Merge>> values_;
        std::size_t size_ = 0;
        std::size_t mask_ = 0;
        unsigned shift_ = 64;
    };

    std::int32_t internSymbol(std::string_view text);
    std::int32_t symbolOf(std::string_view character) const;
    /// The merged symbols of `piece` as byte spans, in `spans` (reused).
    void mergeSymbols(std::string_view piece, std::vector<Span>& spans) const;
    /// Calls fn(part) for every space-separated part of every merged symbol.
    template <typename Fn> void forEachPart(std::string_view piece, Fn&& fn) const;
    const Merge* findMerge(std::int32_t a, std::int32_t b) const;

    StringIdTable symbols_;
    MergeTable bpeRanks_;
    // Symbol ids of the one-code-point characters below U+0300 (-1: none),
    // so that byte-level text never hashes a character.
    std::vector<std::int32_t> smallSymbols_;
    StringIdTable tokensToIds_;
    // Inverse of tokensToIds_, viewing its keys: dense or sparse.
    std::vector<std::optional<std::string_view>,
                platform::system::LargeAllocator<std::optional<std::string_view>>>
        denseIdsToTokens_;
    std::unordered_map<TokenId, std::string_view> idsToTokens_;
    std::optional<std::string> bosToken_;
    std::optional<TokenId> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<TokenId> eosTokenId_;
    std::optional<std::string> unknownToken_;
    std::optional<TokenId> unknownTokenId_;
    bool fuseUnknownTokens_ = false;
    // Tells this model's entries in the per-thread piece cache apart.
    std::uint64_t serial_;
};

} // namespace tokenizers
