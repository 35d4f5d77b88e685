#pragma once
// Failure of writing or reading a JSON form: of the engine's records, and of
// the template engine's tokens, syntax trees, macro records and values.

#include <stdexcept>
#include <string>

namespace platform::system {

class CodingError : public std::runtime_error {
public:
    enum class Kind {
        keyNotFound,   ///< a required key is missing
        valueNotFound, ///< a required value is null
        typeMismatch,  ///< a value has the wrong JSON type
        dataCorrupted, ///< the text is not JSON, or a value is out of range
        invalidValue,  ///< a value cannot be written as JSON (NaN, infinity, a function)
    };

    CodingError(Kind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}

    Kind kind() const noexcept { return kind_; }
    /// The message, the same text as what().
    std::string description() const { return what(); }

private:
    Kind kind_;
};

} // namespace platform::system
