#pragma once

#include "jinja/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jinja {

// What `x.name` yields: the ten string methods, the four object methods
// (items, get, keys, values, which win over keys of the same name), an
// object's string keys, and undefined for anything else. A method yields a
// function value bound to a copy of the receiver. Lookup never fails.
class PropertyMembers {
public:
    PropertyMembers() = delete;

    static Value evaluate(const Value& receiver, std::string_view name);
    static Value evaluateObjectProperty(const Value& object, std::string_view name);
    static Value evaluateStringProperty(const Value& string, std::string_view name);

    static bool isObjectMethod(std::string_view name) noexcept;
    static bool isStringMethod(std::string_view name) noexcept;

    // [key, value] pairs of an object's entries, in order (the items() method
    // and the items filter).
    static Value itemsOf(const Object& object);
    // Replaces occurrences of `old` from the left, at most `limit` of them; an
    // empty `old` inserts before every character and after the last one.
    static std::string replaceOccurrences(std::string_view s, std::string_view old,
                                          std::string_view replacement,
                                          std::optional<std::int64_t> limit);
};

} // namespace jinja
