#pragma once
// The one interface through which the rest of the system uses a tokenizer:
// text to token ids and back, single token/id conversion and the special
// tokens of the model. `PreTrainedTokenizer` is the implementation built from
// tokenizer documents; callers hold a `std::shared_ptr<Tokenizer>`.
//
// Texts are UTF-8. Token ids are signed 64-bit integers. Every operation is
// const and safe to call from several threads on one shared tokenizer.

#include <any>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

using TokenId = std::int64_t;

/// fn applied to each item, results in order.
template <typename In, typename Fn> auto convertEach(const std::vector<In>& items, Fn&& fn) {
    std::vector<decltype(fn(items.front()))> out;
    out.reserve(items.size());
    for (const auto& item : items)
        out.push_back(fn(item));
    return out;
}

/// One chat message, one tool description or a set of extra template
/// variables: text keys to values the template engine converts (texts,
/// numbers, flags, std::vector<std::any>, maps from texts to std::any,
/// template values).
using Message = std::map<std::string, std::any>;
using ToolSpec = Message;

/// Which chat template to render: the template text itself, or the name of
/// one of the templates the tokenizer configuration lists.
class ChatTemplateArgument {
public:
    enum class Kind { literal, name };

    static ChatTemplateArgument literal(std::string text) {
        return ChatTemplateArgument(Kind::literal, std::move(text));
    }
    static ChatTemplateArgument name(std::string name) {
        return ChatTemplateArgument(Kind::name, std::move(name));
    }

    Kind kind() const { return kind_; }
    /// The template text or the name.
    const std::string& text() const { return text_; }

private:
    ChatTemplateArgument(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

class Tokenizer {
public:
    virtual ~Tokenizer() = default;

    /// Text -> token texts, without the special tokens a post-processor adds.
    virtual std::vector<std::string> tokenize(std::string_view text) const = 0;

    /// Text -> ids, with the special tokens of the post-processor.
    virtual std::vector<TokenId> encode(std::string_view text) const = 0;
    virtual std::vector<TokenId> encode(std::string_view text, bool addSpecialTokens) const = 0;

    /// Ids -> text. Ids the vocabulary lacks are left out; never throws for
    /// any list of ids.
    virtual std::string decode(const std::vector<TokenId>& tokens,
                               bool skipSpecialTokens) const = 0;

    /// The id of a token text; for a text the vocabulary lacks, the model's
    /// unknown-token id when it has one, otherwise absent.
    virtual std::optional<TokenId> convertTokenToId(std::string_view token) const = 0;
    /// The token text of an id, absent for an id the vocabulary lacks.
    virtual std::optional<std::string> convertIdToToken(TokenId id) const = 0;

    virtual std::optional<std::string> bosToken() const = 0;
    virtual std::optional<TokenId> bosTokenId() const = 0;
    virtual std::optional<std::string> eosToken() const = 0;
    virtual std::optional<TokenId> eosTokenId() const = 0;
    virtual std::optional<std::string> unknownToken() const = 0;
    virtual std::optional<TokenId> unknownTokenId() const = 0;

    /// Whether the tokenizer configuration carries a chat template.
    virtual bool hasChatTemplate() const { return false; }

    /// Renders `messages` with a chat template and encodes the text, adding
    /// no special tokens beyond those the template writes. The template is
    /// `chatTemplate` when it is a literal, else the configuration's (a named
    /// one: the given name, else "tool_use" when tools are given, else
    /// "default"). The template sees "messages", "add_generation_prompt",
    /// "tools" (when given), the entries of `additionalContext` and the
    /// special tokens of the configuration. With `truncation`, at most
    /// `maxLength` ids (and at most the configuration's "model_max_length")
    /// are kept. Throws TokenizerError (missingChatTemplate, chatTemplate)
    /// and passes the template engine's errors on unchanged.
    virtual std::vector<TokenId>
    applyChatTemplate(const std::vector<Message>& messages,
                      const std::optional<ChatTemplateArgument>& chatTemplate,
                      bool addGenerationPrompt, bool truncation,
                      std::optional<std::int64_t> maxLength,
                      const std::optional<std::vector<ToolSpec>>& tools,
                      const std::optional<Message>& additionalContext) const = 0;

    // Shared forms built on the operations above.

    std::vector<TokenId> operator()(std::string_view text, bool addSpecialTokens = true) const {
        return encode(text, addSpecialTokens);
    }

    /// Same as `decode(tokens, false)`: special tokens stay in the text.
    std::string decode(const std::vector<TokenId>& tokens) const { return decode(tokens, false); }

    std::vector<std::optional<TokenId>>
    convertTokensToIds(const std::vector<std::string>& tokens) const {
        return convertEach(tokens,
                           [this](const std::string& token) { return convertTokenToId(token); });
    }

    std::vector<std::optional<std::string>>
    convertIdsToTokens(const std::vector<TokenId>& ids) const {
        return convertEach(ids, [this](TokenId id) { return convertIdToToken(id); });
    }

    // The shorter chat-template forms: the configuration's template with the
    // generation prompt, no truncation.
    std::vector<TokenId> applyChatTemplate(const std::vector<Message>& messages) const {
        return applyChatTemplate(messages, std::nullopt, true, false, std::nullopt, std::nullopt,
                                 std::nullopt);
    }
    std::vector<TokenId> applyChatTemplate(const std::vector<Message>& messages,
                                           const std::vector<ToolSpec>& tools) const {
        return applyChatTemplate(messages, std::nullopt, true, false, std::nullopt, tools,
                                 std::nullopt);
    }
    std::vector<TokenId> applyChatTemplate(const std::vector<Message>& messages,
                                           const std::vector<ToolSpec>& tools,
                                           const Message& additionalContext) const {
        return applyChatTemplate(messages, std::nullopt, true, false, std::nullopt, tools,
                                 additionalContext);
    }
    std::vector<TokenId> applyChatTemplate(const std::vector<Message>& messages,
                                           const ChatTemplateArgument& chatTemplate) const {
        return applyChatTemplate(messages, chatTemplate, true, false, std::nullopt, std::nullopt,
                                 std::nullopt);
    }
    /// `chatTemplate` is the template text.
    std::vector<TokenId> applyChatTemplate(const std::vector<Message>& messages,
                                           std::string_view chatTemplate) const {
        return applyChatTemplate(messages,
                                 ChatTemplateArgument::literal(std::string(chatTemplate)));
    }
    std::vector<TokenId>
    applyChatTemplate(const std::vector<Message>& messages,
                      const std::optional<ChatTemplateArgument>& chatTemplate,
                      bool addGenerationPrompt, bool truncation,
                      std::optional<std::int64_t> maxLength,
                      const std::optional<std::vector<ToolSpec>>& tools) const {
        return applyChatTemplate(messages, chatTemplate, addGenerationPrompt, truncation, maxLength,
                                 tools, std::nullopt);
    }
};

} // namespace tokenizers
