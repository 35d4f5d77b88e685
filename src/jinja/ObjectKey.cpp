#include "jinja/ObjectKey.h"

#include "jinja/Unicode.h"
#include "platform/text/CaseMapping.h"

#include <functional>

namespace jinja {

std::string ObjectKey::stringValue() const {
    return kind_ == Kind::int_ ? std::to_string(number_) : text_;
}

std::optional<std::int64_t> ObjectKey::intValue() const {
    if (kind_ == Kind::int_) return number_;
    return std::nullopt;
}

std::string ObjectKey::description() const {
    if (kind_ == Kind::int_) return std::to_string(number_);
    std::string out;
    out.reserve(text_.size() + 2);
    out += '\'';
    out += text_;
    out += '\'';
    return out;
}

std::size_t ObjectKey::hash() const noexcept {
    if (kind_ == Kind::int_) return std::hash<std::int64_t>{}(number_)*31 + 1;
    return unicode::canonicalHash(text_);
}

bool operator==(const ObjectKey& a, const ObjectKey& b) noexcept {
    if (a.kind_ != b.kind_) return false;
    if (a.kind_ == ObjectKey::Kind::int_) return a.number_ == b.number_;
    try {
        return unicode::canonicallyEqual(a.text_, b.text_);
    } catch (...) {
        return a.text_ == b.text_;
    }
}

std::strong_ordering operator<=>(const ObjectKey& a, const ObjectKey& b) noexcept {
    if (a.kind_ != b.kind_)
        return a.kind_ == ObjectKey::Kind::int_ ? std::strong_ordering::less
                                                : std::strong_ordering::greater;
    if (a.kind_ == ObjectKey::Kind::int_) return a.number_ <=> b.number_;
    int order;
    try {
        order = unicode::compareCanonical(a.text_, b.text_);
    } catch (...) {
        order = a.text_.compare(b.text_);
    }
    return order <=> 0;
}

int ObjectKey::compare(const ObjectKey& other, CompareOptions options) const {
    if (kind_ != other.kind_) return kind_ == Kind::int_ ? -1 : 1;
    if (kind_ == Kind::int_)
        return number_ < other.number_ ? -1 : (number_ > other.number_ ? 1 : 0);
    if (options == CompareOptions::caseInsensitive) {
        // Full case folding of the composed forms, in code point order (the
        // byte order of UTF-8).
        int order = platform::text::foldCase(unicode::toNFC(text_))
                        .compare(platform::text::foldCase(unicode::toNFC(other.text_)));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    return unicode::compareCanonical(text_, other.text_);
}

std::size_t ObjectKeyHash::operator()(std::string_view text) const noexcept {
    return unicode::canonicalHash(text);
}

bool ObjectKeyEqual::equivalentText(const ObjectKey& a, std::string_view b) noexcept {
    try {
        return unicode::canonicallyEqual(a.text(), b);
    } catch (...) {
        return a.text() == b;
    }
}

} // namespace jinja
