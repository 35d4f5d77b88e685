#pragma once
// One timed word: its text (with any leading blank), the token ids it is made
// of, its start and end in seconds and its probability.

#include "murmex/base/JsonCodingFwd.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace murmex {

struct WordTiming {
    std::string word;
    std::vector<int> tokens;
    float start = 0;
    float end = 0;
    float probability = 0;

    float duration() const { return end - start; }

    friend bool operator==(const WordTiming&, const WordTiming&) = default;

    /// Keys "word", "tokens", "start", "end", "probability", all required.
    std::string toJson(bool pretty = false) const;
    static WordTiming fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static WordTiming fromJsonValue(yyjson_val* value);
};

} // namespace murmex

template <> struct std::hash<murmex::WordTiming> {
    std::size_t operator()(const murmex::WordTiming& word) const noexcept;
};
