#include "tokenizers/ByteEncoder.h"

#include "platform/text/Utf8.h"

namespace tokenizers {
namespace text = platform::text;
namespace {

constexpr bool standsForItself(unsigned b) {
    return (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || b >= 174;
}

struct Tables {
    std::array<char32_t, 256> codePoints{};
    std::array<std::string, 256> texts;
    std::array<std::int16_t, 0x144> bytesOf{};
    std::unordered_map<std::string, std::uint8_t> decoder;

    Tables() {
        bytesOf.fill(-1);
        char32_t next = 0x100;
        for (unsigned b = 0; b < 256; ++b) {
            codePoints[b] = standsForItself(b) ? b : next++;
            text::appendUtf8(texts[b], codePoints[b]);
            bytesOf[codePoints[b]] = static_cast<std::int16_t>(b);
            decoder.emplace(texts[b], static_cast<std::uint8_t>(b));
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

} // namespace

const std::array<std::string, 256>& byteEncoder() {
    return tables().texts;
}

const std::unordered_map<std::string, std::uint8_t>& byteDecoder() {
    return tables().decoder;
}

std::optional<std::uint8_t> byteOfCharacter(char32_t cp) {
    const Tables& t = tables();
    if (cp >= t.bytesOf.size() || t.bytesOf[cp] < 0) return std::nullopt;
    return static_cast<std::uint8_t>(t.bytesOf[cp]);
}

std::string byteLevelEncode(std::string_view bytes) {
    const auto& texts = tables().texts;
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes)
        out += texts[b];
    return out;
}

} // namespace tokenizers
