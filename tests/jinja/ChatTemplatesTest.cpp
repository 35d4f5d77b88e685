#include "RenderSupport.h"

namespace jinja {
namespace {

// Chat templates shaped like those that ship with chat models, rendered with
// conversations as the tokenizers pass them. Each expected text was checked
// by hand against the whitespace rules and built-ins it exercises.

// Renders as the tokenizers do: compile once, render with a context and no environment.
std::string renderChat(const char* text, const char* contextJson, Template::Options options = {}) {
    Template compiled(text, options);
    Template::Context context;
    for (auto& [name, value] : testing::variablesFromJson(contextJson))
        context.emplace(name, value);
    return compiled.render(context);
}

// System, user and assistant turns in special-token markup; whitespace control
// on every tag; the generation prompt.
constexpr const char* kMarkupTurns = R"TPL({%- for message in messages -%}
{{- '<|im_start|>' + message.role + '\n' + message.content | trim + '<|im_end|>\n' -}}
{%- endfor -%}
{%- if add_generation_prompt -%}
{{- '<|im_start|>assistant\n' -}}
{%- endif -%}
)TPL";

// A default system prompt in a namespace, tool definitions as JSON, the index
// of the last user turn found in a first pass, and a refusal of turns that do
// not alternate.
constexpr const char* kToolsAndAlternation =
    R"TPL({%- set ns = namespace(system='You are a helpful assistant.', last_user=-1) -%}
{%- if messages[0].role == 'system' -%}
    {%- set ns.system = messages[0].content -%}
    {%- set conversation = messages[1:] -%}
{%- else -%}
    {%- set conversation = messages -%}
{%- endif -%}
{%- for m in conversation -%}
    {%- if m.role == 'user' -%}{%- set ns.last_user = loop.index0 -%}{%- endif -%}
{%- endfor -%}
<s>[SYS] {{ ns.system }}
{%- if tools %}
[TOOLS]
{%- for tool in tools %}
{{ loop.index }}. {{ tool.function.name }}({{ tool.function.parameters.properties | dictsort | map('first') | join(', ') }}) {{ tool.function | tojson }}
{%- endfor %}
{%- endif %}
{% for m in conversation %}
    {%- if (m.role == 'user') != (loop.index0 % 2 == 0) %}
        {{- raise_exception('Conversation roles must alternate user/assistant/user/assistant/...') }}
    {%- endif %}
    {%- if m.role == 'user' %}
        {{- '[INST] ' + m.content + (' [LAST]' if loop.index0 == ns.last_user else '') + ' [/INST]' }}
    {%- else %}
        {{- ' ' + m.content | trim + '</s>' }}
        {%- if not loop.last %}{{ '\n' }}{% endif %}
    {%- endif %}
{%- endfor %}
)TPL";

// Macros for turns and tool-call arguments, content given as a list of parts,
// tool calls and tool results, a set block.
constexpr const char* kToolCalls = R"TPL({%- macro render_args(args) -%}
    {%- for key, value in args | dictsort -%}
        {{ key }}={{ value | tojson }}{{ ', ' if not loop.last }}
    {%- endfor -%}
{%- endmacro -%}
{%- macro turn(role, body) -%}
<|{{ role }}|>
{{ body }}<|end|>
{% endmacro -%}
{%- for message in messages -%}
    {%- if message.content is string -%}
        {%- set text = message.content -%}
    {%- else -%}
        {%- set text = message.content | selectattr('type', 'equalto', 'text') | map(attribute='text') | join('\n') -%}
    {%- endif -%}
    {%- if message.tool_calls is defined -%}
        {%- set calls -%}
            {%- for tc in message.tool_calls -%}
                {{ tc.function.name }}({{ render_args(tc.function.arguments) }}){{ ';' if not loop.last }}
            {%- endfor -%}
        {%- endset -%}
        {{ turn(message.role, text ~ '[CALLS] ' ~ calls) }}
    {%- elif message.role == 'tool' -%}
        {{ turn('tool', '[RESULT ' ~ message.name ~ '] ' ~ message.content) }}
    {%- else -%}
        {{ turn(message.role, text) }}
    {%- endif -%}
{%- endfor -%}
{%- if add_generation_prompt -%}
<|assistant|>
{% endif -%}
)TPL";

// The system prompt folded into the first user turn, a renamed role, a
// generation block, and statistics through groupby, map and sum.
constexpr const char* kFoldedSystem = R"TPL({{- bos_token }}
{%- for message in messages %}
    {%- set role = 'model' if message.role == 'assistant' else message.role %}
    {%- if loop.first and role == 'system' %}
        {%- set ns_prefix = message.content %}
    {%- else %}
        {{- '<start_of_turn>' ~ role ~ '\n' }}
        {%- if loop.index0 == 1 and messages[0].role == 'system' %}{{ messages[0].content ~ '\n\n' }}{% endif %}
        {%- if role == 'model' %}{% generation %}{{ message.content | trim }}{% endgeneration %}{% else %}{{ message.content | trim }}{% endif %}
        {{- '<end_of_turn>\n' }}
    {%- endif %}
{%- endfor %}
{%- if add_generation_prompt %}{{ '<start_of_turn>model\n' }}{% endif %}
{#- turn counts: #}{{ '' if not show_counts else '\n' ~ (messages | groupby('role') | map(attribute='grouper') | join(',')) ~ ' ' ~ (messages | map(attribute='content') | map('wordcount') | sum) }}
)TPL";

TEST(ChatTemplatesTest, MarkupTurnsWithGenerationPrompt) {
    EXPECT_EQ(
        renderChat(
            kMarkupTurns,
            R"JSON({"messages": [{"role": "system", "content": "You are terse."}, {"role": "user", "content": "  Hi there!\n"}, {"role": "assistant", "content": "Hello."}], "add_generation_prompt": true})JSON"),
        "<|im_start|>system\nYou are terse.<|im_end|>\n"
        "<|im_start|>user\nHi there!<|im_end|>\n"
        "<|im_start|>assistant\nHello.<|im_end|>\n"
        "<|im_start|>assistant\n");
    EXPECT_EQ(
        renderChat(kMarkupTurns, R"JSON({"messages": [{"role": "user", "content": "x"}]})JSON"),
        "<|im_start|>user\nx<|im_end|>\n");
}

TEST(ChatTemplatesTest, ToolDefinitionsAndAlternatingRoles) {
    EXPECT_EQ(
        renderChat(
            kToolsAndAlternation,
            R"JSON({"messages": [{"role": "system", "content": "Be brief."}, {"role": "user", "content": "Weather in Oslo?"}, {"role": "assistant", "content": " It is 4 degrees. "}, {"role": "user", "content": "And tomorrow?"}],
 "tools": [{"type": "function", "function": {"name": "get_weather", "description": "Weather/forecast", "parameters": {"type": "object", "properties": {"city": {"type": "string"}, "day": {"type": "integer"}}}}}]})JSON"),
        "<s>[SYS] Be brief.\n[TOOLS]\n"
        "1. get_weather(city, day) "
        "{\"description\":\"Weather\\/forecast\",\"name\":\"get_weather\",\"parameters\":"
        "{\"properties\":{\"city\":{\"type\":\"string\"},\"day\":{\"type\":\"integer\"}},\"type\":"
        "\"object\"}}\n"
        "[INST] Weather in Oslo? [/INST] It is 4 degrees.</s>\n"
        "[INST] And tomorrow? [LAST] [/INST]\n");
    EXPECT_EQ(
        renderChat(
            kToolsAndAlternation,
            R"JSON({"messages": [{"role": "user", "content": "Hello"}, {"role": "assistant", "content": "Hi"}], "tools": []})JSON"),
        "<s>[SYS] You are a helpful assistant.\n[INST] Hello [LAST] [/INST] Hi</s>\n");
    try {
        renderChat(
            kToolsAndAlternation,
            R"JSON({"messages": [{"role": "user", "content": "a"}, {"role": "user", "content": "b"}]})JSON");
        FAIL() << "turns that do not alternate must be refused";
    } catch (const TemplateException& e) {
        EXPECT_EQ(e.message(),
                  std::optional<std::string>(
                      "Conversation roles must alternate user/assistant/user/assistant/..."));
    }
}

TEST(ChatTemplatesTest, ToolCallsAndResults) {
    EXPECT_EQ(renderChat(kToolCalls, R"JSON({"messages": [
 {"role": "user", "content": [{"type": "text", "text": "What is 2+2?"}, {"type": "image"}, {"type": "text", "text": "Also 3*3."}]},
 {"role": "assistant", "content": "Let me compute.", "tool_calls": [{"function": {"name": "calc", "arguments": {"expr": "2+2", "precise": true}}}, {"function": {"name": "calc", "arguments": {"expr": "3*3"}}}]},
 {"role": "tool", "name": "calc", "content": "4"},
 {"role": "tool", "name": "calc", "content": "9"}
], "add_generation_prompt": true})JSON"),
              "<|user|>\nWhat is 2+2?\nAlso 3*3.<|end|>\n"
              "<|assistant|>\nLet me compute.[CALLS] calc(expr=\"2+2\", "
              "precise=true);calc(expr=\"3*3\")<|end|>\n"
              "<|tool|>\n[RESULT calc] 4<|end|>\n"
              "<|tool|>\n[RESULT calc] 9<|end|>\n"
              "<|assistant|>\n");
}

TEST(ChatTemplatesTest, FoldedSystemPromptAndGenerationBlock) {
    EXPECT_EQ(
        renderChat(
            kFoldedSystem,
            R"JSON({"bos_token": "<bos>", "messages": [{"role": "system", "content": "Answer in French."}, {"role": "user", "content": "Hello, how are you?"}, {"role": "assistant", "content": "Bien, merci. "}, {"role": "user", "content": "Thanks"}], "add_generation_prompt": true, "show_counts": true})JSON"),
        "<bos><start_of_turn>user\nAnswer in French.\n\nHello, how are you?<end_of_turn>\n"
        "<start_of_turn>model\nBien, merci.<end_of_turn>\n"
        "<start_of_turn>user\nThanks<end_of_turn>\n"
        "<start_of_turn>model\n\n\nassistant,system,user 10\n");
}

TEST(ChatTemplatesTest, BlockTrimmingOptions) {
    const char* text = "{% for message in messages %}\n"
                       "  {% if message.role == 'user' %}\n"
                       "User: {{ message.content }}\n"
                       "  {% else %}\n"
                       "Assistant: {{ message.content }}\n"
                       "  {% endif %}\n"
                       "{% endfor %}\n"
                       "{% if add_generation_prompt %}\n"
                       "Assistant:\n"
                       "{% endif %}\n";
    const char* context =
        R"JSON({"messages": [{"role": "user", "content": "Hi"}, {"role": "assistant", "content": "Hello"}],
                                  "add_generation_prompt": true})JSON";
    EXPECT_EQ(renderChat(text, context, Template::Options{true, true}),
              "User: Hi\nAssistant: Hello\nAssistant:\n");
}

} // namespace
} // namespace jinja
