#pragma once
// The eleven token ids the decoder needs, read from the tokenizer once.
// Ids at or above `specialTokenBegin` are special (markers, languages, tasks,
// timestamps); ids below it are text; ids at or above `timeTokenBegin` are
// timestamps (id timeTokenBegin + k is k × 0.02 s into the window).

namespace murmex {

struct SpecialTokens {
    int endToken;               ///< "<|endoftext|>"
    int englishToken;           ///< "<|en|>"
    int noSpeechToken;          ///< "<|nospeech|>"
    int noTimestampsToken;      ///< "<|notimestamps|>"
    int specialTokenBegin;      ///< "<|endoftext|>" as well
    int startOfPreviousToken;   ///< "<|startofprev|>"
    int startOfTranscriptToken; ///< "<|startoftranscript|>"
    int timeTokenBegin;         ///< "<|0.00|>"
    int transcribeToken;        ///< "<|transcribe|>"
    int translateToken;         ///< "<|translate|>"
    int whitespaceToken;        ///< " "

    friend bool operator==(const SpecialTokens&, const SpecialTokens&) = default;
};

} // namespace murmex
