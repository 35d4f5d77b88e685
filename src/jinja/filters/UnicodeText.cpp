#include "jinja/filters/UnicodeText.h"

namespace jinja::text {

namespace {

// Composed form of the full case folding.
std::string composedFolding(std::string_view s) {
    if (isAscii(s)) return toLower(s);
    return toNFC(foldCase(toNFC(s)));
}

} // namespace

std::vector<std::string_view> graphemes(std::string_view s) {
    std::vector<std::size_t> b = graphemeBoundaries(s);
    std::vector<std::string_view> out;
    out.reserve(b.size());
    for (std::size_t k = 0; k + 1 < b.size(); ++k)
        out.push_back(s.substr(b[k], b[k + 1] - b[k]));
    return out;
}

std::string capitalize(std::string_view s) {
    if (s.empty()) return {};
    std::size_t first = platform::text::nextGraphemeBoundary(s, 0);
    return toUpper(s.substr(0, first)) + toLower(s.substr(first));
}

std::string upperFirst(std::string_view s) {
    if (s.empty()) return {};
    std::size_t i = 0;
    decodeNext(s, i);
    return toUpper(s.substr(0, i)) + std::string(s.substr(i));
}

int compareText(std::string_view a, std::string_view b, bool ignoreCase) {
    if (!ignoreCase) return unicode::compareCanonical(a, b);
    return unicode::compareCanonical(composedFolding(a), composedFolding(b));
}

} // namespace jinja::text
