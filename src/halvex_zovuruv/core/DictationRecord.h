#pragma once
// One stored dictation: what was inserted, when, and what it took.

#include "halvex_zovuruv/core/Date.h"

#include <cstdint>
#include <string>

namespace halvex {

struct DictationRecord {
    Date date;                       ///< when the record was made, right after the insertion
    std::string text;                ///< the inserted text
    int64_t characters = 0;          ///< user-perceived characters of `text`
    int64_t words = 0;               ///< White_Space-separated words of `text`
    double seconds = 0;              ///< length of the recording
    double transcriptionSeconds = 0; ///< how long the transcription took
    bool aiProcessed = false;        ///< whether the text came out of the AI step

    friend bool operator==(const DictationRecord&, const DictationRecord&) = default;
};

} // namespace halvex
