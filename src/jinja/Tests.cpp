#include "jinja/Tests.h"

#include "jinja/CallArguments.h"
#include "jinja/JinjaError.h"
#include "jinja/filters/Filters.h"
#include "jinja/filters/UnicodeText.h"

#include <cmath>
#include <limits>
#include <unordered_map>

namespace jinja {

namespace {

using EnvPtr = std::shared_ptr<Environment>;
using Parameter = CallArguments::Parameter;

const Value& one(const Array& args, const KeywordArguments& kwargs) {
    static const Parameter params[] = {{"value", std::nullopt}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    return bound[0];
}

struct Pair {
    const Value& a;
    const Value& b;
};

// Parameter lists of the two-operand tests.
const Parameter kAB[] = {{"a", std::nullopt}, {"b", std::nullopt}};
const Parameter kDivisor[] = {{"value", std::nullopt}, {"divisor", std::nullopt}};
const Parameter kContainer[] = {{"value", std::nullopt}, {"container", std::nullopt}};

Pair two(const Array& args, const KeywordArguments& kwargs, std::span<const Parameter> params) {
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    return {bound[0], bound[1]};
}

#define JINJA_TEST(name) bool name(const Array& args, const KeywordArguments& kwargs, const EnvPtr&)

JINJA_TEST(defined) {
    return !one(args, kwargs).isUndefined();
}
JINJA_TEST(undefined) {
    return one(args, kwargs).isUndefined();
}
JINJA_TEST(none) {
    return one(args, kwargs).isNull();
}
JINJA_TEST(string) {
    return one(args, kwargs).isString();
}
JINJA_TEST(number) {
    return one(args, kwargs).isNumeric();
}
JINJA_TEST(boolean) {
    return one(args, kwargs).isBoolean();
}
JINJA_TEST(iterable) {
    return one(args, kwargs).isIterable();
}
JINJA_TEST(mapping) {
    return one(args, kwargs).isObject();
}
JINJA_TEST(callable) {
    const Value& v = one(args, kwargs);
    return v.isFunction() || v.isMacro();
}
JINJA_TEST(integer) {
    return one(args, kwargs).isInt();
}
JINJA_TEST(isTrue) {
    const Value& v = one(args, kwargs);
    return v.isBoolean() && v.asBool();
}
JINJA_TEST(isFalse) {
    const Value& v = one(args, kwargs);
    return v.isBoolean() && !v.asBool();
}
JINJA_TEST(isFloat) {
    return one(args, kwargs).isDouble();
}
JINJA_TEST(sequence) {
    const Value& v = one(args, kwargs);
    return v.isString() || v.isArray();
}
JINJA_TEST(escaped) {
    one(args, kwargs);
    return false;
}

JINJA_TEST(even) {
    const Value& v = one(args, kwargs);
    if (v.isInt()) return (v.asInt() & 1) == 0;
    if (v.isDouble()) return std::isfinite(v.asDouble()) && std::fmod(v.asDouble(), 2.0) == 0.0;
    return false;
}
JINJA_TEST(odd) {
    const Value& v = one(args, kwargs);
    if (v.isInt()) return (v.asInt() & 1) == 1;
    if (v.isDouble()) {
        double d = v.asDouble();
        return std::isfinite(d) && std::fmod(d, 1.0) == 0.0 && std::fmod(d, 2.0) != 0.0;
    }
    return false;
}
JINJA_TEST(divisibleby) {
    Pair p = two(args, kwargs, kDivisor);
    if (p.a.isInt() && p.b.isInt()) {
        std::int64_t d = p.b.asInt();
        if (d == 0) return false;
        if (d == -1) return true; // also for the smallest integer, whose quotient overflows
        return p.a.asInt() % d == 0;
    }
    if (p.a.isNumeric() && p.b.isNumeric()) {
        double d = p.b.toDouble();
        if (d == 0.0) return false;
        return std::fmod(p.a.toDouble(), d) == 0.0;
    }
    return false;
}
JINJA_TEST(lower) {
    const Value& v = one(args, kwargs);
    return v.isString() && text::canonicallyEqual(v.asString(), text::toLower(v.asString()));
}
JINJA_TEST(upper) {
    const Value& v = one(args, kwargs);
    return v.isString() && text::canonicallyEqual(v.asString(), text::toUpper(v.asString()));
}
JINJA_TEST(filter) {
    const Value& v = one(args, kwargs);
    return v.isString() && Filters::find(v.asString()) != nullptr;
}
JINJA_TEST(test) {
    const Value& v = one(args, kwargs);
    return v.isString() && Tests::find(v.asString()) != nullptr;
}
JINJA_TEST(sameas) {
    Pair p = two(args, kwargs, kAB);
    return p.a.compare(p.b) == 0;
}
JINJA_TEST(in) {
    Pair p = two(args, kwargs, kContainer);
    const Value& value = p.a;
    const Value& container = p.b;
    if (container.isString()) {
        if (!value.isString()) return false;
        if (value.asString().empty()) return true;
        if (container.asString().find(value.asString()) != std::string::npos) return true;
        if (text::isAscii(container.asString()) && text::isAscii(value.asString())) return false;
        return text::toNFC(container.asString()).find(text::toNFC(value.asString())) !=
               std::string::npos;
    }
    if (container.isObject()) {
        std::optional<ObjectKey> key = value.toObjectKey();
        return key && container.asObject().count(*key) > 0;
    }
    if (container.isArray()) {
        for (const Value& e : container.asArray())
            if (e.compare(value) == 0) return true;
        return false;
    }
    return false;
}
JINJA_TEST(eq) {
    Pair p = two(args, kwargs, kAB);
    return p.a.isEquivalent(p.b);
}
JINJA_TEST(ne) {
    Pair p = two(args, kwargs, kAB);
    return !p.a.isEquivalent(p.b);
}

// The ordering tests answer false where the two values cannot be ordered.
template <class Accept>
bool ordered(const Array& args, const KeywordArguments& kwargs, Accept accept) {
    Pair p = two(args, kwargs, kAB);
    try {
        return accept(p.a.compare(p.b));
    } catch (const JinjaError&) {
        return false;
    }
}
JINJA_TEST(gt) {
    return ordered(args, kwargs, [](int c) { return c > 0; });
}
JINJA_TEST(ge) {
    return ordered(args, kwargs, [](int c) { return c >= 0; });
}
JINJA_TEST(lt) {
    return ordered(args, kwargs, [](int c) { return c < 0; });
}
JINJA_TEST(le) {
    return ordered(args, kwargs, [](int c) { return c <= 0; });
}

#undef JINJA_TEST

struct Table {
    std::vector<std::pair<std::string_view, Tests::TestFunction>> rows;
    std::unordered_map<std::string_view, Tests::TestFunction> byName;
};

const Table& table() {
    static const Table t = [] {
        Table table;
        table.rows = {
            {"defined", defined},
            {"undefined", undefined},
            {"none", none},
            {"string", string},
            {"number", number},
            {"boolean", boolean},
            {"iterable", iterable},
            {"even", even},
            {"odd", odd},
            {"divisibleby", divisibleby},
            {"mapping", mapping},
            {"callable", callable},
            {"integer", integer},
            {"true", isTrue},
            {"false", isFalse},
            {"lower", lower},
            {"upper", upper},
            {"float", isFloat},
            {"sequence", sequence},
            {"escaped", escaped},
            {"filter", filter},
            {"test", test},
            {"sameas", sameas},
            {"in", in},
            {"eq", eq},
            {"==", eq},
            {"equalto", eq},
            {"ne", ne},
            {"!=", ne},
            {"gt", gt},
            {">", gt},
            {"greaterthan", gt},
            {"ge", ge},
            {">=", ge},
            {"lt", lt},
            {"<", lt},
            {"lessthan", lt},
            {"le", le},
            {"<=", le},
        };
        for (const auto& [name, fn] : table.rows)
            table.byName.emplace(name, fn);
        return table;
    }();
    return t;
}

} // namespace

Tests::TestFunction Tests::find(std::string_view name) {
    const auto& byName = table().byName;
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

const std::vector<std::pair<std::string_view, Tests::TestFunction>>& Tests::builtIn() {
    return table().rows;
}

} // namespace jinja
