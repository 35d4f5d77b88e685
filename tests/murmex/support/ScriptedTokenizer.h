#pragma once
// A small Whisper-shaped tokenizer for decoding tests: ids 0..9 are text
// pieces, 10..19 markers, languages and tasks, and 20 upward timestamps of
// 0.02 s each. Words split at pieces that start with a blank, special
// tokens and lone punctuation, like the real tokenizer's blank-based split.

#include "murmex/core/WhisperTokenizer.h"

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

namespace murmex::testing {

class ScriptedTokenizer : public WhisperTokenizer {
public:
    static constexpr int kTimeTokenBegin = 20;

    explicit ScriptedTokenizer(int vocabularySize = 1600) : vocabularySize_(vocabularySize) {
        pieces_ = {" hello", " world", ",", ".", " (", " wor", "ld", " a", " b", "!"};
        markers_ = {"<|endoftext|>", "<|startoftranscript|>", "<|en|>", "<|transcribe|>", "<|startofprev|>",
                    "<|nospeech|>", "<|notimestamps|>", "<|ru|>", "<|translate|>", "<|xx|>"};
        special_ = SpecialTokens{.endToken = 10, .englishToken = 12, .noSpeechToken = 15, .noTimestampsToken = 16,
                                 .specialTokenBegin = 10, .startOfPreviousToken = 14, .startOfTranscriptToken = 11,
                                 .timeTokenBegin = kTimeTokenBegin, .transcribeToken = 13, .translateToken = 18,
                                 .whitespaceToken = 7};
        languages_ = {12, 17, 19};
    }

    std::vector<int> encode(std::string_view) const override { return {}; }

    std::string decode(const std::vector<int>& tokens) const override {
        std::string text;
        for (int token : tokens) text += convertIdToToken(token).value_or("");
        return text;
    }

    std::optional<int> convertTokenToId(std::string_view token) const override {
        for (int id = 0; id < kTimeTokenBegin; ++id) {
            if (convertIdToToken(id) == std::string(token)) return id;
        }
        return std::nullopt;
    }

    std::optional<std::string> convertIdToToken(int id) const override {
        if (id < 0 || id >= vocabularySize_) return std::nullopt;
        if (id < 10) return pieces_[static_cast<size_t>(id)];
        if (id < kTimeTokenBegin) return markers_[static_cast<size_t>(id - 10)];
        char text[32];
        std::snprintf(text, sizeof text, "<|%.2f|>", (id - kTimeTokenBegin) * 0.02);
        return std::string(text);
    }

    const SpecialTokens& specialTokens() const override { return special_; }
    const std::unordered_set<int>& allLanguageTokens() const override { return languages_; }

    WordTokens splitToWordTokens(const std::vector<int>& tokenIds) const override {
        WordTokens split;
        for (int token : tokenIds) {
            std::string piece = convertIdToToken(token).value_or("");
            const bool startsWord = token >= special_.specialTokenBegin || piece.starts_with(' ') || piece == "," ||
                                    piece == "." || piece == "!";
            if (startsWord || split.words.empty()) {
                split.words.push_back(piece);
                split.wordTokens.push_back({token});
            } else {
                split.words.back() += piece;
                split.wordTokens.back().push_back(token);
            }
        }
        return split;
    }

private:
    int vocabularySize_;
    std::vector<std::string> pieces_;
    std::vector<std::string> markers_;
    SpecialTokens special_;
    std::unordered_set<int> languages_;
};

}  // namespace murmex::testing
