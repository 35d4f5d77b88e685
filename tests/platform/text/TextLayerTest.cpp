#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Normalization.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

using namespace platform::text;

namespace {

std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        static const char digits[] = "0123456789ABCDEF";
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

std::vector<char32_t> decodeAll(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();)
        out.push_back(decodeNext(text, i));
    return out;
}

constexpr char32_t kLastCodePoint = 0x10FFFF;

// Every code point for which `holds` is true must be in `expected` and the
// other way round; the neighbours of each listed code point are covered too.
template <class Predicate>
void expectExactly(const char* name, Predicate holds, const std::set<char32_t>& expected) {
    for (char32_t cp = 0; cp <= kLastCodePoint; ++cp)
        EXPECT_EQ(holds(cp), expected.count(cp) == 1)
            << name << " U+" << std::hex << static_cast<unsigned>(cp);
}

} // namespace

TEST(TextProperties, WhiteSpaceSeparatorsAndNewlinesAreExactlyTheirSets) {
    std::set<char32_t> whiteSpace = {0x09, 0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                     0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (char32_t cp = 0x2000; cp <= 0x200A; ++cp)
        whiteSpace.insert(cp);
    expectExactly("White_Space", isWhiteSpace, whiteSpace);

    // Zs plus the tab: White_Space without the line and paragraph breaks.
    std::set<char32_t> blanks = whiteSpace;
    for (char32_t cp : {0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029})
        blanks.erase(cp);
    expectExactly("Zs+tab", isSpaceSeparatorOrTab, blanks);

    expectExactly("newline", isNewline, {0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029});
}

TEST(TextProperties, GeneralCategoriesAndTheClassesBuiltOnThem) {
    using G = GeneralCategory;
    struct Case {
        char32_t cp;
        G category;
        bool letter, uppercase, alphanumeric, punctuation, alphabetic, numeric;
    };
    const Case cases[] = {
        {U'A', G::uppercaseLetter, true, true, true, false, true, false},
        {U'z', G::lowercaseLetter, true, false, true, false, true, false},
        {U'\u01C5', G::titlecaseLetter, true, true, true, false, true, false}, // Dž
        {U'\u02B0', G::modifierLetter, true, false, true, false, true, false},
        {U'\u05D0', G::otherLetter, true, false, true, false, true, false},    // alef
        {U'\u0416', G::uppercaseLetter, true, true, true, false, true, false}, // Ж
        {U'\u0301', G::nonspacingMark, false, false, true, false, false, false},
        {U'\u0903', G::spacingMark, false, false, true, false, true, false},
        {U'\u20DD', G::enclosingMark, false, false, true, false, false, false},
        {U'7', G::decimalNumber, false, false, true, false, false, true},
        {U'\u0663', G::decimalNumber, false, false, true, false, false, true}, // Arabic-Indic 3
        {U'\u2160', G::letterNumber, false, false, true, false, true, true},   // Roman numeral one
        {U'\u00BD', G::otherNumber, false, false, true, false, false, true},
        {U'_', G::connectorPunctuation, false, false, false, true, false, false},
        {U'-', G::dashPunctuation, false, false, false, true, false, false},
        {U'(', G::openPunctuation, false, false, false, true, false, false},
        {U')', G::closePunctuation, false, false, false, true, false, false},
        {U'\u00AB', G::initialPunctuation, false, false, false, true, false, false},
        {U'\u00BB', G::finalPunctuation, false, false, false, true, false, false},
        {U'!', G::otherPunctuation, false, false, false, true, false, false},
        {U'\u3002', G::otherPunctuation, false, false, false, true, false, false},
        {U'+', G::mathSymbol, false, false, false, false, false, false},
        {U'$', G::currencySymbol, false, false, false, false, false, false},
        {U'^', G::modifierSymbol, false, false, false, false, false, false},
        {U'\u00A9', G::otherSymbol, false, false, false, false, false, false},
        {U' ', G::spaceSeparator, false, false, false, false, false, false},
        {U'\u2028', G::lineSeparator, false, false, false, false, false, false},
        {U'\u2029', G::paragraphSeparator, false, false, false, false, false, false},
        {U'\u0007', G::control, false, false, false, false, false, false},
        {U'\u200D', G::format, false, false, false, false, false, false},
        {0xD800, G::surrogate, false, false, false, false, false, false},
        {U'\uE000', G::privateUse, false, false, false, false, false, false},
        {0x0378, G::unassigned, false, false, false, false, false, false},
        {0x110000, G::unassigned, false, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned>(c.cp));
        EXPECT_EQ(generalCategory(c.cp), c.category);
        EXPECT_EQ(isLetter(c.cp), c.letter);
        EXPECT_EQ(isUppercaseLetter(c.cp), c.uppercase);
        EXPECT_EQ(isAlphanumeric(c.cp), c.alphanumeric);
        EXPECT_EQ(isPunctuation(c.cp), c.punctuation);
        EXPECT_EQ(isAlphabetic(c.cp), c.alphabetic);
        EXPECT_EQ(isNumeric(c.cp), c.numeric);
    }
}

TEST(TextNormalization, TheFourForms) {
    struct Case {
        const char* text;
        const char *nfc, *nfd, *nfkc, *nfkd;
    };
    const Case cases[] = {
        {"plain ASCII", "plain ASCII", "plain ASCII", "plain ASCII", "plain ASCII"},
        {"\u00E9", "\u00E9", "e\u0301", "\u00E9", "e\u0301"},
        {"e\u0301", "\u00E9", "e\u0301", "\u00E9", "e\u0301"},
        {"\u212B", "\u00C5", "A\u030A", "\u00C5", "A\u030A"}, // angstrom sign
        {"\uFB01", "\uFB01", "\uFB01", "fi", "fi"},           // ligature
        {"\u00BD", "\u00BD", "\u00BD", "1\u20442", "1\u20442"},
        {"\uAC01", "\uAC01", "\u1100\u1161\u11A8", "\uAC01", "\u1100\u1161\u11A8"}, // Hangul
        {"\u1100\u1161\u11A8", "\uAC01", "\u1100\u1161\u11A8", "\uAC01", "\u1100\u1161\u11A8"},
        // Marks of different classes are put in canonical order.
        {"a\u0302\u0323", "\u1EAD", "a\u0323\u0302", "\u1EAD", "a\u0323\u0302"},
        {"\uFF21\u2460", "\uFF21\u2460", "\uFF21\u2460", "A1", "A1"},
        // Ill-formed bytes are copied through.
        {"e\u0301\xFF", "\u00E9\xFF", "e\u0301\xFF", "\u00E9\xFF", "e\u0301\xFF"},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(hex(normalize(c.text, NormalizationForm::nfc)), hex(c.nfc));
        EXPECT_EQ(hex(normalize(c.text, NormalizationForm::nfd)), hex(c.nfd));
        EXPECT_EQ(hex(normalize(c.text, NormalizationForm::nfkc)), hex(c.nfkc));
        EXPECT_EQ(hex(normalize(c.text, NormalizationForm::nfkd)), hex(c.nfkd));
    }
}

TEST(TextGraphemes, BoundariesCountsAndSteps) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::size_t> bounds;
    };
    const Case cases[] = {
        {"empty", "", {0}},
        {"ASCII", "abc", {0, 1, 2, 3}},
        {"CR LF is one", "a\r\nb\n\r", {0, 1, 3, 4, 5, 6}},
        {"Latin-1 and Latin Extended", "\u00E9\u0141x", {0, 2, 4, 5}},
        {"combining marks join", "e\u0301\u0323x", {0, 5, 6}},
        {"mark after a Latin-1 letter", "\u00E9\u0301", {0, 4}},
        {"Hangul jamo form one syllable", "\u1100\u1161\u11A8\u1100", {0, 9, 12}},
        {"Hangul syllable with a trailing jamo", "\uAC00\u11A8", {0, 6}},
        {"flags pair regional indicators", "\U0001F1FA\U0001F1F8\U0001F1EC\U0001F1E7", {0, 8, 16}},
        {"an odd regional indicator stands alone", "\U0001F1FA\U0001F1F8\U0001F1EC", {0, 8, 12}},
        {"ZWJ family is one", "\U0001F468\u200D\U0001F469\u200D\U0001F467!", {0, 18, 19}},
        {"skin tone modifier joins", "\U0001F44D\U0001F3FDx", {0, 8, 9}},
        {"ill-formed subparts stand alone",
         "a\xE2\x82"
         "b\xFF",
         {0, 1, 3, 4, 5}},
        {"truncated two-byte sequence",
         "\xC3"
         "a",
         {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(graphemeBoundaries(c.text), c.bounds);
        EXPECT_EQ(graphemeCount(c.text), c.bounds.size() - 1);
        for (std::size_t k = 0; k + 1 < c.bounds.size(); ++k)
            EXPECT_EQ(nextGraphemeBoundary(c.text, c.bounds[k]), c.bounds[k + 1]) << k;
        EXPECT_EQ(nextGraphemeBoundary(c.text, c.text.size()), c.text.size());
    }
    // The step is judged in the context of the whole text: the second flag of
    // "US GB" read from the middle of the first would pair the wrong halves.
    const std::string flags = "\U0001F1FA\U0001F1F8\U0001F1EC\U0001F1E7";
    EXPECT_EQ(nextGraphemeBoundary(flags, 4), 8u);
}

TEST(TextCaseMapping, FullMappingsIndependentOfLocale) {
    struct Case {
        const char* text;
        const char *lower, *upper, *title, *folded;
    };
    const Case cases[] = {
        {"Hello wORLD", "hello world", "HELLO WORLD", "Hello World", "hello world"},
        {"Stra\u00DFe", "stra\u00DFe", "STRASSE", "Stra\u00DFe", "strasse"},
        {"\u0130", "i\u0307", "\u0130", "\u0130", "i\u0307"}, // dotted capital I
        {"I\u0131", "i\u0131", "II", "I\u0131", "i\u0131"},   // no Turkish rules
        // Final sigma lower-cases by its place in the word.
        {"\u039F\u0394\u039F\u03A3 \u03A3", "\u03BF\u03B4\u03BF\u03C2 \u03C3",
         "\u039F\u0394\u039F\u03A3 \u03A3", "\u039F\u03B4\u03BF\u03C2 \u03A3",
         "\u03BF\u03B4\u03BF\u03C3 \u03C3"},
        {"\u01C6a", "\u01C6a", "\u01C4A", "\u01C5a", "\u01C6a"}, // dž has a title case
        {"\uFB01x", "\uFB01x", "FIX", "Fix", "fix"},
        {"\u041F\u0440\u0438\u0432\u0435\u0442", "\u043F\u0440\u0438\u0432\u0435\u0442",
         "\u041F\u0420\u0418\u0412\u0415\u0422", "\u041F\u0440\u0438\u0432\u0435\u0442",
         "\u043F\u0440\u0438\u0432\u0435\u0442"},
        {"\xC3\x84\xFF", "\xC3\xA4\xFF", "\xC3\x84\xFF", "\xC3\x84\xFF", "\xC3\xA4\xFF"},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(hex(toLower(c.text)), hex(c.lower));
        EXPECT_EQ(hex(toUpper(c.text)), hex(c.upper));
        EXPECT_EQ(hex(toTitle(c.text)), hex(c.title));
        EXPECT_EQ(hex(foldCase(c.text)), hex(c.folded));
    }
}

TEST(TextUtf8, RepairAndDecodingAgreeOnIllFormedInput) {
    const std::string r(kReplacementCharacterUtf8);
    struct Case {
        const char* name;
        std::string text;
        std::string repaired;
        std::vector<char32_t> decoded;
    };
    const Case cases[] = {
        {"ASCII", "ab", "ab", {'a', 'b'}},
        {"every length",
         "\u00E9\u20AC\U0001F600",
         "\u00E9\u20AC\U0001F600",
         {0xE9, 0x20AC, 0x1F600}},
        {"boundary values",
         "\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF",
         "\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF",
         {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}},
        {"truncated at the end", "a\xE2\x82", "a" + r, {'a', 0xFFFD}},
        {"truncated before ASCII",
         "\xF0\x9F\x98"
         "a",
         r + "a",
         {0xFFFD, 'a'}},
        {"lone continuation bytes", "\x80\xBF", r + r, {0xFFFD, 0xFFFD}},
        {"overlong two bytes", "\xC0\xAF", r + r, {0xFFFD, 0xFFFD}},
        {"overlong three bytes", "\xE0\x80\xAF", r + r + r, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"overlong four bytes",
         "\xF0\x8F\xBF\xBF",
         r + r + r + r,
         {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"surrogate", "\xED\xA0\x80", r + r + r, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"never a lead byte", "\xF5\xFE\xFF", r + r + r, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"bad second byte", "\xE2\x28\xA1", r + "(" + r, {0xFFFD, '(', 0xFFFD}},
        {"replacement character itself", r, r, {0xFFFD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidUtf8(c.text), c.repaired == c.text);
        EXPECT_EQ(hex(repairUtf8(c.text)), hex(c.repaired));
        EXPECT_TRUE(isValidUtf8(repairUtf8(c.text)));
        EXPECT_EQ(decodeAll(c.text), c.decoded);
        EXPECT_EQ(decodeAll(c.repaired), c.decoded);
        EXPECT_EQ(codePointCount(c.text), c.decoded.size());
        EXPECT_EQ(isAscii(c.text), c.name == std::string("ASCII"));

        // Walking back reads the same code points where the text is well-formed.
        std::vector<char32_t> backwards;
        for (std::size_t pos = c.repaired.size(); pos > 0;)
            backwards.push_back(decodePrevious(c.repaired, pos));
        std::reverse(backwards.begin(), backwards.end());
        EXPECT_EQ(backwards, c.decoded);
    }
}

TEST(TextUtf8, ClassifiesAndLocatesCodePoints) {
    struct Case {
        const char* text;
        bool belowCombiningMarks;
    };
    const Case cases[] = {
        {"", true},      {"abc\r\n", true},   {"\u00E9\u02FF", true}, {"e\u0301", false},
        {"\xC3", false}, {"\xC1\x81", false}, {"a\xFF", false},       {"\u20AC", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isBelowCombiningMarks(c.text), c.belowCombiningMarks) << hex(c.text);

    const std::string text = "a\u00E9\u20AC\U0001F600";
    const std::size_t starts[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6};
    for (std::size_t pos = 0; pos < text.size(); ++pos)
        EXPECT_EQ(codePointStart(text, pos), starts[pos]) << pos;
    EXPECT_EQ(firstCodePoint(text), U'a');
    EXPECT_EQ(firstCodePoint("\U0001F600!"), U'\U0001F600');
    EXPECT_EQ(firstCodePoint(""), 0u);
}

TEST(TextUtf8, EncodingEveryCodePointReadsBack) {
    for (char32_t cp = 0; cp <= kLastCodePoint; ++cp) {
        std::string encoded;
        appendUtf8AllowingSurrogates(encoded, cp);
        std::size_t pos = 0;
        ASSERT_EQ(decodeNextAllowingSurrogates(encoded, pos), cp);
        ASSERT_EQ(pos, encoded.size());
        const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        std::string scalar;
        appendUtf8(scalar, cp);
        ASSERT_EQ(scalar, surrogate ? std::string(kReplacementCharacterUtf8) : encoded);
        ASSERT_EQ(isValidUtf8(encoded), !surrogate);
    }
    for (char32_t tooLarge : {char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
        std::string out;
        appendUtf8(out, tooLarge);
        appendUtf8AllowingSurrogates(out, tooLarge);
        EXPECT_EQ(out,
                  std::string(kReplacementCharacterUtf8) + std::string(kReplacementCharacterUtf8));
    }
}

TEST(TextUtf8, TrimsCodePointsFromEitherEnd) {
    const std::string text = "\u3000\t a b\u00A0\u2029\n";
    EXPECT_EQ(trimCodePoints(text, isWhiteSpace), "a b");
    EXPECT_EQ(trimCodePoints(text, isWhiteSpace, true, false), "a b\u00A0\u2029\n");
    EXPECT_EQ(trimCodePoints(text, isWhiteSpace, false, true), "\u3000\t a b");
    EXPECT_EQ(trimCodePoints(" \u2003 ", isWhiteSpace), "");
    // An ill-formed byte is U+FFFD, never white space.
    EXPECT_EQ(trimCodePoints(" \xFF x \xE2\x80", isWhiteSpace), "\xFF x \xE2\x80");
}
