// Chat templates of our own, written with the constructs real chat templates
// use, applied through the tokenizer and encoded. The vocabulary maps every
// byte to its own value as id and has no merges, so the ids of a prompt are
// its UTF-8 bytes with the markup tokens (ids from 300) in between, and each
// expected id list can be read off the expected text.

#include "TestSupport.h"
#include "jinja/JinjaError.h"
#include "jinja/TemplateException.h"
#include "tokenizers/ByteEncoder.h"
#include "tokenizers/PreTrainedTokenizer.h"
#include "tokenizers/TokenizerError.h"

#include <any>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using tokenizers::ChatTemplateArgument;
using tokenizers::Message;
using tokenizers::PreTrainedTokenizer;
using tokenizers::TokenId;
using tokenizers::TokenizerError;
using tokenizers::ToolSpec;
using zv::testing::json;

namespace {

const std::vector<std::string> kMarkup = {"<|im_start|>", "<|im_end|>",  "<s>",
                                          "</s>",         "<tool_call>", "</tool_call>"};

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

// `chatTemplate` is the JSON of the configuration's "chat_template" member
// (omitted when empty); `extra` adds members to the configuration.
std::shared_ptr<PreTrainedTokenizer> tokenizer(const std::string& chatTemplate,
                                               const std::string& extra = "") {
    std::string data = "{\"added_tokens\":[";
    for (std::size_t k = 0; k < kMarkup.size(); ++k)
        data += (k ? "," : "") + std::string("{\"id\":") + std::to_string(300 + k) +
                ",\"content\":" + quoted(kMarkup[k]) + ",\"special\":true}";
    data += "],\"pre_tokenizer\":{\"type\":\"ByteLevel\",\"add_prefix_space\":false},"
            "\"decoder\":{\"type\":\"ByteLevel\"},\"model\":{\"type\":\"BPE\",\"merges\":[],"
            "\"vocab\":{";
    const auto& bytes = tokenizers::byteEncoder();
    for (int b = 0; b < 256; ++b)
        data += (b ? "," : "") + quoted(bytes[b]) + ":" + std::to_string(b);
    data += "}}}";
    std::string config =
        R"({"tokenizer_class":"GPT2Tokenizer","bos_token":{"content":"<s>"},)"
        R"("eos_token":"</s>","additional_special_tokens":["<|im_start|>",7,"<|im_end|>"])";
    if (!chatTemplate.empty()) config += ",\"chat_template\":" + chatTemplate;
    if (!extra.empty()) config += "," + extra;
    config += "}";
    return std::make_shared<PreTrainedTokenizer>(json(config), json(data));
}

// The ids the test vocabulary gives a text: markup tokens by their ids,
// every other byte by its value.
std::vector<TokenId> idsOf(std::string_view text) {
    std::vector<TokenId> ids;
    for (std::size_t i = 0; i < text.size();) {
        bool markup = false;
        for (std::size_t k = 0; k < kMarkup.size() && !markup; ++k) {
            if (text.substr(i, kMarkup[k].size()) == kMarkup[k]) {
                ids.push_back(static_cast<TokenId>(300 + k));
                i += kMarkup[k].size();
                markup = true;
            }
        }
        if (!markup) ids.push_back(static_cast<unsigned char>(text[i++]));
    }
    return ids;
}

Message message(const std::string& role, const std::string& content) {
    return Message{{"role", role}, {"content", content}};
}

// A default system prompt unless the conversation brings one; tools listed
// as JSON in the system turn; tool calls written by a macro; roles checked.
const std::string kChatMl = quoted(
    R"({%- macro render_call(tc) -%}
<tool_call>{"name": {{ tc.function.name | tojson }}, "arguments": {{ tc.function.arguments | tojson }}}</tool_call>
{%- endmacro -%}
{%- if messages[0].role == 'system' -%}
    {%- set system = messages[0].content -%}
    {%- set rest = messages[1:] -%}
{%- else -%}
    {%- set system = 'You are helpful.' -%}
    {%- set rest = messages -%}
{%- endif -%}
<|im_start|>system
{{ system }}
{%- if tools %}
Tools:
{%- for tool in tools %}
{{ tool | tojson }}
{%- endfor %}
{%- endif %}<|im_end|>
{% for m in rest -%}
    {%- if m.role not in ['user', 'assistant', 'tool'] -%}
        {{- raise_exception('Unknown role: ' + m.role) -}}
    {%- endif -%}
<|im_start|>{{ m.role }}
{% if m.tool_calls is defined %}{% for c in m.tool_calls %}{{ render_call(c) }}{% endfor %}{% else %}{{ m.content }}{% endif %}<|im_end|>
{% endfor -%}
{%- if add_generation_prompt %}<|im_start|>assistant
{% endif -%})");

TEST(ChatTemplate, ConversationWithoutToolsEncodesTheRenderedPrompt) {
    const auto t = tokenizer(kChatMl);
    EXPECT_TRUE(t->hasChatTemplate());
    const std::vector<Message> conversation = {
        message("user", "Hi"), message("assistant", "Hello!"), message("user", "Привет")};
    const std::string expected = "<|im_start|>system\nYou are helpful.<|im_end|>\n"
                                 "<|im_start|>user\nHi<|im_end|>\n"
                                 "<|im_start|>assistant\nHello!<|im_end|>\n"
                                 "<|im_start|>user\nПривет<|im_end|>\n"
                                 "<|im_start|>assistant\n";
    const auto ids = t->applyChatTemplate(conversation);
    EXPECT_EQ(t->decode(ids), expected);
    EXPECT_EQ(ids, idsOf(expected));
    // Checked by hand: the first turns of the list.
    const std::vector<TokenId> head = {300, 's', 'y', 's', 't', 'e', 'm', '\n', 'Y', 'o', 'u', ' '};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), ids.begin()));

    // A system message replaces the default; no generation prompt on request.
    const auto withSystem =
        t->applyChatTemplate({message("system", "Be brief."), message("user", "Hi")}, std::nullopt,
                             false, false, std::nullopt, std::nullopt);
    EXPECT_EQ(withSystem, idsOf("<|im_start|>system\nBe brief.<|im_end|>\n"
                                "<|im_start|>user\nHi<|im_end|>\n"));
}

TEST(ChatTemplate, ToolsReachTheTemplateAsJsonAndCallsThroughAMacro) {
    const auto t = tokenizer(kChatMl);
    const ToolSpec weather = {
        {"type", std::string("function")},
        {"function",
         std::map<std::string, std::any>{
             {"name", std::string("get_weather")},
             {"parameters", std::map<std::string, std::any>{
                                {"type", std::string("object")},
                                {"required", std::vector<std::any>{std::string("city")}}}}}}};
    Message call = message("assistant", "");
    call["tool_calls"] = std::vector<std::any>{std::map<std::string, std::any>{
        {"function", std::map<std::string, std::any>{
                         {"name", std::string("get_weather")},
                         {"arguments", std::map<std::string, std::any>{
                                           {"city", std::string("Paris")}, {"days", 2}}}}}}};
    const std::vector<Message> conversation = {message("user", "Weather?"), call,
                                               message("tool", "sunny")};
    const std::string expected =
        "<|im_start|>system\nYou are helpful.\nTools:\n"
        R"({"function":{"name":"get_weather","parameters":{"required":["city"],"type":"object"}},"type":"function"})"
        "<|im_end|>\n"
        "<|im_start|>user\nWeather?<|im_end|>\n"
        "<|im_start|>assistant\n"
        R"(<tool_call>{"name": "get_weather", "arguments": {"city":"Paris","days":2}}</tool_call>)"
        "<|im_end|>\n"
        "<|im_start|>tool\nsunny<|im_end|>\n"
        "<|im_start|>assistant\n";
    const auto ids = t->applyChatTemplate(conversation, std::vector<ToolSpec>{weather});
    EXPECT_EQ(t->decode(ids), expected);
    EXPECT_EQ(ids, idsOf(expected));

    // An empty tool list still reaches the template, as an empty list.
    const auto noTools = t->applyChatTemplate({message("user", "Hi")}, std::vector<ToolSpec>{});
    EXPECT_EQ(noTools, t->applyChatTemplate({message("user", "Hi")}));
}

TEST(ChatTemplate, TemplateErrorsPassUnchanged) {
    const auto t = tokenizer(kChatMl);
    try {
        t->applyChatTemplate({message("robot", "beep")});
        FAIL() << "no error";
    } catch (const jinja::TemplateException& e) {
        EXPECT_EQ(e.message(), "Unknown role: robot");
    }
    EXPECT_THROW(t->applyChatTemplate({message("user", "x")}, "{% if %}"), jinja::JinjaError);
    // A message value the template engine cannot take.
    struct Opaque {};
    Message odd = message("user", "x");
    odd["extra"] = Opaque{};
    try {
        t->applyChatTemplate({odd});
        FAIL() << "no error";
    } catch (const jinja::JinjaError& e) {
        EXPECT_EQ(e.kind(), jinja::JinjaError::Kind::runtime);
        EXPECT_EQ(e.message().rfind("Cannot convert value of type ", 0), 0u) << e.message();
    }
}

TEST(ChatTemplate, NamedTemplatesAreChosenByNameOrByTools) {
    const auto t =
        tokenizer(R"([{"name":"default","template":"D{{ messages | length }}"},)"
                  R"({"name":"tool_use","template":"T{{ tools | length }}"},)"
                  R"({"name":"terse","template":"S"},{"template":"nameless"},{"name":"no text"}])");
    const std::vector<Message> chat = {message("user", "x")};
    const ToolSpec tool = {{"name", std::string("f")}};
    EXPECT_EQ(t->decode(t->applyChatTemplate(chat)), "D1");
    EXPECT_EQ(t->decode(t->applyChatTemplate(chat, std::vector<ToolSpec>{})), "D1");
    EXPECT_EQ(t->decode(t->applyChatTemplate(chat, std::vector<ToolSpec>{tool, tool})), "T2");
    EXPECT_EQ(t->decode(t->applyChatTemplate(chat, ChatTemplateArgument::name("terse"))), "S");
    EXPECT_EQ(t->decode(t->applyChatTemplate(chat, "literal {{ add_generation_prompt }}")),
              "literal true");
    try {
        t->applyChatTemplate(chat, ChatTemplateArgument::name("chatty"));
        FAIL() << "no error";
    } catch (const TokenizerError& e) {
        EXPECT_EQ(e.kind(), TokenizerError::Kind::chatTemplate);
        EXPECT_STREQ(e.what(), "Chat template error: No chat template named \"chatty\" was "
                               "found in the tokenizer config");
    }

    // One template text: a name is not checked against anything.
    EXPECT_EQ(tokenizer("\"one\"")->decode(tokenizer("\"one\"")->applyChatTemplate(
                  chat, ChatTemplateArgument::name("whatever"))),
              "one");
}

TEST(ChatTemplate, MissingTemplatesAreReported) {
    const std::vector<Message> chat = {message("user", "x")};
    for (const std::string& configured : {std::string(), std::string("null"), std::string("42"),
                                          std::string(R"([{"name":"tool_use","template":"T"}])")}) {
        const auto t = tokenizer(configured);
        try {
            t->applyChatTemplate(chat);
            FAIL() << "no error for " << configured;
        } catch (const TokenizerError& e) {
            EXPECT_EQ(e.kind(), TokenizerError::Kind::missingChatTemplate) << configured;
            EXPECT_STREQ(e.what(), "This tokenizer does not have a chat template, and no "
                                   "template was passed.");
        }
    }
    EXPECT_FALSE(tokenizer("")->hasChatTemplate());
    EXPECT_FALSE(tokenizer("null")->hasChatTemplate());
    // A literal template needs nothing from the configuration.
    EXPECT_EQ(tokenizer("")->decode(tokenizer("")->applyChatTemplate(chat, "ok")), "ok");
}

TEST(ChatTemplate, SpecialTokensOfTheConfigurationOverrideTheContext) {
    const auto t = tokenizer(
        quoted("{{ bos_token }}|{{ eos_token }}|{{ additional_special_tokens | join(',') }}|"
               "{{ unk_token is defined }}|{{ mood }}"));
    const Message extra = {{"bos_token", std::string("ignored")}, {"mood", std::string("calm")}};
    const auto ids = t->applyChatTemplate({message("user", "x")}, std::nullopt, true, false,
                                          std::nullopt, std::nullopt, extra);
    EXPECT_EQ(t->decode(ids), "<s>|</s>|<|im_start|>,<|im_end|>|false|calm");
    EXPECT_EQ(ids, idsOf("<s>|</s>|<|im_start|>,<|im_end|>|false|calm"));
}

TEST(ChatTemplate, TruncationKeepsTheFirstIds) {
    // The prompt "abcdefghijkl" has 12 ids.
    const auto t = tokenizer(quoted("abcdefghijkl"), "\"model_max_length\":8");
    const std::vector<Message> chat = {message("user", "x")};
    EXPECT_EQ(t->applyChatTemplate(chat).size(), 12u);
    auto apply = [&](bool truncation, std::optional<std::int64_t> maxLength) {
        return t->applyChatTemplate(chat, std::nullopt, true, truncation, maxLength, std::nullopt);
    };
    EXPECT_EQ(apply(true, std::nullopt), idsOf("abcdefgh"));
    EXPECT_EQ(apply(true, 5), idsOf("abcde"));
    EXPECT_EQ(apply(true, 20), idsOf("abcdefgh")); // the configuration's limit is smaller
    EXPECT_EQ(apply(false, 5).size(), 12u);
    // A negative limit cuts everything, without an error.
    EXPECT_TRUE(apply(true, -3).empty());
    EXPECT_TRUE(tokenizer(quoted("abc"), "\"model_max_length\":-1")
                    ->applyChatTemplate(chat, std::nullopt, true, true, std::nullopt, std::nullopt)
                    .empty());
}

TEST(ChatTemplate, ConcurrentCallsShareOneCompiledTemplate) {
    const auto t = tokenizer(kChatMl);
    const auto expected = t->applyChatTemplate({message("user", "Hi")});
    std::vector<std::thread> threads;
    std::vector<std::vector<TokenId>> results(8);
    for (std::size_t k = 0; k < results.size(); ++k)
        threads.emplace_back([&, k] {
            for (int round = 0; round < 20; ++round)
                results[k] = t->applyChatTemplate({message("user", "Hi")});
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : results)
        EXPECT_EQ(result, expected);
}

} // namespace
