#pragma once
// Small Unicode services on UTF-8 text shared by the configuration value and
// the tokenizers: well-formedness and repair, code-point stepping, grapheme
// clusters, normalization forms, case mapping and character properties.
// Backed by ICU; texts that cannot need ICU (code points below U+0300) take a
// fast path.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hub::unicode {

/// True when `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

/// `text` with every ill-formed sequence replaced by U+FFFD (one per maximal
/// ill-formed subpart), so the result is always well-formed UTF-8.
std::string repairUtf8(std::string_view text);

/// Decodes the code point starting at `pos` and advances `pos` past it. The
/// text is expected to be well-formed (or to hold encoded lone surrogates);
/// any byte that does not start a valid sequence decodes as U+FFFD and
/// advances one byte, so the walk always ends.
char32_t decodeNext(std::string_view text, std::size_t& pos);

/// Appends the UTF-8 form of `cp` (surrogates are written in the generalised
/// three-byte form so that they survive a round trip).
void appendUtf8(std::string& out, char32_t cp);

/// Number of bytes of the UTF-8 sequence led by `lead` (1 for stray bytes).
std::size_t sequenceLength(unsigned char lead);

/// The byte offsets of the extended grapheme cluster boundaries of `text`,
/// starting with 0 and ending with `text.size()` (just {0} for empty text).
std::vector<std::size_t> graphemeBoundaries(std::string_view text);

/// Number of extended grapheme clusters.
std::size_t graphemeCount(std::string_view text);

/// The end offset of the grapheme cluster that starts at `pos`.
std::size_t nextGraphemeBoundary(std::string_view text, std::size_t pos);

enum class NormalizationForm { nfc, nfd, nfkc, nfkd };
std::string normalize(std::string_view text, NormalizationForm form);

/// Full Unicode lower-case mapping, independent of the locale.
std::string toLower(std::string_view text);
/// Full Unicode upper-case mapping, independent of the locale.
std::string toUpper(std::string_view text);

/// Unicode White_Space property.
bool isWhiteSpace(char32_t cp);
/// General category Lu or Lt.
bool isUppercaseLetter(char32_t cp);
/// General category Zs, or the tab: the white space that strip steps remove.
bool isSpaceSeparatorOrTab(char32_t cp);
/// Letters, marks and digits: the alphanumeric set.
bool isAlphanumeric(char32_t cp);

} // namespace hub::unicode
