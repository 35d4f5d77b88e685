#pragma once
// What the decoder is asked to do with speech: write it down, or translate it
// into English.

#include "murmex/base/JsonCodingFwd.h"

#include <array>
#include <string>

namespace murmex {

enum class DecodingTask { transcribe, translate };

inline constexpr std::array<DecodingTask, 2> allDecodingTasks{DecodingTask::transcribe,
                                                              DecodingTask::translate};

/// "transcribe" or "translate".
std::string description(DecodingTask task);

/// Coded as an object with the case name as its one key and an empty object
/// as its value: {"transcribe": {}}.
yyjson_mut_val* encodeDecodingTask(json::Writer& writer, DecodingTask task);
DecodingTask decodeDecodingTask(yyjson_val* value);

} // namespace murmex
