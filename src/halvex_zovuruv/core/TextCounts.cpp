#include "halvex_zovuruv/core/TextCounts.h"

#include "platform/text/Graphemes.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

namespace halvex {

namespace text = platform::text;

int64_t characterCount(std::string_view utf8) {
    return static_cast<int64_t>(text::graphemeCount(utf8));
}

int64_t wordCount(std::string_view utf8) {
    int64_t words = 0;
    bool inWord = false;
    for (size_t pos = 0; pos < utf8.size();) {
        const bool space = text::isWhiteSpace(text::decodeNext(utf8, pos));
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

std::string repairedUtf8(std::string_view bytes) {
    return text::repairUtf8(bytes);
}

std::string trimWhiteSpace(std::string_view utf8) {
    return std::string(text::trimCodePoints(utf8, text::isWhiteSpace));
}

} // namespace halvex
