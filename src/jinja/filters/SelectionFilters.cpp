#include "jinja/Interpreter.h"
#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"

namespace jinja::filters {

namespace {

JINJA_FILTER(map) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {
        {"filterName", Value()}, {"attribute", Value()}, {"default", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const Array& items = args[0].asArray();
    Array out;
    out.reserve(items.size());
    if (bound[0].isString()) {
        static const KeywordArguments noKeywords;
        for (const Value& item : items) {
            Array single{item};
            out.push_back(Interpreter::applyFilter(bound[0].asString(), single, noKeywords, env));
        }
        return Value(std::move(out));
    }
    if (bound[1].isNull()) return Value(Array{});
    for (const Value& item : items) {
        Value v = Filters::resolveAttributeValue(item, bound[1]);
        out.push_back(v.isUndefined() ? bound[2] : std::move(v));
    }
    return Value(std::move(out));
}

// The arguments of a named test: a slot for the tested value, then the
// filter's positional values from `firstExtra` on.
Array testArguments(const Array& args, std::size_t firstExtra) {
    Array testArgs{Value()};
    if (args.size() > firstExtra)
        testArgs.insert(testArgs.end(), args.begin() + static_cast<std::ptrdiff_t>(firstExtra),
                        args.end());
    return testArgs;
}

// select and reject: keep the elements a named test (or truthiness) accepts, or refuses.
Value choose(const Array& args, const KeywordArguments& kwargs, const EnvPtr& env, bool keep) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {{"testname", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    Array out;
    const bool named = bound[0].isString();
    Array testArgs = testArguments(args, 2);
    for (const Value& item : args[0].asArray()) {
        bool accepted;
        if (named) {
            testArgs[0] = item;
            accepted = Interpreter::evaluateTest(bound[0].asString(), testArgs, env);
        } else {
            accepted = item.isTruthy();
        }
        if (accepted == keep) out.push_back(item);
    }
    return Value(std::move(out));
}

JINJA_FILTER(select) {
    return choose(args, kwargs, env, true);
}
JINJA_FILTER(reject) {
    return choose(args, kwargs, env, false);
}

Value chooseByAttribute(const Array& args, const KeywordArguments& kwargs, const EnvPtr& env,
                        bool keep, const char* name) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {{"attribute", std::nullopt}, {"testname", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isString())
        throw JinjaError::runtime(std::string(name) + " filter requires attribute parameter");
    const bool named = bound[1].isString();
    Array testArgs = testArguments(args, 3);
    Array out;
    for (const Value& item : args[0].asArray()) {
        Value v = PropertyMembers::evaluate(item, bound[0].asString());
        bool accepted;
        if (named) {
            testArgs[0] = std::move(v);
            accepted = Interpreter::evaluateTest(bound[1].asString(), testArgs, env);
        } else {
            accepted = v.isTruthy();
        }
        if (accepted == keep) out.push_back(item);
    }
    return Value(std::move(out));
}

JINJA_FILTER(selectattr) {
    return chooseByAttribute(args, kwargs, env, true, "selectattr");
}
JINJA_FILTER(rejectattr) {
    return chooseByAttribute(args, kwargs, env, false, "rejectattr");
}

JINJA_FILTER(attr) {
    if (args.empty()) return Value::undefined();
    static const Parameter params[] = {{"attribute", std::nullopt}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isString()) throw JinjaError::runtime("attr filter requires attribute parameter");
    return PropertyMembers::evaluate(args[0], bound[0].asString());
}

constexpr FilterRow kRows[] = {
    {"map", map},
    {"select", select},
    {"reject", reject},
    {"selectattr", selectattr},
    {"rejectattr", rejectattr},
    {"attr", attr},
};

} // namespace

std::span<const FilterRow> selectionFilterRows() {
    return kRows;
}

} // namespace jinja::filters
