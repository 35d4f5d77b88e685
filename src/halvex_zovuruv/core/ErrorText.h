#pragma once
// The two texts of an error: its default textual form, which the diagnostic
// log gets, and its localized description, which an alert shows.

#include <exception>
#include <stdexcept>
#include <string>

namespace halvex {

/// An error that carries both texts; what() is the localized description.
/// Layers whose own error types the application core cannot see (the speech
/// engine's) hand their errors over in this form.
class DescribedError : public std::runtime_error {
public:
    DescribedError(std::string debugDescription, const std::string& localizedDescription)
        : std::runtime_error(localizedDescription), debugDescription_(std::move(debugDescription)) {
    }

    const std::string& debugDescription() const { return debugDescription_; }

private:
    std::string debugDescription_;
};

/// The error's default textual form: a platform error as its domain, code and
/// description; a described error as its debug description; any other error
/// as its what().
std::string errorDebugText(const std::exception_ptr& error);

/// The error's localized description (what()).
std::string errorLocalizedText(const std::exception_ptr& error);

} // namespace halvex
