#pragma once
// The character classes of the ICU dialect (\p{...}, \d, \s, \w and their
// complements) written for PCRE2 so that they hold what ICU's own tables
// say. PCRE2's tables may be of an older Unicode version than ICU's: a
// general category is then PCRE2's own property plus the characters
// assigned since that version, taken from ICU, which keeps the JIT's table
// lookup for everything else; any other property is written out as ICU's
// ranges.

#include <string>
#include <string_view>

namespace tokenizers::detail {

/// One class in the four places a pattern can use it.
struct ClassForms {
    std::string matching;         ///< an atom matching the class
    std::string notMatching;      ///< an atom matching its complement
    std::string matchingItems;    ///< items inside [...] adding the class
    std::string notMatchingItems; ///< items inside [...] adding the complement
};

/// The forms of \p{name} (ICU's property syntax: "L", "Letter", "gc=Lu",
/// "White_Space", "Greek"...); nullptr when ICU knows no such property.
/// Built once per name and process.
const ClassForms* propertyClass(std::string_view name);

/// The forms of ICU's \w: alphabetic characters, marks, decimal digits,
/// connector punctuation, U+200C and U+200D.
const ClassForms& wordClass();

} // namespace tokenizers::detail
