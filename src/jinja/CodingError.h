#pragma once
// Failure of writing or reading the JSON form of tokens, syntax trees, macro
// records and values. Unlike JinjaError it reports a coding problem, not a
// template problem: the tojson filter, for one, answers it with "null".

#include "platform/system/CodingError.h"

namespace jinja {

using CodingError = platform::system::CodingError;

} // namespace jinja
