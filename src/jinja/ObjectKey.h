#pragma once

#include "jinja/ByteCompare.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jinja {

// The key of an object value: a string or a 64-bit integer. The string key
// "1" and the integer key 1 are different keys. String keys compare by
// Unicode canonical equivalence and hash consistently with that.
class ObjectKey {
public:
    enum class Kind : std::uint8_t { string, int_ };

    ObjectKey() = default;
    ObjectKey(std::string text) : head_(textHead(text)), text_(std::move(text)) {}
    ObjectKey(std::string_view text) : head_(textHead(text)), text_(text) {}
    ObjectKey(const char* text) : ObjectKey(std::string_view(text)) {}
    ObjectKey(std::int64_t number) : kind_(Kind::int_), number_(number) {}
    ObjectKey(int number) : ObjectKey(static_cast<std::int64_t>(number)) {}

    Kind kind() const noexcept { return kind_; }
    bool isString() const noexcept { return kind_ == Kind::string; }
    bool isInt() const noexcept { return kind_ == Kind::int_; }

    // The text of a string key (empty for an integer key).
    const std::string& text() const noexcept { return text_; }
    // Whether this is a string key whose text has the same bytes as `text`,
    // whose head (textHead) is given: a short text is compared without
    // reading it.
    bool hasBytes(std::string_view text, std::uint64_t head) const noexcept {
        return kind_ == Kind::string && sameBytes(text_, head_, text, head);
    }
    // The number of an integer key (0 for a string key).
    std::int64_t number() const noexcept { return number_; }

    // The text of a string key, or the decimal text of an integer key.
    std::string stringValue() const;
    // The number of an integer key; absent for a string key.
    std::optional<std::int64_t> intValue() const;

    // Printed form: an integer in decimal, a string between single quotes, unescaped.
    std::string description() const;

    std::size_t hash() const noexcept;

    friend bool operator==(const ObjectKey& a, const ObjectKey& b) noexcept;
    // Key order: integer keys first, by number; then string keys by the code
    // point order of their canonically composed forms.
    friend std::strong_ordering operator<=>(const ObjectKey& a, const ObjectKey& b) noexcept;

    enum class CompareOptions : unsigned { none = 0, caseInsensitive = 1 };
    // Three-way order with caller-chosen string comparison options: -1, 0 or 1.
    int compare(const ObjectKey& other, CompareOptions options = CompareOptions::none) const;

private:
    Kind kind_ = Kind::string;
    std::int64_t number_ = 0;
    std::uint64_t head_ = 0; // textHead(text_)
    std::string text_;
};

// Hash and equality that also accept a plain string view as a string key, so
// lookups by text need not build an ObjectKey.
struct ObjectKeyHash {
    using is_transparent = void;
    std::size_t operator()(const ObjectKey& key) const noexcept { return key.hash(); }
    std::size_t operator()(std::string_view text) const noexcept;
};

struct ObjectKeyEqual {
    // Canonical equivalence of a string key's text with `b`.
    static bool equivalentText(const ObjectKey& a, std::string_view b) noexcept;

    using is_transparent = void;
    bool operator()(const ObjectKey& a, const ObjectKey& b) const noexcept { return a == b; }
    bool operator()(const ObjectKey& a, std::string_view b) const noexcept {
        // Keys are nearly always found byte for byte; canonical equivalence
        // is the slower second chance.
        return a.isString() && (sameBytes(a.text(), b) || equivalentText(a, b));
    }
    bool operator()(std::string_view a, const ObjectKey& b) const noexcept { return (*this)(b, a); }
};

} // namespace jinja
