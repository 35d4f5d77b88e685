// Renders arbitrary text as a template with a small chat conversation as its
// context and tight limits: every render must end with output, a JinjaError or
// the template's own TemplateException, within the limits, never crash, hang
// or exhaust memory (deep recursion, huge ranges, quadratic strings).

#include "jinja/Environment.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/Template.h"
#include "jinja/TemplateException.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

const jinja::Environment::Variables& context() {
    static const jinja::Environment::Variables variables = [] {
        jinja::Value object = jinja::Value::fromJson(R"JSON({
          "bos_token": "<s>", "add_generation_prompt": true, "n": 3, "x": 1.5, "none_value": null,
          "messages": [
            {"role": "system", "content": "Be brief."},
            {"role": "user", "content": "Héllo, wörld! 😀"},
            {"role": "assistant", "content": "Hi.", "tool_calls": [{"function": {"name": "f", "arguments": {"a": [1, 2]}}}]}
          ],
          "tools": [{"type": "function", "function": {"name": "f", "parameters": {"type": "object"}}}]
        })JSON");
        jinja::Environment::Variables vars;
        for (const auto& [key, value] : object.asObject())
            vars.emplace(key.text(), value);
        return vars;
    }();
    return variables;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    jinja::RenderLimits limits;
    limits.maxBytes = std::size_t{1} << 20;
    limits.maxItems = std::size_t{1} << 15;
    limits.maxDepth = 64;
    limits.maxSteps = 100'000;
    try {
        jinja::Template compiled(text);
        std::string out = jinja::Interpreter::render(
            compiled.nodes(), jinja::Environment::make(nullptr, context()), limits);
        if (out.size() > limits.maxBytes) std::abort();
    } catch (const jinja::JinjaError&) {
    } catch (const jinja::TemplateException&) {
    }
    return 0;
}
