// Arbitrary bytes, valid UTF-8 or not, through the engine's text helpers.

#include "tessary_core/StringExtensions.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string trimmed = tessary::trimmingWhitespaceAndNewlines(text);
    if (trimmed.size() > text.size() || text.find(trimmed) == std::string_view::npos) std::abort();

    int minimum = size > 0 ? data[0] % 8 : 0;
    auto bytes = [](const std::string& s) { return std::vector<int>(s.size(), 0); };
    if (auto prefix = tessary::lastNaturalBoundary(text, minimum, bytes)) {
        if (static_cast<int>(prefix->size()) < minimum || prefix->size() > text.size())
            std::abort();
    }
    std::string cut = tessary::trimmingFromEnd(text, text.substr(0, size % 3), minimum);
    if (cut.size() > text.size() || text.substr(0, cut.size()) != cut) std::abort();
    return 0;
}
