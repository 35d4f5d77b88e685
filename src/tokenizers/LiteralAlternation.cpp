#include "tokenizers/LiteralAlternation.h"

#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <algorithm>

namespace tokenizers {
namespace {

// Lead bytes of the White_Space characters: U+0009-U+000D, U+0020, U+0085,
// U+00A0 (0xC2), U+1680 (0xE1), U+2000-U+205F (0xE2), U+3000 (0xE3).
bool mayBeginWhiteSpace(unsigned char byte) {
    return (byte >= 0x09 && byte <= 0x0D) || byte == 0x20 || byte == 0xC2 || byte == 0xE1 ||
           byte == 0xE2 || byte == 0xE3;
}

// The end of the white-space character at `pos`, or `pos` when there is none.
std::size_t afterWhiteSpace(std::string_view text, std::size_t pos) {
    if (pos >= text.size() || !mayBeginWhiteSpace(static_cast<unsigned char>(text[pos])))
        return pos;
    std::size_t next = pos;
    return platform::text::isWhiteSpace(platform::text::decodeNext(text, next)) ? next : pos;
}

} // namespace

LiteralAlternation::LiteralAlternation(std::vector<Alternative> alternatives)
    : alternatives_(std::move(alternatives)) {
    sorted_.resize(alternatives_.size());
    for (std::uint32_t i = 0; i < sorted_.size(); ++i) {
        sorted_[i] = i;
        const Alternative& alternative = alternatives_[i];
        if (!alternative.literal.empty())
            firstBytes_.set(static_cast<unsigned char>(alternative.literal[0]));
        anyTakesSpaceBefore_ = anyTakesSpaceBefore_ || alternative.takeSpaceBefore;
    }
    std::sort(sorted_.begin(), sorted_.end(), [this](std::uint32_t a, std::uint32_t b) {
        const int order = alternatives_[a].literal.compare(alternatives_[b].literal);
        return order != 0 ? order < 0 : a < b;
    });
}

template <typename Fn>
void LiteralAlternation::forEachLiteralAt(std::string_view text, std::size_t pos, Fn&& fn) const {
    // [lo, hi): the literals whose first `depth` bytes equal the text's.
    auto lo = sorted_.begin(), hi = sorted_.end();
    for (std::size_t depth = 0; lo != hi; ++depth) {
        // Literals of exactly `depth` bytes come first in the run: matches.
        while (lo != hi && alternatives_[*lo].literal.size() == depth)
            fn(*lo++);
        if (pos + depth >= text.size()) return;
        const auto byte = static_cast<unsigned char>(text[pos + depth]);
        auto byteAt = [&](std::uint32_t i) {
            return static_cast<unsigned char>(alternatives_[i].literal[depth]);
        };
        lo = std::partition_point(lo, hi, [&](std::uint32_t i) { return byteAt(i) < byte; });
        hi = std::partition_point(lo, hi, [&](std::uint32_t i) { return byteAt(i) == byte; });
    }
}

std::vector<Regex::Match> LiteralAlternation::allMatches(std::string_view text) const {
    std::vector<Regex::Match> matches;
    if (alternatives_.empty()) return matches;
    std::vector<std::size_t> runStarts;
    // Positions before this one lie in a white-space run already looked at
    // as a whole.
    std::size_t runLookedAtUntil = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        const bool spaceHere =
            anyTakesSpaceBefore_ && pos >= runLookedAtUntil && afterWhiteSpace(text, pos) > pos;
        if (!spaceHere && !firstBytes_[byte]) {
            ++pos;
            continue;
        }
        std::uint32_t best = kNone;
        std::size_t literalBegin = pos;
        if (spaceHere) {
            // A space-taking alternative matches here when its literal begins
            // anywhere in the run, or right after it; "\s*" is greedy, so the
            // latest such place is the one taken. Walking the places from the
            // last, the first place found for an alternative is its latest.
            runStarts.clear();
            std::size_t end = pos;
            for (;;) {
                runStarts.push_back(end);
                const std::size_t next = afterWhiteSpace(text, end);
                if (next == end) break;
                end = next;
            }
            for (auto q = runStarts.rbegin(); q != runStarts.rend(); ++q) {
                forEachLiteralAt(text, *q, [&](std::uint32_t i) {
                    if (i < best && alternatives_[i].takeSpaceBefore) {
                        best = i;
                        literalBegin = *q;
                    }
                });
            }
            // Nothing space-taking matches from any later place in the run.
            runLookedAtUntil = end;
        }
        // Alternatives whose literal begins right here (space-taking ones
        // taking no space included, unless the run was looked at above).
        forEachLiteralAt(text, pos, [&](std::uint32_t i) {
            if (i < best && (!spaceHere || !alternatives_[i].takeSpaceBefore)) {
                best = i;
                literalBegin = pos;
            }
        });
        if (best == kNone) {
            ++pos;
            continue;
        }
        const Alternative& alternative = alternatives_[best];
        const std::size_t literalEnd = literalBegin + alternative.literal.size();
        std::size_t end = literalEnd;
        if (alternative.takeSpaceAfter) {
            for (std::size_t next = afterWhiteSpace(text, end); next > end;
                 next = afterWhiteSpace(text, end))
                end = next;
        }
        matches.push_back(Regex::Match{pos, end, literalBegin, literalEnd});
        pos = end;
        runLookedAtUntil = 0; // a run after the match is looked at afresh
    }
    return matches;
}

} // namespace tokenizers
