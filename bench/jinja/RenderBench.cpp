// Rendering compiled chat templates as the tokenizers do for every prompt:
// compile once, render with a context of converted values and no environment.
//
//   short         a four-line template over a system and a user message
//   11 messages   the typical template: a system message and ten turns
//   101 messages  the same with a hundred turns
//   tools         the typical template with two tool definitions, a tool call
//                 and a tool reply among ten messages
//
// BM_RenderStringAppendLoop renders a hostile template that appends to a
// string three million times; it measures how fast the render ends.

#include "ChatTemplates.h"
#include "jinja/JinjaError.h"
#include "jinja/Template.h"
#include "jinja/Value.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

// The fastest repetition: on a busy machine the least disturbed one.
double minimum(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

using jinja::Value;

jinja::Template::Context contextFromJson(const std::string& json) {
    Value object = Value::fromJson(json);
    jinja::Template::Context context;
    for (const auto& [key, value] : object.asObject())
        context.emplace(key.text(), value);
    return context;
}

// A system message and `turns` alternating user and assistant messages.
std::string conversationJson(int turns) {
    std::string json = R"({"bos_token": "<s>", "add_generation_prompt": true, "messages": [)"
                       R"({"role": "system", "content": "You are a careful assistant that answers )"
                       R"(briefly and cites its sources."})";
    for (int i = 0; i < turns; ++i) {
        if (i % 2 == 0)
            json += R"(, {"role": "user", "content": "Question )" + std::to_string(i / 2 + 1) +
                    R"(: how warm is it in Oslo today, and will it rain later?"})";
        else
            json += R"(, {"role": "assistant", "content": "  It is 4 degrees and overcast; )"
                    R"(rain is likely after six in the evening.  "})";
    }
    return json + "]}";
}

const char* const kToolsConversation = R"JSON({
  "bos_token": "<s>",
  "add_generation_prompt": true,
  "messages": [
    {"role": "system", "content": "You are a careful assistant that answers briefly and cites its sources."},
    {"role": "user", "content": "What is the weather in Oslo today?"},
    {"role": "assistant", "content": "", "tool_calls": [{"type": "function", "function": {"name": "get_weather", "arguments": {"city": "Oslo", "unit": "celsius"}}}]},
    {"role": "tool", "content": "  {\"temperature\": 4, \"sky\": \"overcast\"}  "},
    {"role": "assistant", "content": "It is 4 degrees and overcast in Oslo."},
    {"role": "user", "content": "And in Bergen? Please also tell me whether I need an umbrella."},
    {"role": "assistant", "content": "Bergen is at 7 degrees with steady rain, so take an umbrella."},
    {"role": "user", "content": "Thanks. Summarise both in one sentence."},
    {"role": "assistant", "content": "Oslo: 4 degrees and overcast; Bergen: 7 degrees and rainy, umbrella advised."},
    {"role": "user", "content": "Perfect, thank you!"}
  ],
  "tools": [
    {"type": "function", "function": {"name": "get_weather", "description": "Current weather of a city",
      "parameters": {"type": "object", "properties": {"city": {"type": "string"}, "unit": {"type": "string", "enum": ["celsius", "fahrenheit"]}}, "required": ["city"]}}},
    {"type": "function", "function": {"name": "search", "description": "Web search",
      "parameters": {"type": "object", "properties": {"query": {"type": "string"}}, "required": ["query"]}}}
  ]
})JSON";

void render(benchmark::State& state, const char* text, const std::string& contextJson) {
    jinja::Template compiled(text);
    const jinja::Template::Context context = contextFromJson(contextJson);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out = compiled.render(context);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.counters["output_bytes"] = static_cast<double>(bytes);
}

void BM_RenderShort(benchmark::State& state) {
    render(state, jinja::bench::shortChatTemplate,
           R"({"messages": [{"role": "system", "content": "You are a helpful assistant."},)"
           R"( {"role": "user", "content": "Hello there!"}], "add_generation_prompt": true})");
}
void BM_Render11Messages(benchmark::State& state) {
    render(state, jinja::bench::typicalChatTemplate, conversationJson(10));
}
void BM_Render101Messages(benchmark::State& state) {
    render(state, jinja::bench::typicalChatTemplate, conversationJson(100));
}
void BM_RenderTools(benchmark::State& state) {
    render(state, jinja::bench::typicalChatTemplate, kToolsConversation);
}

BENCHMARK(BM_RenderShort)->ComputeStatistics("min", minimum);
BENCHMARK(BM_Render11Messages)->ComputeStatistics("min", minimum);
BENCHMARK(BM_Render101Messages)->ComputeStatistics("min", minimum);
BENCHMARK(BM_RenderTools)->ComputeStatistics("min", minimum);

void BM_RenderStringAppendLoop(benchmark::State& state) {
    jinja::Template compiled(
        "{% set s = '' %}{% for i in range(3000000) %}{% set s = s + 'x' %}{% endfor %}"
        "{{ s | length }}");
    std::string outcome;
    for (auto _ : state) {
        try {
            outcome = compiled.render({});
        } catch (const jinja::JinjaError& e) {
            outcome = e.message();
        }
    }
    state.SetLabel(outcome);
}
BENCHMARK(BM_RenderStringAppendLoop)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ComputeStatistics("min", minimum);

} // namespace
