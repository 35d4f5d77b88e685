#pragma once
// One user-perceived character (extended grapheme cluster) held as its exact
// code units, compared without any normalization.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hub {

class BinaryDistinctCharacter {
public:
    BinaryDistinctCharacter() = default;
    explicit BinaryDistinctCharacter(std::string_view utf8) : text_(utf8) {}
    explicit BinaryDistinctCharacter(const std::vector<std::uint16_t>& bytes);

    /// The UTF-16 code units of the character.
    std::vector<std::uint16_t> bytes() const;
    const std::string& str() const { return text_; }

    /// "BinaryDistinctCharacter('<text>', bytes: ["0x..", ...])".
    std::string description() const;

    bool operator==(const BinaryDistinctCharacter&) const = default;

private:
    std::string text_;
};

} // namespace hub

template <> struct std::hash<hub::BinaryDistinctCharacter> {
    std::size_t operator()(const hub::BinaryDistinctCharacter& c) const noexcept {
        return std::hash<std::string>{}(c.str());
    }
};
