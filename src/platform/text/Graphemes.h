#pragma once
// Extended grapheme clusters (user-perceived characters) of UTF-8 text: a
// letter with its combining marks, a Hangul syllable from its jamo, an emoji
// with its modifiers and joiners, a flag from two regional indicators, CR LF.
// Each maximal ill-formed subpart is a character of its own. Text made of code
// points below U+0300 without a CR LF is answered without the break rules.

#include <cstddef>
#include <string_view>
#include <vector>

namespace platform::text {

/// The byte offsets where characters start, followed by `text.size()` ({0} for
/// empty text).
std::vector<std::size_t> graphemeBoundaries(std::string_view text);

/// Number of characters.
std::size_t graphemeCount(std::string_view text);

/// The byte offset where the character that starts at `pos` ends, judged in
/// the context of the whole text; `text.size()` when `pos` is at or past it.
std::size_t nextGraphemeBoundary(std::string_view text, std::size_t pos);

} // namespace platform::text
