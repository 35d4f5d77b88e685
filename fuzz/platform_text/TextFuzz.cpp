// Arbitrary bytes, valid UTF-8 or not, through the text layer: repairing,
// decoding both ways, character boundaries, normalization and case mapping
// must agree with each other and never read outside the text.

#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Normalization.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace text = platform::text;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string repaired = text::repairUtf8(input);
    check(text::isValidUtf8(repaired));
    check(text::isValidUtf8(input) == (repaired == input));

    // Decoding the text and its repair yields the same code points.
    std::vector<char32_t> forward;
    for (std::size_t i = 0; i < input.size();)
        forward.push_back(text::decodeNext(input, i));
    std::vector<char32_t> fromRepair;
    std::string reencoded;
    for (std::size_t i = 0; i < repaired.size();) {
        const char32_t cp = text::decodeNext(repaired, i);
        fromRepair.push_back(cp);
        text::appendUtf8(reencoded, cp);
    }
    check(forward == fromRepair);
    check(reencoded == repaired);
    check(text::codePointCount(input) == forward.size());
    std::size_t steps = 0;
    for (std::size_t pos = repaired.size(); pos > 0; ++steps)
        text::decodePrevious(repaired, pos);
    check(steps == forward.size());

    const std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    check(bounds.front() == 0 && bounds.back() == input.size());
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        check(bounds[k] < bounds[k + 1]);
        check(text::nextGraphemeBoundary(input, bounds[k]) == bounds[k + 1]);
    }
    check(text::graphemeCount(input) == bounds.size() - 1);

    for (auto form : {text::NormalizationForm::nfc, text::NormalizationForm::nfd,
                      text::NormalizationForm::nfkc, text::NormalizationForm::nfkd}) {
        check(text::isValidUtf8(text::normalize(repaired, form)));
        (void)text::normalize(input, form);
    }
    check(text::isValidUtf8(text::toLower(repaired)));
    check(text::isValidUtf8(text::toUpper(repaired)));
    check(text::isValidUtf8(text::toTitle(repaired)));
    check(text::isValidUtf8(text::foldCase(repaired)));
    (void)text::toTitle(input);

    const std::string_view trimmed = text::trimCodePoints(input, text::isWhiteSpace);
    check(trimmed.data() >= input.data() && trimmed.data() + trimmed.size() <= input.data() + size);
    return 0;
}
