#include "murmex/base/Extensions.h"

#include "murmex/base/Constants.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"
#include "tessary_core/FileManager.h"

namespace murmex {

std::string trimmingSpecialTokenCharacters(std::string_view text) {
    const size_t begin = text.find_first_not_of(Constants::specialTokenCharacters);
    if (begin == std::string_view::npos) return {};
    const size_t end = text.find_last_not_of(Constants::specialTokenCharacters);
    return std::string(text.substr(begin, end - begin + 1));
}

std::string normalized(std::string_view text) {
    namespace unicode = platform::text;
    const std::string lower = unicode::toLower(text);
    std::string kept;
    kept.reserve(lower.size());
    for (size_t i = 0; i < lower.size();) {
        char32_t c = unicode::decodeNext(lower, i);
        if (c == U'-') c = U' ';
        if (unicode::isPunctuation(c)) continue;
        // Runs of blanks become one blank.
        if (c == U' ' && !kept.empty() && kept.back() == ' ') continue;
        unicode::appendUtf8(kept, c);
    }
    return std::string(unicode::trimCodePoints(kept, unicode::isWhiteSpace));
}

std::string resolveAbsolutePath(std::string_view path) {
    return tessary::FileManager::resolveAbsolutePath(path);
}

} // namespace murmex
