#include "platform/text/UnicodeProperties.h"

#include <unicode/uchar.h>

namespace platform::text {

namespace {

UChar32 icu(char32_t codePoint) noexcept {
    return static_cast<UChar32>(codePoint);
}

bool inCategories(char32_t codePoint, uint32_t mask) noexcept {
    return (U_GET_GC_MASK(icu(codePoint)) & mask) != 0;
}

} // namespace

GeneralCategory generalCategory(char32_t codePoint) noexcept {
    switch (u_charType(icu(codePoint))) {
    case U_UPPERCASE_LETTER:
        return GeneralCategory::uppercaseLetter;
    case U_LOWERCASE_LETTER:
        return GeneralCategory::lowercaseLetter;
    case U_TITLECASE_LETTER:
        return GeneralCategory::titlecaseLetter;
    case U_MODIFIER_LETTER:
        return GeneralCategory::modifierLetter;
    case U_OTHER_LETTER:
        return GeneralCategory::otherLetter;
    case U_NON_SPACING_MARK:
        return GeneralCategory::nonspacingMark;
    case U_COMBINING_SPACING_MARK:
        return GeneralCategory::spacingMark;
    case U_ENCLOSING_MARK:
        return GeneralCategory::enclosingMark;
    case U_DECIMAL_DIGIT_NUMBER:
        return GeneralCategory::decimalNumber;
    case U_LETTER_NUMBER:
        return GeneralCategory::letterNumber;
    case U_OTHER_NUMBER:
        return GeneralCategory::otherNumber;
    case U_CONNECTOR_PUNCTUATION:
        return GeneralCategory::connectorPunctuation;
    case U_DASH_PUNCTUATION:
        return GeneralCategory::dashPunctuation;
    case U_START_PUNCTUATION:
        return GeneralCategory::openPunctuation;
    case U_END_PUNCTUATION:
        return GeneralCategory::closePunctuation;
    case U_INITIAL_PUNCTUATION:
        return GeneralCategory::initialPunctuation;
    case U_FINAL_PUNCTUATION:
        return GeneralCategory::finalPunctuation;
    case U_OTHER_PUNCTUATION:
        return GeneralCategory::otherPunctuation;
    case U_MATH_SYMBOL:
        return GeneralCategory::mathSymbol;
    case U_CURRENCY_SYMBOL:
        return GeneralCategory::currencySymbol;
    case U_MODIFIER_SYMBOL:
        return GeneralCategory::modifierSymbol;
    case U_OTHER_SYMBOL:
        return GeneralCategory::otherSymbol;
    case U_SPACE_SEPARATOR:
        return GeneralCategory::spaceSeparator;
    case U_LINE_SEPARATOR:
        return GeneralCategory::lineSeparator;
    case U_PARAGRAPH_SEPARATOR:
        return GeneralCategory::paragraphSeparator;
    case U_CONTROL_CHAR:
        return GeneralCategory::control;
    case U_FORMAT_CHAR:
        return GeneralCategory::format;
    case U_SURROGATE:
        return GeneralCategory::surrogate;
    case U_PRIVATE_USE_CHAR:
        return GeneralCategory::privateUse;
    default:
        return GeneralCategory::unassigned;
    }
}

namespace detail {

bool isWhiteSpaceBeyondAscii(char32_t codePoint) noexcept {
    return u_hasBinaryProperty(icu(codePoint), UCHAR_WHITE_SPACE);
}

bool isSpaceSeparatorBeyondAscii(char32_t codePoint) noexcept {
    return u_charType(icu(codePoint)) == U_SPACE_SEPARATOR;
}

bool isAlphabeticBeyondAscii(char32_t codePoint) noexcept {
    return u_hasBinaryProperty(icu(codePoint), UCHAR_ALPHABETIC);
}

bool isNumericBeyondAscii(char32_t codePoint) noexcept {
    return u_getIntPropertyValue(icu(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isNewlineBeyondAscii(char32_t codePoint) noexcept {
    switch (u_getIntPropertyValue(icu(codePoint), UCHAR_LINE_BREAK)) {
    case U_LB_MANDATORY_BREAK:
    case U_LB_CARRIAGE_RETURN:
    case U_LB_LINE_FEED:
    case U_LB_NEXT_LINE:
        return true;
    default:
        return false;
    }
}

} // namespace detail

bool isLetter(char32_t codePoint) noexcept {
    return inCategories(codePoint, U_GC_L_MASK);
}

bool isUppercaseLetter(char32_t codePoint) noexcept {
    return inCategories(codePoint, U_GC_LU_MASK | U_GC_LT_MASK);
}

bool isAlphanumeric(char32_t codePoint) noexcept {
    return inCategories(codePoint, U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK);
}

bool isPunctuation(char32_t codePoint) noexcept {
    return inCategories(codePoint, U_GC_P_MASK);
}

} // namespace platform::text
