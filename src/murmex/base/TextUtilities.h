#pragma once
// How repetitive a decoded text is. A window whose text compresses far better
// than ordinary speech is usually a decoding loop ("the the the ..."), and the
// transcription loop retries it at a higher temperature.

#include <span>
#include <string_view>

namespace murmex {

struct TextUtilities {
    /// Byte size over deflate-compressed size of the ids laid out as
    /// little-endian 32-bit integers. +infinity when compression fails.
    static float compressionRatio(std::span<const int> tokens);

    /// Byte size over deflate-compressed size of the UTF-8 text. +infinity for
    /// an empty text or when compression fails.
    static float compressionRatio(std::string_view text);
};

inline float compressionRatio(std::span<const int> tokens) {
    return TextUtilities::compressionRatio(tokens);
}
inline float compressionRatio(std::string_view text) {
    return TextUtilities::compressionRatio(text);
}

} // namespace murmex
