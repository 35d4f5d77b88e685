#include "platform/system/DominantLanguage.h"

#include <array>
#include <cstdint>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

namespace platform::system {

namespace {

enum Group { kana, han, thai, lao, myanmar, other, groupCount };

} // namespace

std::optional<std::string> dominantLanguage(std::string_view utf8) {
    std::array<int64_t, groupCount> letters{};
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(utf8.size(), INT32_MAX));
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || !u_isalpha(c)) continue;
        UErrorCode status = U_ZERO_ERROR;
        switch (uscript_getScript(c, &status)) {
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

} // namespace platform::system
