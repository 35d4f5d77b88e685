#include "tokenizers/TextSplitting.h"

namespace tokenizers {

std::vector<TextRange> rangesOfLiteral(std::string_view text, std::string_view literal) {
    std::vector<TextRange> ranges;
    if (literal.empty()) return ranges;
    for (std::size_t pos = 0; (pos = text.find(literal, pos)) != std::string_view::npos;
         pos += literal.size())
        ranges.push_back({pos, pos + literal.size()});
    return ranges;
}

std::vector<TextRange> rangesOfRegex(std::string_view text, const Regex& regex) {
    std::vector<TextRange> ranges;
    for (const auto& m : regex.allMatches(text))
        ranges.push_back({m.begin, m.end});
    return ranges;
}

std::vector<std::string> textsOf(std::string_view text, const std::vector<TextRange>& ranges) {
    std::vector<std::string> out;
    out.reserve(ranges.size());
    for (const auto& r : ranges)
        out.emplace_back(text.substr(r.begin, r.end - r.begin));
    return out;
}

std::vector<std::string> splitAt(std::string_view text, const std::vector<TextRange>& separators,
                                 bool includeSeparators) {
    std::vector<std::string> pieces;
    std::size_t cursor = 0;
    for (const auto& s : separators) {
        if (s.end == s.begin || s.begin < cursor) continue;
        if (s.begin > cursor) pieces.emplace_back(text.substr(cursor, s.begin - cursor));
        if (includeSeparators) pieces.emplace_back(text.substr(s.begin, s.end - s.begin));
        cursor = s.end;
    }
    if (cursor < text.size()) pieces.emplace_back(text.substr(cursor));
    return pieces;
}

std::vector<std::string> splitAt(std::string_view text, const std::vector<TextRange>& separators,
                                 SplitDelimiterBehavior behavior) {
    switch (behavior) {
    case SplitDelimiterBehavior::removed:
        return splitAt(text, separators, false);
    case SplitDelimiterBehavior::isolated:
        return splitAt(text, separators, true);
    case SplitDelimiterBehavior::mergedWithPrevious: {
        std::vector<std::string> pieces;
        std::size_t start = 0;
        for (const auto& s : separators) {
            if (s.end <= start) continue;
            pieces.emplace_back(text.substr(start, s.end - start));
            start = s.end;
        }
        if (start < text.size()) pieces.emplace_back(text.substr(start));
        return pieces;
    }
    case SplitDelimiterBehavior::mergedWithNext: {
        std::vector<std::string> pieces;
        if (text.empty()) return pieces;
        std::size_t start = 0;
        for (const auto& s : separators) {
            if (s.begin == 0 || s.begin <= start) continue;
            pieces.emplace_back(text.substr(start, s.begin - start));
            start = s.begin;
        }
        pieces.emplace_back(text.substr(start));
        return pieces;
    }
    }
    return {};
}

std::vector<std::string> splitKeepingCaptures(std::string_view text,
                                              const std::vector<Regex::Match>& matches) {
    if (matches.empty()) return {std::string(text)};
    std::vector<std::string> pieces;
    std::size_t cursor = 0;
    for (const auto& m : matches) {
        if (m.begin > cursor) pieces.emplace_back(text.substr(cursor, m.begin - cursor));
        pieces.emplace_back(text.substr(m.groupBegin, m.groupEnd - m.groupBegin));
        cursor = std::max(cursor, m.end);
    }
    if (cursor < text.size()) pieces.emplace_back(text.substr(cursor));
    return pieces;
}

} // namespace tokenizers
