// Chat templates of the pre-trained tokenizer: choosing the template text,
// compiling it once per text, rendering the conversation and encoding it.

#include "jinja/Template.h"
#include "tokenizers/PreTrainedTokenizer.h"
#include "tokenizers/TokenizerError.h"

#include <algorithm>
#include <map>

namespace tokenizers {
namespace {

// Configuration members that reach the template as variables of their own.
constexpr const char* kSpecialTokenKeys[] = {
    "bos_token", "eos_token", "unk_token",  "sep_token",
    "pad_token", "cls_token", "mask_token", "additional_special_tokens"};

// The template text for a call (see applyChatTemplate).
std::string chooseTemplate(const hub::Config& config,
                           const std::optional<ChatTemplateArgument>& argument, bool withTools) {
    if (argument && argument->kind() == ChatTemplateArgument::Kind::literal)
        return argument->text();
    const hub::Config& configured = config["chatTemplate"];
    if (const auto text = configured.string()) return *text; // a name is then ignored
    if (configured.kind() != hub::Config::Kind::array) throw TokenizerError::missingChatTemplate();
    // Named templates; elements without a name or template text are left
    // out, and of two elements with one name the later one counts.
    std::map<std::string, std::string, std::less<>> named;
    configured.forEachElement([&](const hub::Config& element) {
        auto name = element["name"].string();
        auto text = element["template"].string();
        if (name && text) named.insert_or_assign(std::move(*name), std::move(*text));
    });
    if (argument) {
        const auto found = named.find(argument->text());
        if (found == named.end())
            throw TokenizerError::chatTemplate("No chat template named \"" + argument->text() +
                                               "\" was found in the tokenizer config");
        return found->second;
    }
    if (withTools) {
        if (const auto found = named.find("tool_use"); found != named.end()) return found->second;
    }
    if (const auto found = named.find("default"); found != named.end()) return found->second;
    throw TokenizerError::missingChatTemplate();
}

jinja::Value templateValue(const std::map<std::string, std::any>& map) {
    return jinja::Value::fromAny(std::any(map));
}

} // namespace

std::shared_ptr<const jinja::Template>
PreTrainedTokenizer::compiledTemplate(const std::string& text) const {
    {
        std::lock_guard lock(cacheLock_);
        if (const auto found = compiledChatTemplateCache_.find(text);
            found != compiledChatTemplateCache_.end())
            return found->second;
    }
    // Compiled outside the lock: two callers may compile one text at once,
    // and the first to store it wins.
    auto compiled = std::make_shared<const jinja::Template>(
        text, jinja::Template::Options{.lstripBlocks = false, .trimBlocks = false});
    std::lock_guard lock(cacheLock_);
    return compiledChatTemplateCache_.emplace(text, std::move(compiled)).first->second;
}

std::vector<TokenId> PreTrainedTokenizer::applyChatTemplate(
    const std::vector<Message>& messages, const std::optional<ChatTemplateArgument>& chatTemplate,
    bool addGenerationPrompt, bool truncation, std::optional<std::int64_t> maxLength,
    const std::optional<std::vector<ToolSpec>>& tools,
    const std::optional<Message>& additionalContext) const {
    const std::string text =
        chooseTemplate(tokenizerConfig_, chatTemplate, tools && !tools->empty());
    const auto compiled = compiledTemplate(text);

    jinja::Template::Context context;
    jinja::Array conversation;
    conversation.reserve(messages.size());
    for (const Message& message : messages)
        conversation.push_back(templateValue(message));
    context["messages"] = jinja::Value(std::move(conversation));
    context["add_generation_prompt"] = jinja::Value(addGenerationPrompt);
    if (tools) {
        jinja::Array toolValues;
        toolValues.reserve(tools->size());
        for (const ToolSpec& tool : *tools)
            toolValues.push_back(templateValue(tool));
        context["tools"] = jinja::Value(std::move(toolValues));
    }
    if (additionalContext) {
        for (const auto& [key, value] : *additionalContext)
            context[key] = jinja::Value::fromAny(value);
    }
    // The configuration's special tokens, over anything set above.
    for (const char* key : kSpecialTokenKeys) {
        const hub::Config& value = tokenizerConfig_[key]; // null unless an object has it
        switch (value.kind()) {
        case hub::Config::Kind::null:
            break;
        case hub::Config::Kind::string:
            context[key] = jinja::Value(*value.string());
            break;
        case hub::Config::Kind::dictionary:
            if (const auto content = value["content"].string())
                context[key] = jinja::Value(*content);
            break;
        case hub::Config::Kind::array: {
            jinja::Array texts;
            value.forEachElement([&](const hub::Config& element) {
                if (const auto text = element.string()) texts.push_back(jinja::Value(*text));
            });
            context[key] = jinja::Value(std::move(texts));
            break;
        }
        default:
            context[key] = value.jinjaValue();
        }
    }

    auto ids = encode(compiled->render(context), false);
    std::int64_t limit = maxLength.value_or(static_cast<std::int64_t>(ids.size()));
    if (const auto modelMaxLength = tokenizerConfig_["modelMaxLength"].integer())
        limit = std::min(limit, *modelMaxLength);
    // A negative limit cuts everything rather than failing.
    limit = std::max<std::int64_t>(limit, 0);
    if (truncation && limit < static_cast<std::int64_t>(ids.size()))
        ids.resize(static_cast<std::size_t>(limit));
    return ids;
}

} // namespace tokenizers
