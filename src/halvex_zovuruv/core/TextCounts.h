#pragma once
// How the application measures and trims the texts it stores and shows.

#include <cstdint>
#include <string>
#include <string_view>

namespace halvex {

/// User-perceived characters (extended grapheme clusters): CR LF is one, a
/// letter with a combining accent is one.
int64_t characterCount(std::string_view utf8);

/// The pieces left when the text is split at every White_Space character and
/// empty pieces are dropped.
int64_t wordCount(std::string_view utf8);

/// The text with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string repairedUtf8(std::string_view bytes);

/// The text without White_Space characters at either end.
std::string trimWhiteSpace(std::string_view utf8);

} // namespace halvex
