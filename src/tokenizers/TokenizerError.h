#pragma once
// The error type of the tokenizers: one kind per failure, with the English
// description the user is shown as `what()`.

#include <stdexcept>
#include <string>

namespace tokenizers {

class TokenizerError : public std::runtime_error {
public:
    enum class Kind {
        unsupportedTokenizer,
        chatTemplate,
        tooLong,
        mismatchedConfig,
        missingConfig,
        missingTokenizerClassInConfig,
        missingVocab,
        malformedVocab,
        missingChatTemplate,
    };

    static TokenizerError unsupportedTokenizer(const std::string& name) {
        return {Kind::unsupportedTokenizer, name,
                "The tokenizer type '" + name + "' is not supported."};
    }
    static TokenizerError chatTemplate(const std::string& message) {
        return {Kind::chatTemplate, message, "Chat template error: " + message};
    }
    static TokenizerError tooLong(const std::string& text) {
        return {Kind::tooLong, text, "Input is too long: " + text};
    }
    static TokenizerError mismatchedConfig(const std::string& message) {
        return {Kind::mismatchedConfig, message, "Tokenizer configuration mismatch: " + message};
    }
    static TokenizerError missingConfig() {
        return {Kind::missingConfig, {}, "Tokenizer configuration is missing."};
    }
    static TokenizerError missingTokenizerClassInConfig() {
        return {Kind::missingTokenizerClassInConfig,
                {},
                "The tokenizer class is not specified in the configuration."};
    }
    static TokenizerError missingVocab() {
        return {
            Kind::missingVocab, {}, "Vocabulary file is missing from the tokenizer configuration."};
    }
    static TokenizerError malformedVocab() {
        return {Kind::malformedVocab, {}, "The vocabulary file is malformed or corrupted."};
    }
    static TokenizerError missingChatTemplate() {
        return {Kind::missingChatTemplate,
                {},
                "This tokenizer does not have a chat template, and no template was passed."};
    }

    Kind kind() const { return kind_; }
    /// The name, message or text the error carries; empty for kinds without one.
    const std::string& payload() const { return payload_; }

private:
    TokenizerError(Kind kind, std::string payload, const std::string& description)
        : std::runtime_error(description), kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    std::string payload_;
};

} // namespace tokenizers
