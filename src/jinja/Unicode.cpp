#include "jinja/Unicode.h"

#include "platform/text/Normalization.h"
#include "platform/text/Utf8.h"

#include <functional>

namespace jinja::unicode {

using platform::text::isAscii;

std::string toNFC(std::string_view text) {
    return platform::text::normalize(text, platform::text::NormalizationForm::nfc);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    return toNFC(a) == toNFC(b);
}

int compareCanonical(std::string_view a, std::string_view b) {
    int order;
    if (isAscii(a) && isAscii(b)) {
        order = a.compare(b);
    } else {
        // UTF-8 byte order is code point order.
        order = toNFC(a).compare(toNFC(b));
    }
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::size_t canonicalHash(std::string_view text) noexcept {
    if (isAscii(text)) return std::hash<std::string_view>{}(text);
    try {
        return std::hash<std::string>{}(toNFC(text));
    } catch (...) {
        return 0;
    }
}

} // namespace jinja::unicode
