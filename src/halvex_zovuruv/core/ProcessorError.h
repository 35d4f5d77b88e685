#pragma once
// Why the AI model gave no text; what() is the message the user is shown.

#include <stdexcept>
#include <string>

namespace halvex {

class ProcessorError : public std::runtime_error {
public:
    explicit ProcessorError(const std::string& message) : std::runtime_error(message) {}

    std::string message() const { return what(); }
};

} // namespace halvex
