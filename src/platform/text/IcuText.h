#pragma once
// Helpers for the text layer's sources that call ICU; not part of its interface.

#include <cstdint>
#include <string_view>

namespace platform::text::detail {

/// The length of `text` as the 32-bit byte count ICU takes; throws
/// std::length_error for longer text.
int32_t icuLength(std::string_view text);

/// Throws std::runtime_error naming `what` when `status`, an ICU error code,
/// reports a failure.
void checkIcu(int status, const char* what);

} // namespace platform::text::detail
