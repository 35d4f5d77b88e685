#pragma once
// A 128-bit universally unique identifier. New identifiers are random
// (version 4); the text form is the usual 8-4-4-4-12 upper-case hex groups.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::system {

class Uuid {
public:
    /// The all-zero identifier.
    constexpr Uuid() = default;
    explicit constexpr Uuid(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    /// A fresh random identifier. Thread-safe.
    static Uuid random();

    /// Parses the 36-character hex form (either case); nothing on malformed text.
    static std::optional<Uuid> parse(std::string_view text);

    /// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string uuidString() const;

    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

} // namespace platform::system

template <> struct std::hash<platform::system::Uuid> {
    size_t operator()(const platform::system::Uuid& id) const noexcept {
        uint64_t h = 1469598103934665603ull; // FNV-1a over the 16 bytes
        for (uint8_t b : id.bytes()) {
            h ^= b;
            h *= 1099511628211ull;
        }
        return static_cast<size_t>(h);
    }
};
