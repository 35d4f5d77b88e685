#pragma once
// The byte-level alphabet: 256 printable characters, one per byte value, so
// that any byte sequence can be written with vocabulary symbols. Bytes 33-126,
// 161-172 and 174-255 stand for themselves; the other 68 bytes, in order, map
// to U+0100 ... U+0143 (the space becomes U+0120 "Ġ").

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tokenizers {

/// Byte -> its one-character text (UTF-8).
const std::array<std::string, 256>& byteEncoder();

/// One-character text -> its byte.
const std::unordered_map<std::string, std::uint8_t>& byteDecoder();

/// The byte a code point of the alphabet stands for, or absent for any other.
std::optional<std::uint8_t> byteOfCharacter(char32_t cp);

/// `bytes` written in the alphabet.
std::string byteLevelEncode(std::string_view bytes);

} // namespace tokenizers
