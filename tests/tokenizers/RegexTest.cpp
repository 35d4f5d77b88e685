// The tokenizers' expressions are written for ICU; they run on PCRE2. This
// test runs every expression the tokenizers use against ICU's own engine
// over text chosen to expose dialect differences and requires equal matches.

#include "tokenizers/Regex.h"

#include "platform/text/Utf8.h"
#include "tokenizers/ByteEncoder.h"
#include "tokenizers/LiteralAlternation.h"
#include "tokenizers/PreTokenizer.h"

#include <gtest/gtest.h>
#include <random>
#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

using tokenizers::LiteralAlternation;
using tokenizers::Regex;

namespace {

using Spans = std::vector<std::pair<std::size_t, std::size_t>>;

std::string utf8(char32_t cp) {
    std::string out;
    platform::text::appendUtf8(out, cp);
    return out;
}

// ICU's matches as UTF-8 byte spans, advancing past empty matches the same way.
Spans icuMatches(const std::string& pattern, const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString u16 = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexPattern> re(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), 0, status));
    EXPECT_TRUE(U_SUCCESS(status)) << "ICU cannot compile " << pattern;
    if (U_FAILURE(status)) return {};
    std::unique_ptr<icu::RegexMatcher> m(re->matcher(u16, status));
    // UTF-16 index -> UTF-8 offset.
    std::vector<std::size_t> offset(static_cast<std::size_t>(u16.length()) + 1, 0);
    std::size_t bytes = 0;
    for (int32_t i = 0; i < u16.length();) {
        const UChar32 c = u16.char32At(i);
        const int32_t n = U16_LENGTH(c);
        for (int32_t k = 0; k < n; ++k)
            offset[static_cast<std::size_t>(i + k)] = bytes;
        bytes += utf8(static_cast<char32_t>(c)).size();
        i += n;
    }
    offset.back() = bytes;
    Spans spans;
    int64_t start = 0;
    while (start <= u16.length() && m->find(start, status) && U_SUCCESS(status)) {
        const int32_t b = m->start(status), e = m->end(status);
        spans.emplace_back(offset[static_cast<std::size_t>(b)],
                           offset[static_cast<std::size_t>(e)]);
        if (e > b) {
            start = e;
        } else {
            if (b >= u16.length()) break;
            // One grapheme cluster further, as the tokenizers do.
            std::unique_ptr<icu::BreakIterator> it(
                icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            it->setText(u16);
            start = it->following(b);
        }
    }
    return spans;
}

Spans pcreMatches(const Regex& re, const std::string& text) {
    Spans spans;
    for (const auto& m : re.allMatches(text))
        spans.emplace_back(m.begin, m.end);
    return spans;
}

std::vector<std::string> trickyCorpus() {
    std::vector<std::string> fragments;
    for (char32_t cp :
         {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680, 0x2000,
          0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
          0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B, 0x200C, 0x200D, 0xFEFF})
        fragments.push_back(utf8(cp));
    const char* words[] = {
        "hello",
        "World",
        "I'm",
        "they've",
        "'s",
        "'ll",
        "don't",
        "e\xCC\x81",
        "\xC3\xA9",
        "na\xC3\xAFve",
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
        "\xD0\xBC\xD0\xB8\xD1\x80",
        "\xD0\xB9\xD0\xA8\xD1\x91",
        "\xD1\x8D\xD1\x82\xD0\xBE\xD2\x83", // with a Cyrillic combining mark
        "123",
        "\xD9\xA3\xD9\xA4",
        "\xE0\xA5\xA9",
        "\xEF\xBC\x93",
        "\xC2\xB2",
        "\xE2\x85\xAB",
        "\xC2\xBD", // digits
        "\xE4\xBD\xA0\xE5\xA5\xBD",
        "\xE3\x80\x82",
        "\xE4\xB8\x96\xE7\x95\x8C", // CJK
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",
        "\xF0\x9F\x87\xB7\xF0\x9F\x87\xBA",
        "1\xEF\xB8\x8F\xE2\x83\xA3", // emoji
        ",",
        ".",
        "!",
        "?",
        "\xC2\xAB",
        "\xC2\xBB",
        "\xE2\x80\x94",
        "\xE2\x80\xA6",
        "-",
        "_",
        "(",
        ")",
        "$",
        "\\",
        "\xE2\x96\x81",
        "<|endoftext|>",
        "<|en|>",
        "|",
        "\r\n",
        "\xE2\x80\x99",
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7"};
    for (const char* w : words)
        fragments.emplace_back(w);
    // Characters added in Unicode 15, which the expression engine's own tables
    // may not know: Kawi letter, digit and danda, CJK Extension H, a Cyrillic
    // modifier letter, a Kaktovik numeral, a Nag Mundari letter and digit, a
    // Kannada sign, a Lao mark, Devanagari Extended-A punctuation, Arabic
    // Extended-C mark, two emoji.
    for (char32_t cp : {0x11F04, 0x11F50, 0x11F43, 0x31350, 0x323AF, 0x1E030, 0x1D2C0, 0x1E4D0,
                        0x1E4F0, 0x0CF3, 0x0ECE, 0x11B00, 0x10EFD, 0x1F6DC, 0x1FA75})
        fragments.push_back(utf8(cp) + utf8(cp));

    std::vector<std::string> corpus(fragments);
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<std::size_t> pick(0, fragments.size() - 1), length(2, 12);
    for (int k = 0; k < 400; ++k) {
        std::string text;
        for (std::size_t n = length(rng); n > 0; --n)
            text += fragments[pick(rng)];
        corpus.push_back(std::move(text));
    }
    return corpus;
}

TEST(Regex, MatchesLikeIcuOnEveryTokenizerExpression) {
    const std::string punctuation = "\\u0021-\\u002F\\u003A-\\u0040\\u005B-\\u0060\\u007B-\\u007E";
    const std::vector<std::string> patterns = {
        tokenizers::ByteLevelPreTokenizer::RE,
        "[^\\p{P}" + punctuation + "]+|[\\p{P}" + punctuation + "]+",
        "[^\\s\\p{P}" + punctuation + "]+|[\\p{P}" + punctuation + "]",
        "\\S+",
        "[^\\d]+|\\d",
        "[^\\d]+|\\d+",
        "\\s(\\.|\\?|\\!|\\,|'\\s|n't|'m|'s|'ve|'re)",
        "<\\|[^|]*\\|>",
        "\xE2\x96\x81",
        " {2,}",
        "\\s*(" + Regex::escape("<|endoftext|>") + ")\\s*|(" + Regex::escape("<|en|>") + ")",
        "(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\\r\\n\\p{L}\\p{N}]?\\p{L}+|\\p{N}{1,3}| "
        "?[^\\s\\p{L}\\p{N}]+[\\r\\n]*|"
        "\\s*[\\r\\n]+|\\s+(?!\\S)|\\s+",
        "\\w+|\\W",
        ".+",
        "\\s+$",
        "\\u2581|\\U0001F44D",
    };
    const auto corpus = trickyCorpus();
    for (const auto& pattern : patterns) {
        const Regex re(pattern);
        int mismatches = 0;
        for (const auto& text : corpus) {
            const Spans expected = icuMatches(pattern, text);
            const Spans actual = pcreMatches(re, text);
            if (expected != actual && ++mismatches <= 3)
                ADD_FAILURE() << "pattern " << pattern << " differs from ICU on \"" << text << "\"";
        }
    }
}

// Every class form the tokenizers' expressions use holds exactly ICU's
// code points, over the first four planes and plane 14: as an atom, its
// complement, and as an item of a class and of a negated class.
TEST(Regex, ClassesHoldWhatIcuHolds) {
    std::string subject;
    std::vector<UChar32> codePoints;
    std::vector<std::size_t> offsets; // byte offset of each code point, then the end
    auto add = [&](UChar32 first, UChar32 last) {
        for (UChar32 cp = first; cp <= last; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            codePoints.push_back(cp);
            offsets.push_back(subject.size());
            subject += utf8(static_cast<char32_t>(cp));
        }
    };
    add(0, 0x3FFFF);
    add(0xE0000, 0xE01FF);
    offsets.push_back(subject.size());

    const std::vector<std::pair<std::string, std::string>> classes = {
        {"\\p{L}", "[\\p{L}]"},
        {"\\p{N}", "[\\p{N}]"},
        {"\\p{P}", "[\\p{P}]"},
        {"\\p{M}", "[\\p{M}]"},
        {"\\p{Lo}", "[\\p{Lo}]"},
        {"\\d", "[\\p{Nd}]"},
        {"\\s", "[\\p{White_Space}]"},
        {"\\w", "[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\u200C\\u200D]"}};
    for (const auto& [escape, icuSet] : classes) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeSet set(icu::UnicodeString::fromUTF8(icuSet), status);
        ASSERT_TRUE(U_SUCCESS(status)) << icuSet;
        // The complement of \p{X} is \P{X}; of \d, \s and \w the capitals.
        std::string negated = escape;
        negated[1] = static_cast<char>(std::toupper(negated[1]));
        const std::vector<std::pair<std::string, bool>> forms = {{escape + "+", true},
                                                                 {negated + "+", false},
                                                                 {"[" + escape + "]+", true},
                                                                 {"[^" + escape + "]+", false},
                                                                 {"[" + negated + "]+", false}};
        for (const auto& [pattern, positive] : forms) {
            std::vector<bool> matched(codePoints.size(), false);
            std::size_t k = 0;
            for (const auto& m : Regex(pattern).allMatches(subject)) {
                while (offsets[k] < m.begin)
                    ++k;
                for (; offsets[k] < m.end; ++k)
                    matched[k] = true;
            }
            int differences = 0;
            for (std::size_t i = 0; i < codePoints.size(); ++i) {
                if (matched[i] != (set.contains(codePoints[i]) == positive) && ++differences <= 3)
                    ADD_FAILURE() << pattern << " differs from ICU at U+" << std::hex
                                  << codePoints[i];
            }
        }
    }
}

// The added-token split is matched without an expression engine; it must
// find what ICU finds for the expression "\s*(a1)|(a2)\s*|..." it stands for.
Spans literalMatches(const std::vector<LiteralAlternation::Alternative>& alternatives,
                     const std::string& text, Spans* groups = nullptr) {
    Spans spans;
    for (const auto& m : LiteralAlternation(alternatives).allMatches(text)) {
        spans.emplace_back(m.begin, m.end);
        if (groups) groups->emplace_back(m.groupBegin, m.groupEnd);
    }
    return spans;
}

std::string expressionOf(const std::vector<LiteralAlternation::Alternative>& alternatives) {
    std::string joined;
    for (const auto& a : alternatives)
        joined += (joined.empty() ? "" : "|") + std::string(a.takeSpaceBefore ? "\\s*(" : "(") +
                  Regex::escape(a.literal) + (a.takeSpaceAfter ? ")\\s*" : ")");
    return joined;
}

TEST(LiteralAlternation, ManyLiteralsMatchLeftmostFirstLikeIcu) {
    // Over a thousand literals, longest first as the added-token split orders
    // them, with prefixes that compete at one position.
    std::vector<LiteralAlternation::Alternative> alternatives;
    alternatives.push_back({"<|startoftranscript|>"});
    for (int k = 1500; k >= 0; --k) {
        char text[24];
        std::snprintf(text, sizeof text, "<|%.2f|>", k * 0.02);
        alternatives.push_back({text});
    }
    alternatives.push_back({"<|"});
    const std::string text = "a<|0.00|> b<|29.98|><|startoftranscript|>x<|<|30.00|> <|7.5|>";
    Spans groups;
    const Spans actual = literalMatches(alternatives, text, &groups);
    EXPECT_EQ(actual, icuMatches(expressionOf(alternatives), text));
    EXPECT_EQ(actual.size(), 6u);
    EXPECT_EQ(groups, actual); // nothing around the literals is taken
}

TEST(LiteralAlternation, SpaceTakingAlternativesMatchLikeIcu) {
    // Literals that share prefixes, begin or end with white space, or are
    // white space themselves, taking the space before or after them or not,
    // over random texts of those literals, letters and many kinds of space.
    const std::vector<std::string> literals = {
        "<mask>", "<m", "ab", "a", " x", "\xE2\x80\x83y", "\t", "z ", "\xE3\x80\x80", "<mask>s"};
    const std::vector<std::string> fragments = {" ",
                                                "  ",
                                                "\t",
                                                "\n",
                                                "\xC2\xA0",
                                                "\xE2\x80\x83",
                                                "\xE3\x80\x80",
                                                "a",
                                                "b",
                                                "x",
                                                "y",
                                                "z",
                                                "<",
                                                "m",
                                                "<mask>",
                                                "s",
                                                "\xD0\x96",
                                                "\xF0\x9F\x91\x8D"};
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::size_t> pickLiteral(0, literals.size() - 1),
        pickFragment(0, fragments.size() - 1), count(1, 5), length(0, 14);
    std::bernoulli_distribution flag(0.4);
    for (int round = 0; round < 60; ++round) {
        std::vector<LiteralAlternation::Alternative> alternatives;
        for (std::size_t n = count(rng); n > 0; --n)
            alternatives.push_back({literals[pickLiteral(rng)], flag(rng), flag(rng)});
        const std::string pattern = expressionOf(alternatives);
        for (int t = 0; t < 40; ++t) {
            std::string text;
            for (std::size_t n = length(rng); n > 0; --n)
                text += fragments[pickFragment(rng)];
            const Spans expected = icuMatches(pattern, text);
            ASSERT_EQ(literalMatches(alternatives, text), expected)
                << "pattern " << pattern << " on \"" << text << "\"";
        }
    }
}

TEST(Regex, TranslationAndEscaping) {
    EXPECT_EQ(Regex::translate("\\u2581x"), "\\x{2581}x");
    EXPECT_EQ(Regex::translate("\\Q\\s\\E"), "\\Q\\s\\E");
    const std::string literal = "a.b*c(d)|[e]{f}^$\\+?<|x|>";
    const Regex re(Regex::escape(literal));
    const auto matches = re.allMatches("zz" + literal + "zz");
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].begin, 2u);
    EXPECT_FALSE(Regex::compile("(unclosed"));
    EXPECT_THROW(Regex("[z-a]"), tokenizers::RegexError);
}

TEST(Regex, EmptyMatchesAdvanceAndEnd) {
    const Regex re("x*");
    const auto matches = re.allMatches("ab\xD0\x96");
    ASSERT_EQ(matches.size(), 4u); // before a, b, the Cyrillic letter, and at the end
    EXPECT_EQ(matches[2].begin, 2u);
    EXPECT_EQ(matches[3].begin, 4u);
    EXPECT_TRUE(re.matchesEmpty());
    EXPECT_FALSE(Regex("a+").matchesEmpty());
}

TEST(Regex, ReplaceAllUsesGroupTemplates) {
    EXPECT_EQ(Regex("(\\w)(\\d)").replaceAll("a1 b2", "$2$1"), "1a 2b");
    EXPECT_EQ(Regex(" {2,}").replaceAll("a   b  c", " "), "a b c");
    EXPECT_EQ(Regex("a").replaceAll("aXa", "\\$1"), "$1X$1");
    EXPECT_EQ(Regex("x*").replaceAll("ab", "-"), "-a-b-");
}

TEST(Regex, InvalidUtf8TextIsRefusedNotSearched) {
    EXPECT_THROW(Regex("a").allMatches("a\xFF"), tokenizers::RegexError);
}

} // namespace
