#pragma once
// A Whisper-shaped tokenizer for decoding tests. The small layout has text
// pieces 0..9, markers, languages and tasks 10..19 and timestamps from 20 on
// (0.02 s each); the Whisper layout puts the markers at the real Whisper ids
// so that it fits a model with the full vocabulary. Words split at pieces
// that start with a blank, special tokens and lone punctuation, like the
// real tokenizer's blank-based split.

#include "murmex/core/WhisperTokenizer.h"

#include <cstdio>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace murmex::testing {

class ScriptedTokenizer : public WhisperTokenizer {
public:
    static constexpr int kTimeTokenBegin = 20;

    /// The small layout.
    explicit ScriptedTokenizer(int vocabularySize = 1600)
        : ScriptedTokenizer(vocabularySize,
                            SpecialTokens{.endToken = 10,
                                          .englishToken = 12,
                                          .noSpeechToken = 15,
                                          .noTimestampsToken = 16,
                                          .specialTokenBegin = 10,
                                          .startOfPreviousToken = 14,
                                          .startOfTranscriptToken = 11,
                                          .timeTokenBegin = kTimeTokenBegin,
                                          .transcribeToken = 13,
                                          .translateToken = 18,
                                          .whitespaceToken = 7},
                            {{17, "<|ru|>"}, {19, "<|xx|>"}}) {}

    /// Markers at the ids of the published Whisper vocabulary.
    static ScriptedTokenizer whisperLayout(int vocabularySize = 51865) {
        return ScriptedTokenizer(vocabularySize,
                                 SpecialTokens{.endToken = 50257,
                                               .englishToken = 50259,
                                               .noSpeechToken = 50362,
                                               .noTimestampsToken = 50363,
                                               .specialTokenBegin = 50257,
                                               .startOfPreviousToken = 50361,
                                               .startOfTranscriptToken = 50258,
                                               .timeTokenBegin = 50364,
                                               .transcribeToken = 50359,
                                               .translateToken = 50358,
                                               .whitespaceToken = 220},
                                 {{50263, "<|ru|>"}});
    }

    std::vector<int> encode(std::string_view) const override { return {}; }

    std::string decode(const std::vector<int>& tokens) const override {
        std::string text;
        for (int token : tokens)
            text += convertIdToToken(token).value_or("");
        return text;
    }

    std::optional<int> convertTokenToId(std::string_view token) const override {
        for (const auto& [id, text] : markers_) {
            if (text == token) return id;
        }
        return std::nullopt;
    }

    std::optional<std::string> convertIdToToken(int id) const override {
        if (id < 0 || id >= vocabularySize_) return std::nullopt;
        if (id < 10) return kPieces[id];
        if (id < special_.specialTokenBegin) return " w" + std::to_string(id);
        if (auto marker = markers_.find(id); marker != markers_.end()) return marker->second;
        if (id >= special_.timeTokenBegin) {
            char text[32];
            std::snprintf(text, sizeof text, "<|%.2f|>", (id - special_.timeTokenBegin) * 0.02);
            return std::string(text);
        }
        return "<|s" + std::to_string(id) + "|>";
    }

    const SpecialTokens& specialTokens() const override { return special_; }
    const std::unordered_set<int>& allLanguageTokens() const override { return languages_; }

    WordTokens splitToWordTokens(const std::vector<int>& tokenIds) const override {
        WordTokens split;
        for (int token : tokenIds) {
            std::string piece = convertIdToToken(token).value_or("");
            const bool startsWord = token >= special_.specialTokenBegin || piece.starts_with(' ') ||
                                    piece == "," || piece == "." || piece == "!";
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
    static constexpr const char* kPieces[10] = {" hello", " world", ",",  ".",  " (",
                                                " wor",   "ld",     " a", " b", "!"};

    ScriptedTokenizer(int vocabularySize, SpecialTokens special,
                      const std::map<int, std::string>& languages)
        : vocabularySize_(vocabularySize), special_(special) {
        markers_ = {{special.endToken, "<|endoftext|>"},
                    {special.startOfTranscriptToken, "<|startoftranscript|>"},
                    {special.englishToken, "<|en|>"},
                    {special.transcribeToken, "<|transcribe|>"},
                    {special.startOfPreviousToken, "<|startofprev|>"},
                    {special.noSpeechToken, "<|nospeech|>"},
                    {special.noTimestampsToken, "<|notimestamps|>"},
                    {special.translateToken, "<|translate|>"}};
        languages_.insert(special.englishToken);
        for (const auto& [id, text] : languages) {
            markers_[id] = text;
            languages_.insert(id);
        }
    }

    int vocabularySize_;
    SpecialTokens special_;
    std::map<int, std::string> markers_;
    std::unordered_set<int> languages_;
};

} // namespace murmex::testing
