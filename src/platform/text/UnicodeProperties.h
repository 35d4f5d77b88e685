#pragma once
// Character properties of single code points, from the Unicode character
// database. ASCII code points are answered inline.

namespace platform::text {

/// The Unicode general categories.
enum class GeneralCategory {
    uppercaseLetter,      // Lu
    lowercaseLetter,      // Ll
    titlecaseLetter,      // Lt
    modifierLetter,       // Lm
    otherLetter,          // Lo
    nonspacingMark,       // Mn
    spacingMark,          // Mc
    enclosingMark,        // Me
    decimalNumber,        // Nd
    letterNumber,         // Nl
    otherNumber,          // No
    connectorPunctuation, // Pc
    dashPunctuation,      // Pd
    openPunctuation,      // Ps
    closePunctuation,     // Pe
    initialPunctuation,   // Pi
    finalPunctuation,     // Pf
    otherPunctuation,     // Po
    mathSymbol,           // Sm
    currencySymbol,       // Sc
    modifierSymbol,       // Sk
    otherSymbol,          // So
    spaceSeparator,       // Zs
    lineSeparator,        // Zl
    paragraphSeparator,   // Zp
    control,              // Cc
    format,               // Cf
    surrogate,            // Cs
    privateUse,           // Co
    unassigned,           // Cn
};

GeneralCategory generalCategory(char32_t codePoint) noexcept;

namespace detail {
bool isWhiteSpaceBeyondAscii(char32_t codePoint) noexcept;
bool isSpaceSeparatorBeyondAscii(char32_t codePoint) noexcept;
bool isAlphabeticBeyondAscii(char32_t codePoint) noexcept;
bool isNumericBeyondAscii(char32_t codePoint) noexcept;
bool isNewlineBeyondAscii(char32_t codePoint) noexcept;
} // namespace detail

/// The White_Space property: U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680,
/// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
inline bool isWhiteSpace(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint == ' ' || (codePoint >= 0x09 && codePoint <= 0x0D);
    return detail::isWhiteSpaceBeyondAscii(codePoint);
}

/// General category Zs, or the tab: the blanks that separate words on a line.
inline bool isSpaceSeparatorOrTab(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint == ' ' || codePoint == '\t';
    return detail::isSpaceSeparatorBeyondAscii(codePoint);
}

/// A character that forces a line break (Line_Break BK, CR, LF or NL):
/// U+000A-U+000D, U+0085, U+2028 and U+2029.
inline bool isNewline(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint >= 0x0A && codePoint <= 0x0D;
    return detail::isNewlineBeyondAscii(codePoint);
}

/// General category L.
bool isLetter(char32_t codePoint) noexcept;
/// General category Lu or Lt.
bool isUppercaseLetter(char32_t codePoint) noexcept;
/// General category L, M or N.
bool isAlphanumeric(char32_t codePoint) noexcept;
/// General category P.
bool isPunctuation(char32_t codePoint) noexcept;

/// The Alphabetic property.
inline bool isAlphabetic(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return (codePoint | 0x20) >= 'a' && (codePoint | 0x20) <= 'z';
    return detail::isAlphabeticBeyondAscii(codePoint);
}

/// A numeric type other than None (digits, numerals, fractions...).
inline bool isNumeric(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint >= '0' && codePoint <= '9';
    return detail::isNumericBeyondAscii(codePoint);
}

} // namespace platform::text
