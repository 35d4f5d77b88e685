#pragma once

#include "jinja/Value.h"

#include <string_view>
#include <utility>
#include <vector>

namespace jinja {

// The built-in filters. Each takes the positional values with the operand
// first, the keyword values and the scope of the call, and returns a value or
// throws JinjaError (runtime).
class Filters {
public:
    Filters() = delete;

    using FilterFunction = Value (*)(const Array& args, const KeywordArguments& kwargs,
                                     const std::shared_ptr<Environment>& env);

    // The filter of that name, or null. The table is built once.
    static FilterFunction find(std::string_view name);
    // Name and function of each of the 54 filters, in table order.
    static const std::vector<std::pair<std::string_view, FilterFunction>>& builtIn();

    // The attribute of an item as the filters look it up: an int attribute
    // indexes arrays and finds int (then decimal string) keys of objects, a
    // string attribute is a member lookup; undefined otherwise. Never fails.
    static Value resolveAttributeValue(const Value& item, const Value& attribute);
};

} // namespace jinja
