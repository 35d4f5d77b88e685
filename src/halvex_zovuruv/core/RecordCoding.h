#pragma once
// The record store's file form: one compact JSON array of objects, oldest
// first, each with exactly the keys "date" (seconds since 2001-01-01 UTC),
// "text", "characters", "words", "seconds", "transcriptionSeconds" and
// "aiProcessed".

#include "halvex_zovuruv/core/DictationRecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvex {

/// The records as the file holds them, or nothing when a text is not valid
/// UTF-8. A non-finite number, which JSON cannot hold, is written as 0 so
/// that the file stays readable.
std::optional<std::string> encodeRecords(const std::vector<DictationRecord>& records);

/// The records of a file, or nothing when the text is not such an array: every
/// element must be an object with all seven keys of the right types (other
/// keys are ignored). Whole numbers are read for the floating-point fields
/// and integral reals for the integer ones, as other writers produce them.
std::optional<std::vector<DictationRecord>> decodeRecords(std::string_view json);

} // namespace halvex
