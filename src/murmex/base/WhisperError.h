#pragma once
// The speech engine's one error type: a case and the message that says what
// went wrong. The description is the message; the application shows it to
// the user and prints it for failed command-line runs.

#include <stdexcept>
#include <string>

namespace murmex {

class WhisperError : public std::exception {
public:
    enum class Kind {
        tokenizerUnavailable,
        modelsUnavailable,
        prefillFailed,
        audioProcessingFailed,
        decodingLogitsFailed,
        segmentingFailed,
        loadAudioFailed,
        prepareDecoderInputsFailed,
        transcriptionFailed,
        decodingFailed,
        microphoneUnavailable,
        initializationError,
    };

    WhisperError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    static WhisperError tokenizerUnavailable(std::string message = "Tokenizer is unavailable") {
        return {Kind::tokenizerUnavailable, std::move(message)};
    }
    static WhisperError modelsUnavailable(std::string message = "Models are unavailable") {
        return {Kind::modelsUnavailable, std::move(message)};
    }
    static WhisperError prefillFailed(std::string message) {
        return {Kind::prefillFailed, std::move(message)};
    }
    static WhisperError audioProcessingFailed(std::string message) {
        return {Kind::audioProcessingFailed, std::move(message)};
    }
    static WhisperError decodingLogitsFailed(std::string message) {
        return {Kind::decodingLogitsFailed, std::move(message)};
    }
    static WhisperError segmentingFailed(std::string message) {
        return {Kind::segmentingFailed, std::move(message)};
    }
    static WhisperError loadAudioFailed(std::string message) {
        return {Kind::loadAudioFailed, std::move(message)};
    }
    static WhisperError prepareDecoderInputsFailed(std::string message) {
        return {Kind::prepareDecoderInputsFailed, std::move(message)};
    }
    static WhisperError transcriptionFailed(std::string message) {
        return {Kind::transcriptionFailed, std::move(message)};
    }
    static WhisperError decodingFailed(std::string message) {
        return {Kind::decodingFailed, std::move(message)};
    }
    static WhisperError microphoneUnavailable(std::string message) {
        return {Kind::microphoneUnavailable, std::move(message)};
    }
    static WhisperError initializationError(std::string message) {
        return {Kind::initializationError, std::move(message)};
    }

    Kind kind() const { return kind_; }
    /// The message, as given; reading it has no side effect.
    const std::string& message() const { return message_; }

    /// The user-facing description: the message. Every read also writes the
    /// message to the engine log at error level.
    std::string errorDescription() const;

    /// Same as errorDescription() (and logged the same way), for code that
    /// handles any std::exception.
    const char* what() const noexcept override;

    /// The case name, e.g. "transcriptionFailed".
    static const char* kindName(Kind kind);

    friend bool operator==(const WhisperError& a, const WhisperError& b) {
        return a.kind_ == b.kind_ && a.message_ == b.message_;
    }

private:
    Kind kind_;
    std::string message_;
};

} // namespace murmex
