#pragma once
// Text helpers over UTF-8 strings.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessary {

/// `text` with at most `upto` trailing copies of `character` (one character,
/// given as its UTF-8 bytes) removed; stops at the first other character.
/// With `upto` <= 0 or an empty `character` the text comes back unchanged.
std::string trimmingFromEnd(std::string_view text, std::string_view character, int upto);

/// `text` without leading and trailing white space and line breaks (the
/// Unicode White_Space characters).
std::string trimmingWhitespaceAndNewlines(std::string_view text);

/// The longest prefix of `text` that ends at a natural break and encodes to at
/// least `minTokenCount` tokens: the last sentence end (. ! ? line feed), else
/// the last clause mark (, ; : - en dash), else everything before the last
/// blank; each candidate trimmed of white space. Only the last mark of each
/// set is tried. Nothing when no candidate is long enough.
std::optional<std::string>
lastNaturalBoundary(std::string_view text, int minTokenCount,
                    const std::function<std::vector<int>(const std::string&)>& encode);

} // namespace tessary
