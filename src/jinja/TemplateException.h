#pragma once

#include <exception>
#include <optional>
#include <string>

namespace jinja {

// Raised by the global raise_exception: a template's own refusal to render.
// Separate from JinjaError; whoever catches it reads message().
class TemplateException : public std::exception {
public:
    TemplateException() = default;
    explicit TemplateException(std::optional<std::string> message) : message_(std::move(message)) {}

    const std::optional<std::string>& message() const noexcept { return message_; }
    const char* what() const noexcept override {
        return message_ ? message_->c_str() : "TemplateException";
    }

private:
    std::optional<std::string> message_;
};

} // namespace jinja
