#pragma once
// The expression that cuts text at added tokens, matched without a
// regular-expression engine. Each alternative is a literal text, optionally
// with the white space before it ("\s*(literal)") and after it
// ("(literal)\s*") taken into the match. The matches are those of the
// leftmost-first alternation "a1|a2|...|an": the leftmost start wins, and at
// one start the earliest alternative that matches; "\s*" is greedy.
//
// Sorting a few thousand literals takes well under a millisecond, where
// compiling them as an expression took tens; searching looks only at the
// bytes that can begin an alternative, and there narrows the sorted
// literals byte by byte.

#include "tokenizers/Regex.h"

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class LiteralAlternation {
public:
    struct Alternative {
        std::string literal; // not empty
        bool takeSpaceBefore = false;
        bool takeSpaceAfter = false;
    };

    explicit LiteralAlternation(std::vector<Alternative> alternatives);

    bool empty() const { return alternatives_.empty(); }

    /// Successive matches in text order, each with the literal as its group
    /// (Regex::Match::groupBegin/groupEnd). The text must be well-formed UTF-8.
    std::vector<Regex::Match> allMatches(std::string_view text) const;

private:
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};

    /// Calls fn(alternative index) for every alternative whose literal
    /// begins at `pos`, shortest literal first.
    template <typename Fn>
    void forEachLiteralAt(std::string_view text, std::size_t pos, Fn&& fn) const;

    std::vector<Alternative> alternatives_;
    // Alternative indices ordered by literal (bytes), then index: the
    // literals that share a prefix form one run, the shortest first.
    std::vector<std::uint32_t> sorted_;
    std::bitset<256> firstBytes_;
    bool anyTakesSpaceBefore_ = false;
};

} // namespace tokenizers
