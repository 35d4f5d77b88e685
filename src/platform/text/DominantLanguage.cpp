#include "platform/text/DominantLanguage.h"

#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <array>
#include <cstdint>
#include <unicode/uscript.h>
#include <utility>

namespace platform::text {

namespace {

enum Group { kana, han, thai, lao, myanmar, other, groupCount };

// The scripts that tell a language apart; every other script counts as other.
constexpr std::pair<UScriptCode, Group> kScriptGroups[] = {
    {USCRIPT_HIRAGANA, kana},   {USCRIPT_KATAKANA, kana}, {USCRIPT_KATAKANA_OR_HIRAGANA, kana},
    {USCRIPT_HAN, han},         {USCRIPT_THAI, thai},     {USCRIPT_LAO, lao},
    {USCRIPT_MYANMAR, myanmar},
};

Group groupOf(char32_t letter) {
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(static_cast<UChar32>(letter), &status);
    for (const auto& [known, group] : kScriptGroups)
        if (script == known) return group;
    return other;
}

} // namespace

std::optional<std::string> dominantLanguage(std::string_view utf8) {
    std::array<int64_t, groupCount> letters{};
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t c = decodeNext(utf8, i);
        if (isLetter(c)) ++letters[groupOf(c)]; // U+FFFD, standing for invalid bytes, is no letter
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
    static constexpr const char* kCodes[groupCount] = {"ja", "zh", "th", "lo", "my", nullptr};
    if (best == other) return std::nullopt;
    return kCodes[best];
}

} // namespace platform::text
