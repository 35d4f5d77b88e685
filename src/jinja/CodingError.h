#pragma once

#include <stdexcept>
#include <string>

namespace jinja {

// Failure of writing or reading the JSON form of tokens, syntax trees, macro
// records and values. Unlike JinjaError it reports a coding problem, not a
// template problem: the tojson filter, for one, answers it with "null".
class CodingError : public std::runtime_error {
public:
    enum class Kind { invalidValue, typeMismatch, keyNotFound, dataCorrupted };

    CodingError(Kind kind, std::string description)
        : std::runtime_error(description), kind_(kind), description_(std::move(description)) {}

    Kind kind() const noexcept { return kind_; }
    const std::string& description() const noexcept { return description_; }

private:
    Kind kind_;
    std::string description_;
};

} // namespace jinja
