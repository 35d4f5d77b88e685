#include "platform/text/Normalization.h"

#include "platform/text/IcuText.h"
#include "platform/text/Utf8.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

namespace platform::text {

namespace {

const icu::Normalizer2& normalizer(NormalizationForm form) {
    using Instance = const icu::Normalizer2* (*)(UErrorCode&);
    // In the order of NormalizationForm.
    static constexpr Instance kInstances[] = {
        &icu::Normalizer2::getNFCInstance, &icu::Normalizer2::getNFDInstance,
        &icu::Normalizer2::getNFKCInstance, &icu::Normalizer2::getNFKDInstance};
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* instance = kInstances[static_cast<int>(form)](status);
    detail::checkIcu(status, "Unicode normalization data is unavailable");
    return *instance;
}

} // namespace

std::string normalize(std::string_view text, NormalizationForm form) {
    if (isAscii(text)) return std::string(text);
    if (form == NormalizationForm::nfc && isBelowCombiningMarks(text)) return std::string(text);
    const icu::StringPiece input(text.data(), detail::icuLength(text));
    std::string out;
    icu::StringByteSink<std::string> sink(&out, input.length());
    UErrorCode status = U_ZERO_ERROR;
    normalizer(form).normalizeUTF8(0, input, sink, nullptr, status);
    detail::checkIcu(status, "Unicode normalization failed");
    return out;
}

} // namespace platform::text
