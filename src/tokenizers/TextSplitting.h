#pragma once
// Cutting text at the matches of a literal or a regular expression: the
// operations the pre-tokenizers, normalizers and the added-token split share.
// Positions are byte offsets into UTF-8 text.

#include "tokenizers/Regex.h"

#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

enum class SplitDelimiterBehavior { removed, isolated, mergedWithPrevious, mergedWithNext };

struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

/// Successive non-overlapping occurrences of `literal` (none for an empty literal).
std::vector<TextRange> rangesOfLiteral(std::string_view text, std::string_view literal);
/// Successive non-overlapping matches; an empty match moves on one character.
std::vector<TextRange> rangesOfRegex(std::string_view text, const Regex& regex);

/// The texts of the ranges.
std::vector<std::string> textsOf(std::string_view text, const std::vector<TextRange>& ranges);

/// Pieces between separators (and the separators themselves when
/// `includeSeparators`), empty pieces left out. Empty separators never cut.
std::vector<std::string> splitAt(std::string_view text, const std::vector<TextRange>& separators,
                                 bool includeSeparators);

/// Split with a delimiter behaviour.
std::vector<std::string> splitAt(std::string_view text, const std::vector<TextRange>& separators,
                                 SplitDelimiterBehavior behavior);

/// Cut around the matches: the text between matches, and for each match the
/// text of its highest-numbered capture group that took part (else the whole
/// match). No match gives the text itself.
std::vector<std::string> splitKeepingCaptures(std::string_view text,
                                              const std::vector<Regex::Match>& matches);

} // namespace tokenizers
