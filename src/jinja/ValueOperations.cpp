// The template operators on values: arithmetic, concatenation, comparison,
// equivalence and containment.

#include "jinja/JinjaError.h"
#include "jinja/NestingGuard.h"
#include "jinja/Unicode.h"
#include "jinja/Value.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace jinja {

namespace {

// Largest string that repetition may build.
constexpr std::size_t maxRepeatedBytes = std::size_t{64} << 20;

[[noreturn]] void failWith(std::string_view prefix, const Value& left, const Value& right) {
    std::string message(prefix); // ends with "("
    left.appendDescription(message);
    message += " and ";
    right.appendDescription(message);
    message += ')';
    throw JinjaError::runtime(std::move(message));
}

std::string joined(const Value& left, const Value& right) {
    std::string out;
    left.appendDescription(out);
    right.appendDescription(out);
    return out;
}

bool isZero(const Value& v) noexcept {
    return v.isInt() ? v.asInt() == 0 : v.asDouble() == 0.0;
}

// A double converted to an int when it lies within the 64-bit range.
std::optional<std::int64_t> toInt64(double d) noexcept {
    // 2^63 is exactly representable; every double below it in magnitude fits.
    constexpr double limit = 9223372036854775808.0;
    if (!(d >= -limit && d < limit)) return std::nullopt;
    return static_cast<std::int64_t>(d);
}

Value repeat(const std::string& text, std::int64_t count, const Value& left, const Value& right) {
    if (count <= 0 || text.empty()) return Value(std::string());
    auto times = static_cast<std::uint64_t>(count);
    if (times > maxRepeatedBytes / text.size())
        failWith("String repetition result is too large (", left, right);
    std::string out;
    out.reserve(text.size() * times);
    for (std::uint64_t i = 0; i < times; ++i)
        out += text;
    return Value(std::move(out));
}

// Whether `needle` occurs in `haystack` as whole characters, up to canonical equivalence.
bool containsCanonical(const std::string& haystack, const std::string& needle) {
    if (needle.empty()) return true;
    if (platform::text::isAscii(haystack) && platform::text::isAscii(needle))
        return haystack.find(needle) != std::string::npos;
    std::string h = unicode::toNFC(haystack);
    std::string n = unicode::toNFC(needle);
    std::size_t at = h.find(n);
    if (at == std::string::npos) return false;
    std::vector<std::size_t> bounds = platform::text::graphemeBoundaries(h);
    for (; at != std::string::npos; at = h.find(n, at + 1))
        if (std::binary_search(bounds.begin(), bounds.end(), at) &&
            std::binary_search(bounds.begin(), bounds.end(), at + n.size()))
            return true;
    return false;
}

} // namespace

Value Value::add(const Value& other) const {
    if (isString()) return Value(joined(*this, other));
    if (isInt() && other.isInt()) {
        std::int64_t sum;
        if (__builtin_add_overflow(asInt(), other.asInt(), &sum))
            failWith("Integer overflow in addition (", *this, other);
        return Value(sum);
    }
    if (isNumeric() && other.isNumeric()) return Value(toDouble() + other.toDouble());
    if (isArray() && other.isArray()) {
        Array elements;
        elements.reserve(asArray().size() + other.asArray().size());
        elements.insert(elements.end(), asArray().begin(), asArray().end());
        elements.insert(elements.end(), other.asArray().begin(), other.asArray().end());
        return Value(std::move(elements));
    }
    if (other.isString()) return Value(joined(*this, other));
    failWith("Cannot add values of different types (", *this, other);
}

Value Value::subtract(const Value& other) const {
    if (isInt() && other.isInt()) {
        std::int64_t difference;
        if (__builtin_sub_overflow(asInt(), other.asInt(), &difference))
            failWith("Integer overflow in subtraction (", *this, other);
        return Value(difference);
    }
    if (isNumeric() && other.isNumeric()) return Value(toDouble() - other.toDouble());
    failWith("Cannot subtract non-numeric values (", *this, other);
}

Value Value::multiply(const Value& other) const {
    if (isString() && other.isInt()) return repeat(asString(), other.asInt(), *this, other);
    if (isInt() && other.isString()) return repeat(other.asString(), asInt(), *this, other);
    if (isInt() && other.isInt()) {
        std::int64_t product;
        if (__builtin_mul_overflow(asInt(), other.asInt(), &product))
            failWith("Integer overflow in multiplication (", *this, other);
        return Value(product);
    }
    if (isNumeric() && other.isNumeric()) return Value(toDouble() * other.toDouble());
    failWith("Cannot multiply values of these types (", *this, other);
}

Value Value::divide(const Value& other) const {
    if (!isNumeric() || !other.isNumeric())
        failWith("Cannot divide non-numeric values (", *this, other);
    if (isZero(other)) throw JinjaError::runtime("Division by zero");
    return Value(toDouble() / other.toDouble());
}

Value Value::floorDivide(const Value& other) const {
    if (!isNumeric() || !other.isNumeric())
        failWith("Cannot floor divide non-numeric values (", *this, other);
    if (isZero(other)) throw JinjaError::runtime("Division by zero");
    if (isInt() && other.isInt()) {
        if (asInt() == std::numeric_limits<std::int64_t>::min() && other.asInt() == -1)
            failWith("Integer overflow in floor division (", *this, other);
        return Value(asInt() / other.asInt());
    }
    std::optional<std::int64_t> result = toInt64(std::floor(toDouble() / other.toDouble()));
    if (!result) failWith("Floor division result is not a representable integer (", *this, other);
    return Value(*result);
}

Value Value::power(const Value& other) const {
    if (!isNumeric() || !other.isNumeric())
        failWith("Cannot raise non-numeric values to a power (", *this, other);
    if (isInt() && other.isInt() && other.asInt() >= 0) {
        std::optional<std::int64_t> result =
            toInt64(std::pow(static_cast<double>(asInt()), static_cast<double>(other.asInt())));
        if (!result) failWith("Integer overflow in power (", *this, other);
        return Value(*result);
    }
    return Value(std::pow(toDouble(), other.toDouble()));
}

Value Value::modulo(const Value& other) const {
    if (!isInt() || !other.isInt()) failWith("Modulo operation requires integers (", *this, other);
    if (other.asInt() == 0) throw JinjaError::runtime("Modulo by zero");
    // x % -1 is 0 for every x; computing it would overflow for the smallest integer.
    if (other.asInt() == -1) return Value(0);
    return Value(asInt() % other.asInt());
}

Value Value::concatenate(const Value& other) const {
    if (isString() || other.isString()) return Value(joined(*this, other));
    failWith("Cannot concatenate values of different types (", *this, other);
}

int Value::compare(const Value& other) const {
    if (isInt() && other.isInt())
        return asInt() < other.asInt() ? -1 : (asInt() > other.asInt() ? 1 : 0);
    if (isNumeric() && other.isNumeric()) {
        double a = toDouble();
        double b = other.toDouble();
        return a < b ? -1 : (b < a ? 1 : 0);
    }
    if (isString() && other.isString())
        return unicode::compareCanonical(asString(), other.asString());
    failWith("Cannot compare values of different types (", *this, other);
}

bool Value::isEquivalent(const Value& other) const {
    if (isNumeric() && other.isNumeric() && kind_ != other.kind_)
        return toDouble() == other.toDouble();
    if (kind_ != other.kind_) return false;
    std::optional<NestingGuard> guard;
    if (isArray() || isObject()) guard.emplace();
    if (isArray()) {
        const Array& a = asArray();
        const Array& b = other.asArray();
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!a[i].isEquivalent(b[i])) return false;
        return true;
    }
    if (isObject()) {
        const Object& a = asObject();
        const Object& b = other.asObject();
        if (a.size() != b.size()) return false;
        auto j = b.begin();
        for (auto i = a.begin(); i != a.end(); ++i, ++j)
            if (!(i->first == j->first) || !i->second.isEquivalent(j->second)) return false;
        return true;
    }
    return *this == other;
}

bool Value::isContained(const Value& container) const {
    switch (container.kind()) {
    case Kind::object:
        if (isInt()) return container.asObject().count(ObjectKey(asInt())) > 0;
        if (isString()) return objectGet(container.asObject(), asString()) != nullptr;
        return false;
    case Kind::string:
        return isString() && containsCanonical(container.asString(), asString());
    case Kind::array:
        return std::any_of(container.asArray().begin(), container.asArray().end(),
                           [this](const Value& element) { return element == *this; });
    case Kind::null:
    case Kind::undefined:
        return false;
    default:
        break;
    }
    std::string message = "'in' operator requires iterable on right side (";
    container.appendDescription(message);
    message += ')';
    throw JinjaError::runtime(std::move(message));
}

} // namespace jinja
