#include "murmex/base/Extensions.h"

#include "murmex/base/Constants.h"
#include "tessary_core/FileManager.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace murmex {

std::string trimmingSpecialTokenCharacters(std::string_view text) {
    const size_t begin = text.find_first_not_of(Constants::specialTokenCharacters);
    if (begin == std::string_view::npos) return {};
    const size_t end = text.find_last_not_of(Constants::specialTokenCharacters);
    return std::string(text.substr(begin, end - begin + 1));
}

std::string normalized(std::string_view text) {
    icu::UnicodeString lower = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    lower.toLower(icu::Locale::getRoot());

    icu::UnicodeString kept;
    for (int32_t i = 0; i < lower.length();) {
        UChar32 c = lower.char32At(i);
        i += U16_LENGTH(c);
        if (c == u'-') c = u' ';
        if (u_ispunct(c)) continue;
        // Runs of blanks become one blank.
        if (c == u' ' && kept.length() > 0 && kept.charAt(kept.length() - 1) == u' ') continue;
        kept.append(c);
    }

    int32_t begin = 0, end = kept.length();
    while (begin < end && u_isUWhiteSpace(kept.char32At(begin)))
        begin += U16_LENGTH(kept.char32At(begin));
    while (end > begin) {
        int32_t last = kept.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(kept.char32At(last))) break;
        end = last;
    }
    std::string result;
    kept.tempSubStringBetween(begin, end).toUTF8String(result);
    return result;
}

std::string resolveAbsolutePath(std::string_view path) {
    return tessary::FileManager::resolveAbsolutePath(path);
}

} // namespace murmex
