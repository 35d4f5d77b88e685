#include "platform/system/Uuid.h"

#include <random>

namespace platform::system {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDashPosition(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

Uuid Uuid::random() {
    // One generator per thread, seeded from the operating system's entropy.
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::array<uint8_t, 16> bytes{};
    uint64_t high = generator();
    uint64_t low = generator();
    for (int i = 0; i < 8; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(high >> (56 - 8 * i));
        bytes[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(low >> (56 - 8 * i));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    size_t out = 0;
    for (size_t i = 0; i < 36;) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hexValue(text[i]);
        int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[out++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return Uuid(bytes);
}

std::string Uuid::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kDigits[bytes_[i] >> 4];
        text += kDigits[bytes_[i] & 0x0F];
    }
    return text;
}

} // namespace platform::system
