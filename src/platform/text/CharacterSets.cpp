#include "platform/text/CharacterSets.h"

#include "platform/text/IcuText.h"

#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

namespace platform::text {

std::optional<std::vector<CodePointRange>> codePointRanges(std::string_view setExpression) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeSet set(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                  setExpression.data(), detail::icuLength(setExpression))),
                              status);
    if (U_FAILURE(status)) return std::nullopt;
    std::vector<CodePointRange> ranges;
    ranges.reserve(static_cast<std::size_t>(set.getRangeCount()));
    for (int32_t i = 0; i < set.getRangeCount(); ++i)
        ranges.push_back(CodePointRange{static_cast<char32_t>(set.getRangeStart(i)),
                                        static_cast<char32_t>(set.getRangeEnd(i))});
    return ranges;
}

std::optional<std::string> generalCategoryName(std::string_view propertyValue) {
    std::string name(propertyValue);
    // "gc=L" and "General_Category=L" name the value after the equals sign.
    if (const auto equals = name.find('='); equals != std::string::npos) {
        const std::string property = name.substr(0, equals);
        if (u_getPropertyEnum(property.c_str()) != UCHAR_GENERAL_CATEGORY) return std::nullopt;
        name.erase(0, equals + 1);
    }
    const int32_t mask = u_getPropertyValueEnum(UCHAR_GENERAL_CATEGORY_MASK, name.c_str());
    if (mask == UCHAR_INVALID_CODE) return std::nullopt;
    const char* shortName =
        u_getPropertyValueName(UCHAR_GENERAL_CATEGORY_MASK, mask, U_SHORT_PROPERTY_NAME);
    if (!shortName) return std::nullopt;
    return std::string(shortName);
}

std::string unicodeVersion() {
    UVersionInfo version;
    u_getUnicodeVersion(version);
    return std::to_string(version[0]) + "." + std::to_string(version[1]);
}

} // namespace platform::text
