#pragma once
// Where a dictation stands; the status icon follows it.

#include <string_view>

namespace halvex {

enum class DictationState {
    idle,         ///< nothing in progress; a result window may be open
    recording,    ///< the microphone is being captured
    transcribing, ///< the recording is being transcribed
    processing,   ///< the AI model is working on the text
};

/// The case name: "idle", "recording", "transcribing" or "processing".
constexpr std::string_view toString(DictationState state) {
    switch (state) {
    case DictationState::idle:
        return "idle";
    case DictationState::recording:
        return "recording";
    case DictationState::transcribing:
        return "transcribing";
    case DictationState::processing:
        return "processing";
    }
    return "idle";
}

} // namespace halvex
