#pragma once
// Sets of code points from the Unicode character database, written the way
// ICU writes sets ("[\p{L}]", "[\p{Nd}-\p{Age=14.0}]", "[\P{White_Space}]"):
// what the tokenizers' regular expressions mean by their classes, for an
// expression engine whose own tables may be of another Unicode version.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

struct CodePointRange {
    char32_t first;
    char32_t last; // inclusive
    friend bool operator==(const CodePointRange&, const CodePointRange&) = default;
};

/// The code points of a set expression in ICU's syntax, as sorted, disjoint,
/// non-adjacent ranges; absent when ICU does not accept the expression.
std::optional<std::vector<CodePointRange>> codePointRanges(std::string_view setExpression);

/// The short name of the general category, or group of categories, that a
/// property value names ("Letter", "L" and "gc=L" give "L"; "Lu" gives "Lu");
/// absent for any other property.
std::optional<std::string> generalCategoryName(std::string_view propertyValue);

/// The version of the Unicode character database, as "major.minor".
std::string unicodeVersion();

} // namespace platform::text
