#pragma once

// Chat templates of the kind tokenizer documents carry, for the template
// engine's benchmarks.

namespace jinja::bench {

// A short template: role markers around each message and a generation prompt.
inline constexpr const char* shortChatTemplate = R"TPL({% for message in messages %}
{{- '<|' + message['role'] + '|>\n' + message['content'] + '</s>\n' -}}
{% endfor %}
{%- if add_generation_prompt %}{{ '<|assistant|>\n' }}{% endif %})TPL";

// A typical chat template: an optional system message, tool descriptions,
// role markers around every message, tool calls and a generation prompt.
inline constexpr const char* typicalChatTemplate = R"TPL({%- if messages[0]['role'] == 'system' -%}
    {%- set system_message = messages[0]['content'] -%}
    {%- set loop_messages = messages[1:] -%}
{%- else -%}
    {%- set system_message = 'You are a helpful assistant.' -%}
    {%- set loop_messages = messages -%}
{%- endif -%}
{{- bos_token -}}
{{- '<|im_start|>system\n' + system_message -}}
{%- if tools is defined and tools -%}
    {{- '\n\nYou may call these tools:\n<tools>' -}}
    {%- for tool in tools -%}
        {{- '\n' + tool | tojson -}}
    {%- endfor -%}
    {{- '\n</tools>' -}}
{%- endif -%}
{{- '<|im_end|>\n' -}}
{%- for message in loop_messages -%}
    {%- if message.role not in ['user', 'assistant', 'tool'] -%}
        {{- raise_exception('Unexpected role: ' ~ message.role) -}}
    {%- endif -%}
    {%- if message.role == 'tool' -%}
        {{- '<|im_start|>tool\n' + message.content | trim + '<|im_end|>\n' -}}
    {%- elif message.role == 'assistant' and message.tool_calls is defined -%}
        {{- '<|im_start|>assistant' -}}
        {%- for tool_call in message.tool_calls -%}
            {{- '\n<tool_call>\n{"name": "' + tool_call.function.name + '", "arguments": ' + tool_call.function.arguments | tojson + '}\n</tool_call>' -}}
        {%- endfor -%}
        {{- '<|im_end|>\n' -}}
    {%- else -%}
        {{- '<|im_start|>' + message['role'] + '\n' + message['content'] | trim + '<|im_end|>\n' -}}
    {%- endif -%}
{%- endfor -%}
{%- if add_generation_prompt -%}
    {{- '<|im_start|>assistant\n' -}}
{%- endif -%})TPL";

} // namespace jinja::bench
