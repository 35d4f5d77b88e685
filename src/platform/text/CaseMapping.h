#pragma once
// Full Unicode case mappings of UTF-8 text, independent of any locale: one
// character may map to several ("ß" upper-cases to "SS", "İ" lower-cases to
// "i̇"), and final sigma lower-cases by its context. ASCII text takes a fast
// path; ill-formed sequences are copied unchanged.

#include <string>
#include <string_view>

namespace platform::text {

std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);

/// The first cased letter of every word (by the Unicode word boundaries)
/// title-cased and the rest lower-cased.
std::string toTitle(std::string_view text);

/// Full case folding, for comparing texts regardless of case ("Straße" and
/// "STRASSE" fold alike).
std::string foldCase(std::string_view text);

} // namespace platform::text
