#pragma once
// The coarse stage reported to the engine's state callback.

#include <string>

namespace murmex {

enum class TranscriptionState { convertingAudio, transcribing, finished };

/// "Converting Audio", "Transcribing" or "Finished".
inline std::string description(TranscriptionState state) {
    switch (state) {
    case TranscriptionState::convertingAudio:
        return "Converting Audio";
    case TranscriptionState::transcribing:
        return "Transcribing";
    case TranscriptionState::finished:
        return "Finished";
    }
    return "";
}

} // namespace murmex
