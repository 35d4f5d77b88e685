#pragma once

#include "jinja/Ast.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jinja {

// A macro defined by a template: its name, parameter names in order, the
// default expressions of the parameters that have one (in the order written,
// evaluated at call time) and its body. Immutable once built.
struct Macro {
    std::string name;
    std::vector<std::string> parameters;
    ExpressionMap defaults;
    NodeList body;

    std::size_t hash() const noexcept;
    friend bool operator==(const Macro& a, const Macro& b) noexcept;

    // JSON form with the keys "name", "parameters", "defaults" and "body".
    // Decoding rebuilds the defaults in ascending order of parameter name.
    std::string toJson() const;
    static Macro fromJson(std::string_view json); // throws CodingError
};

} // namespace jinja
