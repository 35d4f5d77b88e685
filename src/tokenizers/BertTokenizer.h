#pragma once
// The WordPiece model: CJK ideographs set apart, a basic tokenizer that cuts
// at blanks and punctuation (with optional accent removal and lower-casing),
// then greedy longest-match-first sub-words, continuations marked "##".
//
// The vocabulary compares texts by canonical equivalence: a precomposed
// letter and its decomposed spelling are one entry.

#include "hub/Config.h"
#include "tokenizers/StringIdTable.h"
#include "tokenizers/TokenizingModel.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tokenizers {

/// Texts to ids, keyed by the NFC form of the text.
class CanonicalVocabulary {
public:
    /// Sets the id of `text`; a later text equivalent to an earlier one replaces its id.
    void assign(std::string_view text, TokenId id);
    std::optional<TokenId> find(std::string_view text) const;
    bool contains(std::string_view text) const { return find(text).has_value(); }
    std::size_t size() const { return table_.size(); }
    /// Calls fn(text, id) for every entry (the text in NFC).
    template <typename Fn> void forEach(Fn&& fn) const { table_.forEach(fn); }

private:
    StringIdTable table_;
};

/// Cuts text into words at blanks (space separators and the tab, not line
/// breaks) and around punctuation; with `doLowerCase`, accents are removed
/// from the whole text first and every word but those of `neverSplit` is
/// lower-cased.
class BasicTokenizer {
public:
    BasicTokenizer(bool doLowerCase, std::vector<std::string> neverSplit)
        : doLowerCase_(doLowerCase), neverSplit_(std::move(neverSplit)) {}

    std::vector<std::string> tokenize(std::string_view text) const;

    bool doLowerCase() const { return doLowerCase_; }
    const std::vector<std::string>& neverSplit() const { return neverSplit_; }

private:
    bool doLowerCase_;
    std::vector<std::string> neverSplit_;
};

/// Greedy longest-match-first sub-words of one word; a word of more than
/// `maxInputCharsPerWord` characters, or one that cannot be covered by the
/// vocabulary, is `unkToken`.
class WordpieceTokenizer {
public:
    WordpieceTokenizer(std::string unkToken, std::size_t maxInputCharsPerWord,
                       const CanonicalVocabulary& vocab)
        : unkToken_(std::move(unkToken)), maxInputCharsPerWord_(maxInputCharsPerWord),
          vocab_(vocab) {}

    std::vector<std::string> tokenize(std::string_view word) const;

    const std::string& unkToken() const { return unkToken_; }
    std::size_t maxInputCharsPerWord() const { return maxInputCharsPerWord_; }

private:
    std::string unkToken_;
    std::size_t maxInputCharsPerWord_;
    const CanonicalVocabulary& vocab_; // the model's
};

class BertTokenizer final : public TokenizingModel {
public:
    using Vocabulary = std::vector<std::pair<std::string, TokenId>>;

    /// From a vocabulary (later entries replace equivalent earlier ones);
    /// `merges` is accepted and not used.
    BertTokenizer(const Vocabulary& vocab, const std::optional<std::vector<std::string>>& merges,
                  bool tokenizeChineseChars, std::optional<std::string> bosToken,
                  std::optional<std::string> eosToken, bool fuseUnknownTokens, bool doLowerCase);
    /// From the documents: the "vocab" object inside "model" (else
    /// TokenizerError::missingVocab), the document's added tokens and then
    /// `addedTokens` replacing entries of the same text; "handle_chinese_chars",
    /// "do_lower_case" (both true by default), "fuse_unk", "bos_token" and
    /// "eos_token" from the configuration.
    BertTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                  const AddedTokenIds& addedTokens);
    // The word-piece tokenizer refers to the vocabulary: not copyable.
    BertTokenizer(const BertTokenizer&) = delete;
    BertTokenizer& operator=(const BertTokenizer&) = delete;

    std::vector<std::string> tokenize(std::string_view text) const override;

    std::optional<TokenId> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(TokenId id) const override;

    std::optional<std::string> bosToken() const override { return bosToken_; }
    std::optional<TokenId> bosTokenId() const override { return bosTokenId_; }
    std::optional<std::string> eosToken() const override { return eosToken_; }
    std::optional<TokenId> eosTokenId() const override { return eosTokenId_; }
    std::optional<std::string> unknownToken() const override {
        return wordpieceTokenizer_.unkToken();
    }
    std::optional<TokenId> unknownTokenId() const override {
        return vocab_.find(wordpieceTokenizer_.unkToken());
    }
    bool fuseUnknownTokens() const override { return fuseUnknownTokens_; }

    std::size_t maxLen() const { return maxLen_; }
    bool tokenizeChineseChars() const { return tokenizeChineseChars_; }

private:
    CanonicalVocabulary vocab_;
    BasicTokenizer basicTokenizer_;
    WordpieceTokenizer wordpieceTokenizer_;
    std::size_t maxLen_ = 512; // kept, not used
    bool tokenizeChineseChars_;
    std::unordered_map<TokenId, std::string> idsToTokens_;
    std::optional<std::string> bosToken_;
    std::optional<TokenId> bosTokenId_;
    std::optional<std::string> eosToken_;
    std::optional<TokenId> eosTokenId_;
    bool fuseUnknownTokens_;
};

} // namespace tokenizers
