#include "hub/BinaryDistinctString.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"

#include <fmt/format.h>
#include <stdexcept>

namespace hub {
namespace text = platform::text;
namespace {

std::string fromCodeUnits(const std::vector<std::uint16_t>& units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            text::appendUtf8AllowingSurrogates(out, 0x10000 + ((u - 0xD800) << 10) +
                                                        (units[i + 1] - 0xDC00));
            ++i;
        } else {
            text::appendUtf8AllowingSurrogates(out,
                                               u); // lone surrogates keep their generalised form
        }
    }
    return out;
}

std::vector<std::uint16_t> toCodeUnits(std::string_view text) {
    std::vector<std::uint16_t> units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = text::decodeNextAllowingSurrogates(text, i);
        if (cp >= 0x10000) {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return units;
}

std::uint32_t firstCodeUnit(char32_t cp) {
    return cp < 0x10000 ? cp : 0xD800 + ((cp - 0x10000) >> 10);
}

[[noreturn]] void outOfBounds() {
    throw std::out_of_range("Index out of bounds");
}

} // namespace

BinaryDistinctCharacter::BinaryDistinctCharacter(const std::vector<std::uint16_t>& bytes)
    : text_(fromCodeUnits(bytes)) {}

std::vector<std::uint16_t> BinaryDistinctCharacter::bytes() const {
    return toCodeUnits(text_);
}

std::string BinaryDistinctCharacter::description() const {
    std::string out = "BinaryDistinctCharacter('" + text_ + "', bytes: [";
    bool first = true;
    for (std::uint16_t unit : bytes()) {
        if (!first) out += ", ";
        first = false;
        out += fmt::format("\"0x{:02X}\"", unit);
    }
    return out + "])";
}

BinaryDistinctString::BinaryDistinctString(const std::vector<std::uint16_t>& codeUnits)
    : text_(fromCodeUnits(codeUnits)) {}

BinaryDistinctString::BinaryDistinctString(const std::vector<BinaryDistinctCharacter>& characters) {
    for (const auto& c : characters)
        text_ += c.str();
}

std::vector<std::uint16_t> BinaryDistinctString::value() const {
    return toCodeUnits(text_);
}

std::strong_ordering BinaryDistinctString::operator<=>(const BinaryDistinctString& other) const {
    const std::string_view a = text_, b = other.text_;
    std::size_t i = 0;
    const std::size_t n = std::min(a.size(), b.size());
    while (i < n && a[i] == b[i])
        ++i;
    if (i == a.size() || i == b.size()) return a.size() <=> b.size();
    // Back up to the start of the code point that differs (same in both).
    i = text::codePointStart(a, i);
    std::size_t ia = i, ib = i;
    const char32_t ca = text::decodeNextAllowingSurrogates(a, ia),
                   cb = text::decodeNextAllowingSurrogates(b, ib);
    const std::uint32_t ua = firstCodeUnit(ca), ub = firstCodeUnit(cb);
    if (ua != ub) return ua <=> ub;
    return static_cast<std::uint32_t>(ca) <=> static_cast<std::uint32_t>(cb);
}

bool BinaryDistinctString::hasPrefix(const BinaryDistinctString& prefix) const {
    return text_.size() >= prefix.text_.size() &&
           text_.compare(0, prefix.text_.size(), prefix.text_) == 0;
}

bool BinaryDistinctString::hasSuffix(const BinaryDistinctString& suffix) const {
    return text_.size() >= suffix.text_.size() &&
           text_.compare(text_.size() - suffix.text_.size(), suffix.text_.size(), suffix.text_) ==
               0;
}

std::size_t BinaryDistinctString::count() const {
    return text::graphemeCount(text_);
}

std::ptrdiff_t BinaryDistinctString::index(std::ptrdiff_t position, std::ptrdiff_t offset) const {
    const std::ptrdiff_t result = position + offset;
    if (result < 0 || result > static_cast<std::ptrdiff_t>(count())) outOfBounds();
    return result;
}

std::optional<std::ptrdiff_t>
BinaryDistinctString::index(std::ptrdiff_t position, std::ptrdiff_t offset, std::ptrdiff_t limit) {
    const std::ptrdiff_t result = position + offset;
    if (result > limit) return std::nullopt;
    return result;
}

std::vector<BinaryDistinctCharacter> BinaryDistinctString::characters() const {
    const auto bounds = text::graphemeBoundaries(text_);
    std::vector<BinaryDistinctCharacter> out;
    out.reserve(bounds.size() - 1);
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k)
        out.emplace_back(std::string_view(text_).substr(bounds[k], bounds[k + 1] - bounds[k]));
    return out;
}

BinaryDistinctString BinaryDistinctString::slice(std::ptrdiff_t lower, std::ptrdiff_t upper) const {
    const auto bounds = text::graphemeBoundaries(text_);
    const auto n = static_cast<std::ptrdiff_t>(bounds.size() - 1);
    if (lower < 0 || upper > n) outOfBounds();
    // Walk the characters noting the offset before `lower` and after
    // `upper - 1`; the slice runs between the first and the last note.
    std::vector<std::size_t> notes;
    for (std::ptrdiff_t p = 0; p < n; ++p) {
        if (p == lower) notes.push_back(bounds[p]);
        if (p == upper - 1) {
            notes.push_back(bounds[p + 1]);
            break;
        }
    }
    if (notes.empty()) return *this;
    return std::string_view(text_).substr(notes.front(), notes.back() - notes.front());
}

BinaryDistinctString BinaryDistinctString::slice(std::ptrdiff_t lower) const {
    return slice(lower, static_cast<std::ptrdiff_t>(count()));
}

BinaryDistinctString BinaryDistinctString::lowercased() const {
    return text::toLower(text_);
}

BinaryDistinctString
BinaryDistinctString::replacingOccurrences(std::string_view target,
                                           std::string_view replacement) const {
    if (target.empty()) return *this;
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text_.find(target, pos)) != std::string::npos;
         pos = hit + target.size()) {
        out.append(text_, pos, hit - pos);
        out.append(replacement);
    }
    out.append(text_, pos);
    return out;
}

} // namespace hub
