#pragma once
// A string compared, ordered and hashed by its exact code units, never by
// Unicode equivalence: a precomposed e-acute and e + combining acute are two
// different keys. It is the key type of configuration dictionaries and of the
// tokenizer vocabularies.
//
// The text is held as UTF-8 (lone UTF-16 surrogates in their generalised
// three-byte form), which is a one-to-one image of the UTF-16 code units, so
// equality and hashing work on the bytes directly; ordering follows the
// UTF-16 code-unit order. Only the text view (count, characters, slicing,
// lower-casing, replacement) looks at characters.

#include "hub/BinaryDistinctCharacter.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hub {

class BinaryDistinctString {
public:
    BinaryDistinctString() = default;
    BinaryDistinctString(std::string text) : text_(std::move(text)) {} // NOLINT
    BinaryDistinctString(std::string_view text) : text_(text) {}       // NOLINT
    BinaryDistinctString(const char* text) : text_(text) {}            // NOLINT
    explicit BinaryDistinctString(const std::vector<std::uint16_t>& codeUnits);
    explicit BinaryDistinctString(const BinaryDistinctCharacter& character)
        : text_(character.str()) {}
    explicit BinaryDistinctString(const std::vector<BinaryDistinctCharacter>& characters);

    /// The UTF-16 code units.
    std::vector<std::uint16_t> value() const;
    /// The text as UTF-8.
    const std::string& str() const { return text_; }
    std::string_view view() const { return text_; }
    const std::string& description() const { return text_; }

    bool operator==(const BinaryDistinctString& other) const { return text_ == other.text_; }
    /// Lexicographic over UTF-16 code units; a proper prefix orders first.
    std::strong_ordering operator<=>(const BinaryDistinctString& other) const;

    bool hasPrefix(const BinaryDistinctString& prefix) const;
    bool hasSuffix(const BinaryDistinctString& suffix) const;
    BinaryDistinctString operator+(const BinaryDistinctString& other) const {
        return text_ + other.text_;
    }

    // Text view. Positions count grapheme clusters.
    std::size_t count() const;
    std::size_t startIndex() const { return 0; }
    std::size_t endIndex() const { return count(); }
    /// position + offset; throws std::out_of_range("Index out of bounds")
    /// when the result is outside 0 through count().
    std::ptrdiff_t index(std::ptrdiff_t position, std::ptrdiff_t offset) const;
    /// Absent when position + offset is past `limit`, else position + offset.
    static std::optional<std::ptrdiff_t> index(std::ptrdiff_t position, std::ptrdiff_t offset,
                                               std::ptrdiff_t limit);
    std::vector<BinaryDistinctCharacter> characters() const;
    /// Characters [lower, upper); throws std::out_of_range("Index out of bounds").
    BinaryDistinctString slice(std::ptrdiff_t lower, std::ptrdiff_t upper) const;
    /// Characters from `lower` to the end.
    BinaryDistinctString slice(std::ptrdiff_t lower) const;
    BinaryDistinctString lowercased() const;
    BinaryDistinctString replacingOccurrences(std::string_view target,
                                              std::string_view replacement) const;

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(const BinaryDistinctString& s) const noexcept {
            return std::hash<std::string_view>{}(s.text_);
        }
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    struct Equal {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
        bool operator()(const BinaryDistinctString& a,
                        const BinaryDistinctString& b) const noexcept {
            return a == b;
        }
        bool operator()(const BinaryDistinctString& a, std::string_view b) const noexcept {
            return a.text_ == b;
        }
        bool operator()(std::string_view a, const BinaryDistinctString& b) const noexcept {
            return a == b.text_;
        }
    };

private:
    std::string text_;
};

template <typename V>
using BinaryDistinctMap = std::unordered_map<BinaryDistinctString, V, BinaryDistinctString::Hash,
                                             BinaryDistinctString::Equal>;

/// Inserts every entry of `other`; for a key present in both, stores
/// strategy(existing value, other's value).
template <typename V, typename Map, typename Strategy>
void merge(BinaryDistinctMap<V>& target, const Map& other, Strategy&& strategy) {
    for (const auto& [key, value] : other) {
        auto [it, inserted] = target.try_emplace(BinaryDistinctString(key), value);
        if (!inserted) it->second = strategy(it->second, value);
    }
}

/// A merged copy; `target` is left unchanged.
template <typename V, typename Map, typename Strategy>
BinaryDistinctMap<V> merging(const BinaryDistinctMap<V>& target, const Map& other,
                             Strategy&& strategy) {
    BinaryDistinctMap<V> copy = target;
    merge(copy, other, std::forward<Strategy>(strategy));
    return copy;
}

} // namespace hub

template <> struct std::hash<hub::BinaryDistinctString> {
    std::size_t operator()(const hub::BinaryDistinctString& s) const noexcept {
        return hub::BinaryDistinctString::Hash{}(s);
    }
};
