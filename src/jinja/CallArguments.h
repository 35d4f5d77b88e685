#pragma once

#include "jinja/Value.h"

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace jinja {

// The arguments of one call of a built-in, bound to its declared parameters:
// positional values in parameter order, then keyword values by name, then the
// declared defaults. Holds pointers into the call's values and the defaults,
// so it lives no longer than the call.
class CallArguments {
public:
    struct Parameter {
        std::string_view name;
        std::optional<Value> defaultValue; // absent: the parameter is required
    };
    static constexpr std::size_t maxParameters = 6;

    // Binds; throws JinjaError (runtime) with the binder's messages:
    // "Argument 'n' passed both positionally and as keyword.",
    // "Unexpected keyword argument 'k' for filter.",
    // "Missing required argument 'n' for filter.".
    // Positional values beyond the parameters are ignored.
    static CallArguments bind(std::span<const Parameter> parameters, std::span<const Value> args,
                              const KeywordArguments& kwargs);

    // The bound value of the parameter at position i of the declaration.
    const Value& operator[](std::size_t i) const noexcept { return *values_[i]; }
    std::size_t size() const noexcept { return size_; }

private:
    std::array<const Value*, maxParameters> values_{};
    std::size_t size_ = 0;
};

// The binder in its map form: a fresh map holding one entry per parameter.
std::unordered_map<std::string, Value>
resolveCallArguments(const Array& args, const KeywordArguments& kwargs,
                     const std::vector<std::string>& parameters,
                     const std::unordered_map<std::string, Value>& defaults);

} // namespace jinja
