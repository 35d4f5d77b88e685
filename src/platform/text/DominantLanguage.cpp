#include "platform/text/DominantLanguage.h"

#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <array>
#include <cstdint>
#include <unicode/uscript.h>

namespace platform::text {

namespace {

enum Group { kana, han, thai, lao, myanmar, other, groupCount };

} // namespace

std::optional<std::string> dominantLanguage(std::string_view utf8) {
    std::array<int64_t, groupCount> letters{};
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t c = decodeNext(utf8, i);
        if (!isLetter(c)) continue; // U+FFFD, standing for invalid bytes, is no letter
        UErrorCode status = U_ZERO_ERROR;
        switch (uscript_getScript(static_cast<UChar32>(c), &status)) {
        case USCRIPT_HIRAGANA:
        case USCRIPT_KATAKANA:
        case USCRIPT_KATAKANA_OR_HIRAGANA:
            ++letters[kana];
            break;
        case USCRIPT_HAN:
            ++letters[han];
            break;
        case USCRIPT_THAI:
            ++letters[thai];
            break;
        case USCRIPT_LAO:
            ++letters[lao];
            break;
        case USCRIPT_MYANMAR:
            ++letters[myanmar];
            break;
        default:
            ++letters[other];
            break;
        }
    }

    // Japanese mixes Han characters with kana, so both count for it.
    const int64_t cjk = letters[kana] + letters[han];
    if (cjk > 0 && cjk >= letters[thai] && cjk >= letters[lao] && cjk >= letters[myanmar] &&
        cjk >= letters[other]) {
        return letters[kana] > 0 ? "ja" : "zh";
    }
    Group best = other;
    for (Group group : {thai, lao, myanmar}) {
        if (letters[group] > letters[best]) best = group;
    }
    switch (best) {
    case thai:
        return "th";
    case lao:
        return "lo";
    case myanmar:
        return "my";
    default:
        return std::nullopt;
    }
}

} // namespace platform::text
