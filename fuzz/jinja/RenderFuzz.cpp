// Renders arbitrary text as a template with a small chat conversation as its
// context and tight limits: every render must end with output, a JinjaError or
// the template's own TemplateException, within the limits, never crash, hang
// or exhaust memory (deep recursion, huge ranges, quadratic strings). The
// compiled template and the plain tree walk must end the same way.

#include "jinja/Environment.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/Template.h"
#include "jinja/TemplateException.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
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

// How a render ended: its output, or the message of the error that ended it.
std::string outcome(const jinja::NodeList& nodes, const jinja::RenderLimits& limits) {
    try {
        std::string out =
            jinja::Interpreter::render(nodes, jinja::Environment::make(nullptr, context()), limits);
        if (out.size() > limits.maxBytes) std::abort();
        return "output: " + out;
    } catch (const jinja::JinjaError& e) {
        return "error: " + e.message();
    } catch (const jinja::TemplateException& e) {
        return "raised: " + std::string(e.what());
    }
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
    std::optional<jinja::Template> compiled;
    try {
        compiled.emplace(text);
    } catch (const jinja::JinjaError&) {
        return 0;
    }
    const std::string planned = outcome(compiled->nodes(), limits);
    // The same tree decoded from its JSON form has no loop plans and no read
    // identities: the plain tree walk must end the same way.
    jinja::NodeList decoded;
    try {
        for (const jinja::Node& node : compiled->nodes())
            decoded.push_back(jinja::Node::fromJson(node.toJson()));
    } catch (const std::exception&) {
        return 0;
    }
    const std::string walked = outcome(decoded, limits);
    const auto timedOut = [](const std::string& o) {
        return o.find("exceeds the time limit") != std::string::npos;
    };
    if (planned != walked && !timedOut(planned) && !timedOut(walked)) std::abort();
    return 0;
}
