#include "jinja/CallArguments.h"

#include "jinja/JinjaError.h"

namespace jinja {

namespace {

[[noreturn]] void passedTwice(std::string_view name) {
    throw JinjaError::runtime("Argument '" + std::string(name) +
                              "' passed both positionally and as keyword.");
}
[[noreturn]] void unexpectedKeyword(std::string_view name) {
    throw JinjaError::runtime("Unexpected keyword argument '" + std::string(name) +
                              "' for filter.");
}
[[noreturn]] void missingArgument(std::string_view name) {
    throw JinjaError::runtime("Missing required argument '" + std::string(name) + "' for filter.");
}

constexpr std::size_t maxParametersOfMap = CallArguments::maxParameters;

} // namespace

CallArguments CallArguments::bind(std::span<const Parameter> parameters,
                                  std::span<const Value> args, const KeywordArguments& kwargs) {
    CallArguments bound;
    bound.size_ = parameters.size();
    std::size_t positional = std::min(args.size(), parameters.size());
    for (std::size_t i = 0; i < positional; ++i) {
        if (!kwargs.empty() && kwargs.count(std::string(parameters[i].name)))
            passedTwice(parameters[i].name);
        bound.values_[i] = &args[i];
    }
    for (const auto& [name, value] : kwargs) {
        std::size_t index = parameters.size();
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            if (parameters[i].name == name) {
                index = i;
                break;
            }
        }
        if (index == parameters.size()) unexpectedKeyword(name);
        if (bound.values_[index]) passedTwice(name);
        bound.values_[index] = &value;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (bound.values_[i]) continue;
        if (!parameters[i].defaultValue) missingArgument(parameters[i].name);
        bound.values_[i] = &*parameters[i].defaultValue;
    }
    return bound;
}

std::unordered_map<std::string, Value>
resolveCallArguments(const Array& args, const KeywordArguments& kwargs,
                     const std::vector<std::string>& parameters,
                     const std::unordered_map<std::string, Value>& defaults) {
    std::unordered_map<std::string, Value> result;
    // The errors in the binder's order over the whole list first; then bind in
    // windows of maxParameters names, where only missing arguments remain to report.
    for (std::size_t i = 0; i < std::min(args.size(), parameters.size()); ++i)
        if (kwargs.count(parameters[i])) passedTwice(parameters[i]);
    for (const auto& [name, value] : kwargs) {
        bool declared = false;
        for (const auto& p : parameters)
            declared = declared || p == name;
        if (!declared) unexpectedKeyword(name);
    }
    for (std::size_t base = 0; base < parameters.size() || base == 0; base += maxParametersOfMap) {
        std::vector<CallArguments::Parameter> window;
        KeywordArguments windowKwargs;
        for (std::size_t i = base; i < parameters.size() && i < base + maxParametersOfMap; ++i) {
            auto it = defaults.find(parameters[i]);
            window.push_back({parameters[i], it == defaults.end()
                                                 ? std::nullopt
                                                 : std::optional<Value>(it->second)});
            auto kw = kwargs.find(parameters[i]);
            if (kw != kwargs.end()) windowKwargs.emplace(kw->first, kw->second);
        }
        std::span<const Value> windowArgs = base < args.size()
                                                ? std::span<const Value>(args).subspan(base)
                                                : std::span<const Value>();
        CallArguments bound = CallArguments::bind(window, windowArgs, windowKwargs);
        for (std::size_t i = 0; i < window.size(); ++i)
            result[std::string(window[i].name)] = bound[i];
        if (parameters.empty()) break;
    }
    return result;
}

} // namespace jinja
