#pragma once

// Shared pieces of the built-in filter implementations.

#include "jinja/CallArguments.h"
#include "jinja/Environment.h"
#include "jinja/JinjaError.h"
#include "jinja/RenderLimits.h"
#include "jinja/Value.h"

#include <span>

namespace jinja::filters {

using EnvPtr = std::shared_ptr<Environment>;
using Parameter = CallArguments::Parameter;

#define JINJA_FILTER(name)                                                                         \
    Value name(const Array& args, const KeywordArguments& kwargs, const EnvPtr& env)

// The values after the operand, which the filters bind to their parameters.
inline std::span<const Value> afterOperand(const Array& args) {
    return args.empty() ? std::span<const Value>() : std::span<const Value>(args).subspan(1);
}

inline CallArguments bindAfterOperand(std::span<const Parameter> params, const Array& args,
                                      const KeywordArguments& kwargs) {
    return CallArguments::bind(params, afterOperand(args), kwargs);
}

// Binds a filter without parameters: surplus positional values are ignored,
// every keyword is refused.
inline void bindNothing(const Array& args, const KeywordArguments& kwargs) {
    CallArguments::bind({}, afterOperand(args), kwargs);
}

// The printed form of a value, within the render's byte limit.
inline std::string printed(const Value& v) {
    std::string out;
    RenderLimits::appendPrinted(out, v);
    return out;
}

// &, <, >, " and ' as HTML entities ("&#34;" and "&#39;" for the quotes).
std::string escapeHtml(std::string_view s);

} // namespace jinja::filters
