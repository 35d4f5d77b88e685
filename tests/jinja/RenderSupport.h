#pragma once

// Rendering helpers of the template-evaluation tests: compile a text, render
// it with a context given as JSON, and compare outputs or error messages.

#include "jinja/Environment.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/Template.h"
#include "jinja/TemplateException.h"
#include "jinja/Value.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace jinja::testing {

// The entries of a JSON object as scope variables (empty text: no variables).
inline Environment::Variables variablesFromJson(std::string_view json) {
    Environment::Variables vars;
    if (json.empty()) return vars;
    Value object = Value::fromJson(json);
    for (const auto& [key, value] : object.asObject())
        vars.emplace(key.stringValue(), value);
    return vars;
}

inline std::string render(std::string_view text, Environment::Variables vars = {},
                          const RenderLimits& limits = {}) {
    Template compiled(text);
    return Interpreter::render(compiled.nodes(), Environment::make(nullptr, std::move(vars)),
                               limits);
}

inline std::string renderJson(std::string_view text, std::string_view contextJson) {
    return render(text, variablesFromJson(contextJson));
}

// The output, or "error: " and the message of the JinjaError that ended the render.
inline std::string outcome(std::string_view text, std::string_view contextJson = {},
                           const RenderLimits& limits = {}) {
    try {
        return render(text, variablesFromJson(contextJson), limits);
    } catch (const JinjaError& e) {
        return "error: " + e.message();
    }
}

// A host function value that looks only at its positional values.
inline Value hostFunction(std::function<Value(const Array&)> body) {
    return Value(Function(
        [body = std::move(body)](const Array& args, const KeywordArguments&,
                                 const std::shared_ptr<Environment>&) { return body(args); }));
}

// One row of a table: a template, its context as JSON (may be empty) and the
// expected output, or "error: " followed by the expected message.
struct Case {
    const char* text;
    const char* context;
    const char* expected;
};

inline void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(outcome(c.text, c.context), c.expected) << "template: " << c.text;
}

} // namespace jinja::testing
