#include "murmex/base/WhisperError.h"

#include "tessary_core/Logging.h"

namespace murmex {

std::string WhisperError::errorDescription() const {
    tessary::Logging::error(message_);
    return message_;
}

const char* WhisperError::what() const noexcept {
    try {
        tessary::Logging::error(message_);
    } catch (...) {
        // The description is returned even when the log cannot be written.
    }
    return message_.c_str();
}

const char* WhisperError::kindName(Kind kind) {
    switch (kind) {
    case Kind::tokenizerUnavailable:
        return "tokenizerUnavailable";
    case Kind::modelsUnavailable:
        return "modelsUnavailable";
    case Kind::prefillFailed:
        return "prefillFailed";
    case Kind::audioProcessingFailed:
        return "audioProcessingFailed";
    case Kind::decodingLogitsFailed:
        return "decodingLogitsFailed";
    case Kind::segmentingFailed:
        return "segmentingFailed";
    case Kind::loadAudioFailed:
        return "loadAudioFailed";
    case Kind::prepareDecoderInputsFailed:
        return "prepareDecoderInputsFailed";
    case Kind::transcriptionFailed:
        return "transcriptionFailed";
    case Kind::decodingFailed:
        return "decodingFailed";
    case Kind::microphoneUnavailable:
        return "microphoneUnavailable";
    case Kind::initializationError:
        return "initializationError";
    }
    return "unknown";
}

} // namespace murmex
