#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"
#include "jinja/filters/UnicodeText.h"

#include <random>

namespace jinja::filters {

namespace {

std::size_t pick(std::size_t count) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(generator);
}

JINJA_FILTER(length) {
    if (args.empty()) throw JinjaError::runtime("length filter requires string, array, or object");
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isString()) return Value(static_cast<std::int64_t>(text::graphemeCount(v.asString())));
    if (v.isArray()) return Value(static_cast<std::int64_t>(v.asArray().size()));
    if (v.isObject()) return Value(static_cast<std::int64_t>(v.asObject().size()));
    if (v.isUndefined()) return Value(0);
    throw JinjaError::runtime("length filter requires string, array, or object");
}

JINJA_FILTER(join) {
    if (args.empty() || !args[0].isArray()) throw JinjaError::runtime("join filter requires array");
    static const Parameter params[] = {{"separator", Value(std::string())}, {"attribute", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isString()) throw JinjaError::runtime("join filter requires string separator");
    const std::string& separator = bound[0].asString();
    const Value& attribute = bound[1];
    std::string out;
    bool firstPiece = true;
    for (const Value& element : args[0].asArray()) {
        if (!firstPiece) {
            RenderLimits::checkAppend(out.size(), separator.size());
            out += separator;
        }
        firstPiece = false;
        if (attribute.isNull())
            RenderLimits::appendPrinted(out, element);
        else
            RenderLimits::appendPrinted(out, Filters::resolveAttributeValue(element, attribute));
    }
    return Value(std::move(out));
}

JINJA_FILTER(defaultValue) {
    static const Parameter params[] = {{"default_value", std::nullopt}, {"boolean", Value(false)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const Value& value = args.empty() ? Value::undefined() : args[0];
    if (value.isUndefined()) return bound[0];
    if (bound[1].isTruthy() && value.isBoolean() && !value.asBool()) return bound[0];
    return value;
}

Value endOf(const Array& args, const KeywordArguments& kwargs, bool first) {
    if (args.empty()) return Value::undefined();
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isString()) {
        const std::string& s = v.asString();
        if (s.empty()) return Value::undefined();
        std::vector<std::size_t> b = text::graphemeBoundaries(s);
        std::size_t k = first ? 0 : b.size() - 2;
        return Value(s.substr(b[k], b[k + 1] - b[k]));
    }
    if (v.isArray()) {
        const Array& a = v.asArray();
        if (a.empty()) return Value::undefined();
        return first ? a.front() : a.back();
    }
    throw JinjaError::runtime(first ? "first filter requires array or string"
                                    : "last filter requires array or string");
}

JINJA_FILTER(first) {
    return endOf(args, kwargs, true);
}
JINJA_FILTER(last) {
    return endOf(args, kwargs, false);
}

JINJA_FILTER(random) {
    if (args.empty()) return Value::undefined();
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isString() && !v.asString().empty()) {
        std::vector<std::string_view> chars = text::graphemes(v.asString());
        return Value(chars[pick(chars.size())]);
    }
    if (v.isArray() && !v.asArray().empty()) return v.asArray()[pick(v.asArray().size())];
    if (v.isObject() && !v.asObject().empty()) {
        const Object& o = v.asObject();
        return Value((o.begin() + static_cast<std::ptrdiff_t>(pick(o.size())))->first);
    }
    return Value::undefined();
}

JINJA_FILTER(reverse) {
    if (args.empty()) return Value::undefined();
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isString()) {
        std::vector<std::string_view> chars = text::graphemes(v.asString());
        std::string out;
        out.reserve(v.asString().size());
        for (auto it = chars.rbegin(); it != chars.rend(); ++it)
            out += *it;
        return Value(std::move(out));
    }
    if (v.isArray()) return Value(Array(v.asArray().rbegin(), v.asArray().rend()));
    throw JinjaError::runtime("reverse filter requires array or string");
}

JINJA_FILTER(slice) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {{"numSlices", std::nullopt}, {"fillWith", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isInt() || bound[0].asInt() < 1)
        throw JinjaError::runtime("slice filter requires positive integer numSlices parameter");
    const Array& items = args[0].asArray();
    const std::size_t n = items.size();
    RenderLimits::checkItems(static_cast<std::uint64_t>(bound[0].asInt()) >
                                     RenderLimits::current().maxItems
                                 ? std::size_t(-1)
                                 : static_cast<std::size_t>(bound[0].asInt()));
    const auto k = static_cast<std::size_t>(bound[0].asInt());
    const std::size_t per = n / k + (n % k != 0);
    RenderLimits::checkItems(per, k);
    std::vector<Array> slices(k);
    for (Array& s : slices)
        s.reserve(per);
    for (std::size_t i = 0; i < per; ++i)
        for (std::size_t j = 0; j < k; ++j) {
            std::size_t index = i * k + j;
            slices[j].push_back(index < n ? items[index] : bound[1]);
        }
    Array out;
    out.reserve(k);
    for (Array& s : slices)
        out.emplace_back(std::move(s));
    return Value(std::move(out));
}

JINJA_FILTER(list) {
    if (args.empty()) return Value(Array{});
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isArray()) return v;
    Array out;
    if (v.isObject()) {
        out.reserve(v.asObject().size());
        for (const auto& entry : v.asObject())
            out.push_back(entry.second);
    } else if (v.isString()) {
        std::vector<std::string_view> characters = text::graphemes(v.asString());
        RenderLimits::checkItems(characters.size());
        out.reserve(characters.size());
        for (std::string_view c : characters)
            out.emplace_back(c);
    }
    return Value(std::move(out));
}

JINJA_FILTER(batch) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {{"batchSize", std::nullopt}, {"fillWith", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isInt() || bound[0].asInt() < 1)
        throw JinjaError::runtime("batch filter requires positive integer batchSize parameter");
    const Array& items = args[0].asArray();
    const auto size = static_cast<std::uint64_t>(bound[0].asInt());
    // The last batch is padded up to the batch size: bound that before filling it.
    if (!items.empty())
        RenderLimits::checkItems(size > RenderLimits::current().maxItems ? std::size_t(-1) : size);
    Array out;
    Array current;
    for (const Value& item : items) {
        current.push_back(item);
        if (current.size() == size) {
            out.emplace_back(std::move(current));
            current = Array{};
        }
    }
    if (!current.empty()) {
        while (current.size() < size)
            current.push_back(bound[1]);
        out.emplace_back(std::move(current));
    }
    return Value(std::move(out));
}

JINJA_FILTER(sum) {
    if (args.empty() || !args[0].isArray()) return Value(0);
    static const Parameter params[] = {{"attribute", Value()}, {"start", Value(0)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    Value acc = bound[1];
    for (const Value& element : args[0].asArray()) {
        Value term =
            bound[0].isString() ? PropertyMembers::evaluate(element, bound[0].asString()) : element;
        if (acc.isString() || term.isString()) {
            RenderLimits::checkPrintedSize(acc, 0);
            RenderLimits::checkPrintedSize(term, acc.isString() ? acc.asString().size() : 0);
        } else if (acc.isArray() && term.isArray()) {
            RenderLimits::checkItems(acc.asArray().size() + term.asArray().size());
        }
        acc = acc.add(term);
    }
    RenderLimits::checkValueSize(acc);
    return acc;
}

JINJA_FILTER(items) {
    if (args.empty()) return Value(Array{});
    bindNothing(args, kwargs);
    if (!args[0].isObject()) return Value(Array{});
    return PropertyMembers::itemsOf(args[0].asObject());
}

constexpr FilterRow kRows[] = {
    {"length", length},   {"count", length}, {"join", join}, {"default", defaultValue},
    {"d", defaultValue},  {"first", first},  {"last", last}, {"random", random},
    {"reverse", reverse}, {"slice", slice},  {"list", list}, {"batch", batch},
    {"sum", sum},         {"items", items},
};

} // namespace

std::span<const FilterRow> sequenceFilterRows() {
    return kRows;
}

} // namespace jinja::filters
