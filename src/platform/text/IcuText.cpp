#include "platform/text/IcuText.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <unicode/utypes.h>

namespace platform::text::detail {

int32_t icuLength(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("text is too long for Unicode processing");
    return static_cast<int32_t>(text.size());
}

void checkIcu(int status, const char* what) {
    const auto code = static_cast<UErrorCode>(status);
    if (U_FAILURE(code)) throw std::runtime_error(std::string(what) + ": " + u_errorName(code));
}

} // namespace platform::text::detail
