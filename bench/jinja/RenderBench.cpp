// Rendering a compiled chat template with a ten-message conversation, as the
// tokenizers do for every prompt.

#include "ChatTemplates.h"
#include "jinja/Template.h"
#include "jinja/Value.h"

#include <benchmark/benchmark.h>

namespace {

using jinja::Value;

jinja::Template::Context conversation(bool withTools) {
    const char* json = R"JSON({
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
    Value object = Value::fromJson(json);
    jinja::Template::Context context;
    for (const auto& [key, value] : object.asObject())
        if (withTools || key.text() != "tools") context.emplace(key.text(), value);
    return context;
}

void renderChat(benchmark::State& state, bool withTools) {
    jinja::Template compiled(jinja::bench::typicalChatTemplate);
    const jinja::Template::Context context = conversation(withTools);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out = compiled.render(context);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.counters["output_bytes"] = static_cast<double>(bytes);
}

void BM_RenderChatTemplate10Messages(benchmark::State& state) {
    renderChat(state, false);
}
void BM_RenderChatTemplate10MessagesWithTools(benchmark::State& state) {
    renderChat(state, true);
}

BENCHMARK(BM_RenderChatTemplate10Messages);
BENCHMARK(BM_RenderChatTemplate10MessagesWithTools);

} // namespace
