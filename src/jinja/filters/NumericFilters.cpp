#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"
#include "jinja/filters/UnicodeText.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace jinja::filters {

namespace {

JINJA_FILTER(abs) {
    if (args.empty()) return Value(0);
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isInt()) {
        if (v.asInt() == std::numeric_limits<std::int64_t>::min())
            throw JinjaError::runtime("abs filter: integer overflow");
        return Value(v.asInt() < 0 ? -v.asInt() : v.asInt());
    }
    if (v.isDouble()) return Value(std::fabs(v.asDouble()));
    throw JinjaError::runtime("abs filter requires number or integer");
}

// The whole text read as a double in the C locale, or nothing.
std::optional<double> readDouble(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char c = s.front();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return std::nullopt;
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    char* end = nullptr;
    double d = strtod_l(s.c_str(), &end, cLocale);
    if (end != s.c_str() + s.size()) return std::nullopt;
    return d;
}

JINJA_FILTER(toFloat) {
    if (args.empty()) return Value(0.0);
    static const Parameter params[] = {{"default", Value(0.0)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const Value& v = args[0];
    if (v.isInt()) return Value(static_cast<double>(v.asInt()));
    if (v.isDouble()) return v;
    if (v.isString()) {
        if (std::optional<double> d = readDouble(v.asString())) return Value(*d);
    }
    return bound[0];
}

// An optional sign and digits of the radix, within the 64-bit range.
std::optional<std::int64_t> readInteger(std::string_view t, int radix) {
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty()) return std::nullopt;
    unsigned __int128 magnitude = 0;
    for (char c : t) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'z' ? c - 'a' + 10
                    : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                           : 99;
        if (digit >= radix) return std::nullopt;
        magnitude = magnitude * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
        if (magnitude > (static_cast<unsigned __int128>(1) << 63)) return std::nullopt;
    }
    if (negative) return static_cast<std::int64_t>(-static_cast<__int128>(magnitude));
    if (magnitude > static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

std::optional<std::int64_t> parseIntText(std::string_view text, const Value& base) {
    std::string_view t = text::trimCodePoints(text, text::isWhiteSpace);
    auto prefixed = [&](char lower, char upper) {
        return t.size() >= 2 && t[0] == '0' && (t[1] == lower || t[1] == upper);
    };
    if (prefixed('b', 'B')) return readInteger(t.substr(2), 2);
    if (prefixed('o', 'O')) return readInteger(t.substr(2), 8);
    if (prefixed('x', 'X')) return readInteger(t.substr(2), 16);
    if (base.isInt() && base.asInt() != 10 && base.asInt() >= 2 && base.asInt() <= 36 &&
        !t.empty()) {
        if (auto v = readInteger(t, static_cast<int>(base.asInt()))) return v;
    }
    return readInteger(t, 10);
}

JINJA_FILTER(toInt) {
    if (args.empty()) return Value(0);
    static const Parameter params[] = {{"default", Value(0)}, {"base", Value(10)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const Value& v = args[0];
    if (v.isInt()) return v;
    if (v.isDouble()) {
        double d = v.asDouble();
        // Beyond the 64-bit range (and NaN) there is no integer: the conversion fails.
        if (std::isfinite(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return Value(static_cast<std::int64_t>(d));
        return bound[0];
    }
    if (v.isString()) {
        if (auto n = parseIntText(v.asString(), bound[1])) return Value(*n);
    }
    return bound[0];
}

// Whether x orders before y; nothing when the pair cannot be ordered.
std::optional<bool> ordersBefore(const Value& x, const Value& y, bool caseSensitive) {
    if (x.isInt() && y.isInt()) return x.asInt() < y.asInt();
    if (x.isNumeric() && y.isNumeric()) return x.toDouble() < y.toDouble();
    if (x.isString() && y.isString()) {
        if (caseSensitive) return text::compareText(x.asString(), y.asString()) < 0;
        std::string a = text::toLower(x.asString()), b = text::toLower(y.asString());
        return !text::canonicallyEqual(a, b) && text::compareText(a, b) < 0;
    }
    return std::nullopt;
}

Value extreme(const Array& args, const KeywordArguments& kwargs, bool wantMax) {
    if (args.empty() || !args[0].isArray()) return Value::undefined();
    static const Parameter params[] = {{"case_sensitive", Value(false)}, {"attribute", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const bool caseSensitive = bound[0].isTruthy();
    const Array& items = args[0].asArray();
    if (items.empty()) return Value::undefined();
    if (items.size() == 1) return items[0];
    const bool byAttribute = bound[1].isString();
    auto key = [&](const Value& item) {
        return byAttribute ? PropertyMembers::evaluate(item, bound[1].asString()) : item;
    };
    std::size_t best = 0;
    Value bestKey = key(items[0]);
    for (std::size_t i = 1; i < items.size(); ++i) {
        Value k = key(items[i]);
        const Value& left = wantMax ? bestKey : k;
        const Value& right = wantMax ? k : bestKey;
        std::optional<bool> before = ordersBefore(left, right, caseSensitive);
        if (!before && byAttribute)
            throw JinjaError::runtime("Cannot compare values of different types (" +
                                      left.description() + " and " + right.description() + ")");
        if (before && *before) {
            best = i;
            bestKey = std::move(k);
        }
    }
    return items[best];
}

JINJA_FILTER(max) {
    return extreme(args, kwargs, true);
}
JINJA_FILTER(min) {
    return extreme(args, kwargs, false);
}

JINJA_FILTER(round) {
    if (args.empty()) return Value(0.0);
    static const Parameter params[] = {{"precision", Value(0)}, {"method", Value("common")}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const Value& v = args[0];
    if (!v.isNumeric()) return v;
    double x = v.toDouble();
    double precision = bound[0].isInt() ? static_cast<double>(bound[0].asInt()) : 0.0;
    std::string_view method =
        bound[1].isString() ? std::string_view(bound[1].asString()) : "common";
    double f = std::pow(10.0, precision);
    if (method == "common") return Value(std::round(x * f) / f);
    if (method == "ceil") return Value(std::ceil(x * f) / f);
    if (method == "floor") return Value(std::floor(x * f) / f);
    return Value(x);
}

constexpr FilterRow kRows[] = {
    {"abs", abs}, {"float", toFloat}, {"int", toInt}, {"max", max}, {"min", min}, {"round", round},
};

} // namespace

std::span<const FilterRow> numericFilterRows() {
    return kRows;
}

} // namespace jinja::filters
