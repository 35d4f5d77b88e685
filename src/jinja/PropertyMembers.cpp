#include "jinja/PropertyMembers.h"

#include "jinja/CallArguments.h"
#include "jinja/JinjaError.h"
#include "jinja/RenderLimits.h"
#include "jinja/filters/UnicodeText.h"

#include <array>

namespace jinja {

namespace {

using EnvPtr = std::shared_ptr<Environment>;
using Parameter = CallArguments::Parameter;

constexpr std::array<std::string_view, 10> kStringMethods = {
    "upper",  "lower", "title",   "strip",      "lstrip",
    "rstrip", "split", "replace", "startswith", "endswith"};
constexpr std::array<std::string_view, 4> kObjectMethods = {"items", "get", "keys", "values"};

// Binds a method's arguments, ignoring the scope, and runs `body` on the receiver copy.
template <class Body> Value method(Value receiver, Body body) {
    return Value(Function([receiver = std::move(receiver),
                           body](const Array& args, const KeywordArguments& kwargs, const EnvPtr&) {
        return body(receiver, args, kwargs);
    }));
}

enum class Ends { both, front, back };

Value strip(std::string_view methodName, Ends ends, const std::string& s, const Array& args,
            const KeywordArguments& kwargs) {
    if (args.size() > 1)
        throw JinjaError::runtime(std::string(methodName) + "() takes at most 1 argument (" +
                                  std::to_string(args.size()) + " given)");
    static const Parameter params[] = {{"chars", Value()}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    const Value& chars = bound[0];
    bool front = ends != Ends::back, back = ends != Ends::front;
    if (chars.isNull())
        return Value(std::string(text::trimCodePoints(s, text::isWhiteSpace, front, back)));
    if (!chars.isString())
        throw JinjaError::runtime(std::string(methodName) +
                                  "() chars argument must be a string or null");
    std::u32string set;
    for (std::size_t i = 0; i < chars.asString().size();)
        set.push_back(text::decodeNext(chars.asString(), i));
    auto inSet = [&](char32_t c) { return set.find(c) != std::u32string::npos; };
    return Value(std::string(text::trimCodePoints(s, inSet, front, back)));
}

Value split(const std::string& s, const Array& args, const KeywordArguments& kwargs) {
    static const Parameter params[] = {{"separator", Value()}, {"maxsplit", Value(-1)}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    Array pieces;
    if (!bound[0].isString()) {
        for (std::string_view piece : text::splitScalars(s, [](char32_t c) { return c == U' '; }))
            pieces.emplace_back(piece);
        return Value(std::move(pieces));
    }
    const std::string& sep = bound[0].asString();
    const Value& maxsplit = bound[1];
    bool limited = maxsplit.isInt() && maxsplit.asInt() >= 0;
    std::int64_t remaining = limited ? maxsplit.asInt() : 0;
    if (sep.empty()) {
        pieces.emplace_back(s);
        return Value(std::move(pieces));
    }
    std::size_t start = 0;
    while (!limited || remaining-- > 0) {
        std::size_t at = s.find(sep, start);
        if (at == std::string::npos) break;
        pieces.emplace_back(std::string_view(s).substr(start, at - start));
        start = at + sep.size();
    }
    pieces.emplace_back(std::string_view(s).substr(start));
    return Value(std::move(pieces));
}

Value replace(const std::string& s, const Array& args, const KeywordArguments& kwargs) {
    static const Parameter params[] = {
        {"old", std::nullopt}, {"new", std::nullopt}, {"count", Value(-1)}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    if (!bound[0].isString() || !bound[1].isString())
        throw JinjaError::runtime("replace() requires 'old' and 'new' string arguments");
    const Value& count = bound[2];
    std::optional<std::int64_t> limit;
    if (count.isInt() && count.asInt() >= 0) limit = count.asInt();
    return Value(
        PropertyMembers::replaceOccurrences(s, bound[0].asString(), bound[1].asString(), limit));
}

Value affix(bool prefix, const std::string& s, const Array& args, const KeywordArguments& kwargs) {
    static const Parameter prefixParams[] = {{"prefix", std::nullopt}};
    static const Parameter suffixParams[] = {{"suffix", std::nullopt}};
    CallArguments bound = CallArguments::bind(prefix ? prefixParams : suffixParams, args, kwargs);
    if (!bound[0].isString())
        throw JinjaError::runtime(prefix ? "startswith() requires a string prefix"
                                         : "endswith() requires a string suffix");
    const std::string& a = bound[0].asString();
    if (a.empty()) return Value(true);
    if (a.size() <= s.size() && (prefix ? s.compare(0, a.size(), a) == 0
                                        : s.compare(s.size() - a.size(), a.size(), a) == 0)) {
        // A match must end (or begin) on a character boundary.
        if (text::isAscii(s)) return Value(true);
        std::vector<std::size_t> b = text::graphemeBoundaries(s);
        std::size_t edge = prefix ? a.size() : s.size() - a.size();
        if (std::binary_search(b.begin(), b.end(), edge)) return Value(true);
    }
    if (text::isAscii(s) && text::isAscii(a)) return Value(false);
    // Canonically equivalent spellings: compare composed forms by characters.
    std::string ns = text::toNFC(s), na = text::toNFC(a);
    std::vector<std::string_view> gs = text::graphemes(ns), ga = text::graphemes(na);
    if (ga.size() > gs.size()) return Value(false);
    std::size_t offset = prefix ? 0 : gs.size() - ga.size();
    for (std::size_t i = 0; i < ga.size(); ++i)
        if (gs[offset + i] != ga[i]) return Value(false);
    return Value(true);
}

Value noParameters(const Array& args, const KeywordArguments& kwargs) {
    CallArguments::bind({}, args, kwargs);
    return Value();
}

Value stringMethod(const Value& receiver, std::string_view name) {
    if (name == "upper")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            return Value(text::toUpper(r.asString()));
        });
    if (name == "lower")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            return Value(text::toLower(r.asString()));
        });
    if (name == "title")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            return Value(text::toTitle(r.asString()));
        });
    if (name == "strip")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return strip("strip", Ends::both, r.asString(), a, k);
        });
    if (name == "lstrip")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return strip("lstrip", Ends::front, r.asString(), a, k);
        });
    if (name == "rstrip")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return strip("rstrip", Ends::back, r.asString(), a, k);
        });
    if (name == "split")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return split(r.asString(), a, k);
        });
    if (name == "replace")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return replace(r.asString(), a, k);
        });
    if (name == "startswith")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return affix(true, r.asString(), a, k);
        });
    if (name == "endswith")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            return affix(false, r.asString(), a, k);
        });
    return Value::undefined();
}

Value objectMethod(const Value& receiver, std::string_view name) {
    if (name == "items")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            return PropertyMembers::itemsOf(r.asObject());
        });
    if (name == "keys")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            Array keys;
            keys.reserve(r.asObject().size());
            for (const auto& [key, value] : r.asObject())
                keys.emplace_back(key);
            return Value(std::move(keys));
        });
    if (name == "values")
        return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
            noParameters(a, k);
            Array values;
            values.reserve(r.asObject().size());
            for (const auto& [key, value] : r.asObject())
                values.push_back(value);
            return Value(std::move(values));
        });
    // get
    return method(receiver, [](const Value& r, const Array& a, const KeywordArguments& k) {
        static const Parameter params[] = {{"key", std::nullopt}, {"default", Value()}};
        CallArguments bound = CallArguments::bind(params, a, k);
        std::optional<ObjectKey> key = bound[0].toObjectKey();
        if (!key) return bound[1];
        auto it = r.asObject().find(*key);
        return it != r.asObject().end() ? it->second : bound[1];
    });
}

} // namespace

bool PropertyMembers::isObjectMethod(std::string_view name) noexcept {
    for (std::string_view m : kObjectMethods)
        if (m == name) return true;
    return false;
}

bool PropertyMembers::isStringMethod(std::string_view name) noexcept {
    for (std::string_view m : kStringMethods)
        if (m == name) return true;
    return false;
}

Value PropertyMembers::evaluate(const Value& receiver, std::string_view name) {
    if (receiver.isObject()) return evaluateObjectProperty(receiver, name);
    if (receiver.isString()) return evaluateStringProperty(receiver, name);
    return Value::undefined();
}

Value PropertyMembers::evaluateObjectProperty(const Value& object, std::string_view name) {
    if (!object.isObject()) return Value::undefined();
    if (isObjectMethod(name)) return objectMethod(object, name);
    const Value* v = objectGet(object.asObject(), name);
    return v ? *v : Value::undefined();
}

Value PropertyMembers::evaluateStringProperty(const Value& string, std::string_view name) {
    if (!string.isString() || !isStringMethod(name)) return Value::undefined();
    return stringMethod(string, name);
}

Value PropertyMembers::itemsOf(const Object& object) {
    Array items;
    items.reserve(object.size());
    for (const auto& [key, value] : object)
        items.push_back(Value(Array{Value(key), value}));
    return Value(std::move(items));
}

std::string PropertyMembers::replaceOccurrences(std::string_view s, std::string_view old,
                                                std::string_view replacement,
                                                std::optional<std::int64_t> limit) {
    std::string out;
    std::int64_t made = 0;
    auto allowed = [&] { return !limit || made < *limit; };
    if (old.empty()) {
        // Insert before every character and once after the last one.
        std::vector<std::size_t> bounds = text::graphemeBoundaries(s);
        std::size_t insertions = bounds.size();
        if (limit)
            insertions = std::min<std::size_t>(
                insertions, static_cast<std::size_t>(std::max<std::int64_t>(*limit, 0)));
        RenderLimits::checkBytes(insertions, replacement.size() + 1);
        RenderLimits::checkAppend(s.size(), insertions * replacement.size());
        for (std::size_t k = 0; k < bounds.size(); ++k) {
            if (allowed()) {
                out += replacement;
                ++made;
            }
            if (k + 1 < bounds.size()) out.append(s.substr(bounds[k], bounds[k + 1] - bounds[k]));
        }
        return out;
    }
    std::size_t start = 0;
    while (allowed()) {
        std::size_t at = s.find(old, start);
        if (at == std::string_view::npos) break;
        out.append(s.substr(start, at - start));
        RenderLimits::checkAppend(out.size(), replacement.size());
        out += replacement;
        ++made;
        start = at + old.size();
    }
    out.append(s.substr(start));
    RenderLimits::checkBytes(out.size());
    return out;
}

} // namespace jinja
