#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace jinja {

// The one error type of the template engine. Compiling raises the lexer and
// parser cases, rendering the runtime case; the syntax case exists for callers
// and is never raised by the engine itself. what() is the error description:
// the case's prefix followed directly by the message.
class JinjaError : public std::runtime_error {
public:
    enum class Kind { lexer, parser, runtime, syntax };

    JinjaError(Kind kind, std::string message);

    static JinjaError lexer(std::string message) { return {Kind::lexer, std::move(message)}; }
    static JinjaError parser(std::string message) { return {Kind::parser, std::move(message)}; }
    static JinjaError runtime(std::string message) { return {Kind::runtime, std::move(message)}; }
    static JinjaError syntax(std::string message) { return {Kind::syntax, std::move(message)}; }

    Kind kind() const noexcept { return kind_; }
    // The message as raised, without the case's prefix.
    const std::string& message() const noexcept { return message_; }
    // The prefix followed by the message, e.g. "Lexer error: Unclosed string at position 3".
    std::string errorDescription() const { return what(); }

    static std::string_view prefix(Kind kind) noexcept;

    friend bool operator==(const JinjaError& a, const JinjaError& b) noexcept {
        return a.kind_ == b.kind_ && a.message_ == b.message_;
    }

private:
    Kind kind_;
    std::string message_;
};

} // namespace jinja
