#include "murmex/core/WhisperTokenizerWrapper.h"

#include "platform/text/Utf8.h"

#include <gtest/gtest.h>
#include <map>

using murmex::WhisperTokenizerWrapper;
using tokenizers::TokenId;

namespace {

// A vocabulary of byte strings. Decoding joins the bytes and turns every
// invalid UTF-8 sequence into U+FFFD, as a byte-level decoder does.
class FakeTokenizer : public tokenizers::Tokenizer {
public:
    FakeTokenizer(std::map<TokenId, std::string> vocabulary,
                  std::optional<TokenId> unknownId = std::nullopt)
        : vocabulary_(std::move(vocabulary)), unknownId_(unknownId) {}

    std::vector<std::string> tokenize(std::string_view) const override { return {}; }
    std::vector<TokenId> encode(std::string_view text) const override {
        auto id = convertTokenToId(text);
        return id ? std::vector<TokenId>{*id} : std::vector<TokenId>{};
    }
    std::vector<TokenId> encode(std::string_view text, bool) const override { return encode(text); }
    std::string decode(const std::vector<TokenId>& tokens, bool) const override {
        std::string bytes;
        for (TokenId id : tokens) {
            auto it = vocabulary_.find(id);
            if (it != vocabulary_.end()) bytes += it->second;
        }
        return platform::text::repairUtf8(bytes);
    }
    std::optional<TokenId> convertTokenToId(std::string_view token) const override {
        for (const auto& [id, text] : vocabulary_) {
            if (text == token) return id;
        }
        return unknownId_;
    }
    std::optional<std::string> convertIdToToken(TokenId id) const override {
        auto it = vocabulary_.find(id);
        return it == vocabulary_.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::string> bosToken() const override { return std::nullopt; }
    std::optional<TokenId> bosTokenId() const override { return std::nullopt; }
    std::optional<std::string> eosToken() const override { return std::nullopt; }
    std::optional<TokenId> eosTokenId() const override { return std::nullopt; }
    std::optional<std::string> unknownToken() const override { return std::nullopt; }
    std::optional<TokenId> unknownTokenId() const override { return unknownId_; }
    std::vector<TokenId>
    applyChatTemplate(const std::vector<tokenizers::Message>&,
                      const std::optional<tokenizers::ChatTemplateArgument>&, bool, bool,
                      std::optional<std::int64_t>,
                      const std::optional<std::vector<tokenizers::ToolSpec>>&,
                      const std::optional<tokenizers::Message>&) const override {
        return {};
    }

private:
    std::map<TokenId, std::string> vocabulary_;
    std::optional<TokenId> unknownId_;
};

WhisperTokenizerWrapper wrap(std::map<TokenId, std::string> vocabulary,
                             std::optional<TokenId> unknownId = std::nullopt) {
    return WhisperTokenizerWrapper(
        std::make_shared<FakeTokenizer>(std::move(vocabulary), unknownId), "/tmp/tok");
}

// A small vocabulary: text pieces below 50257, special tokens from it on.
std::map<TokenId, std::string> textVocabulary() {
    return {{1, " Hello"},
            {2, ","},
            {3, " world"},
            {4, " wor"},
            {5, "ld"},
            {6, "你"},
            {7, "\xE5"},
            {8, "\xA5\xBD"},
            {9, "\xFF"},
            {10, "好"},
            {50257, "<|endoftext|>"},
            {50259, "<|en|>"},
            {50264, "<|ru|>"},
            {50364, "<|0.00|>"}};
}

} // namespace

TEST(WhisperTokenizerWrapperTest, FallbackIdsWhenTheVocabularyLacksTheTexts) {
    for (std::optional<TokenId> unknownId : {std::optional<TokenId>{}, std::optional<TokenId>{0}}) {
        WhisperTokenizerWrapper wrapper = wrap({{0, "<unk>"}, {5, "a"}}, unknownId);
        const murmex::SpecialTokens& t = wrapper.specialTokens();
        EXPECT_EQ(t, (murmex::SpecialTokens{50257, 50259, 50362, 50363, 50257, 50361, 50258, 50364,
                                            50359, 50358, 220}));
        EXPECT_TRUE(wrapper.allLanguageTokens().empty());
    }
    EXPECT_EQ(wrap({}).tokenizerFolder(), "/tmp/tok");
}

TEST(WhisperTokenizerWrapperTest, KnownTextsWinAndUnknownAnswersAreNotTrusted) {
    // The tokenizer answers every unknown text with the end-of-text id; only a
    // round trip through the vocabulary makes an id count.
    WhisperTokenizerWrapper wrapper =
        wrap({{50257, "<|endoftext|>"}, {50300, "<|0.00|>"}, {7, " "}}, 50257);
    const murmex::SpecialTokens& t = wrapper.specialTokens();
    EXPECT_EQ(t.endToken, 50257);
    EXPECT_EQ(t.specialTokenBegin, 50257);
    EXPECT_EQ(t.noSpeechToken, 50362);
    EXPECT_EQ(t.englishToken, 50259);
    EXPECT_EQ(t.timeTokenBegin, 50300);
    EXPECT_EQ(t.whitespaceToken, 7);
}

TEST(WhisperTokenizerWrapperTest, LanguageTokensAboveTheSpecialBeginOnly) {
    auto vocabulary = textVocabulary();
    vocabulary[100] = "<|de|>"; // below specialTokenBegin: left out
    WhisperTokenizerWrapper wrapper = wrap(vocabulary);
    EXPECT_EQ(wrapper.allLanguageTokens(), (std::unordered_set<int>{50259, 50264}));
}

TEST(WhisperTokenizerWrapperTest, ForwardsToTheWrappedTokenizer) {
    WhisperTokenizerWrapper wrapper = wrap(textVocabulary());
    EXPECT_EQ(wrapper.decode({50257, 1, 3}), "<|endoftext|> Hello world");
    EXPECT_EQ(wrapper.encode(" world"), std::vector<int>{3});
    EXPECT_EQ(wrapper.convertTokenToId("ld"), 5);
    EXPECT_EQ(wrapper.convertIdToToken(2), ",");
    EXPECT_FALSE(wrapper.convertIdToToken(99));
}

TEST(WhisperTokenizerWrapperTest, SplitsWordsAtBlanksSpecialTokensAndPunctuation) {
    WhisperTokenizerWrapper wrapper = wrap(textVocabulary());
    struct Case {
        std::vector<int> tokens;
        std::vector<std::string> words;
        std::vector<std::vector<int>> wordTokens;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{1, 2, 3}, {" Hello", ",", " world"}, {{1}, {2}, {3}}},
        {{4, 5}, {" world"}, {{4, 5}}},
        {{5, 50257, 5}, {"ld", "<|endoftext|>ld"}, {{5}, {50257, 5}}},
        {{50364, 1, 4, 5, 2}, {"<|0.00|>", " Hello", " world", ","}, {{50364}, {1}, {4, 5}, {2}}},
    };
    for (const Case& c : cases) {
        murmex::WordTokens split = wrapper.splitToWordTokens(c.tokens);
        EXPECT_EQ(split.words, c.words);
        EXPECT_EQ(split.wordTokens, c.wordTokens);
    }
}

TEST(WhisperTokenizerWrapperTest, SplitsUnspacedTextIntoWholeCharacters) {
    WhisperTokenizerWrapper wrapper = wrap(textVocabulary());
    // 好 arrives in two byte tokens and becomes one piece.
    murmex::WordTokens split = wrapper.splitToWordTokens({6, 7, 8, 10});
    EXPECT_EQ(split.words, (std::vector<std::string>{"你", "好", "好"}));
    EXPECT_EQ(split.wordTokens, (std::vector<std::vector<int>>{{6}, {7, 8}, {10}}));

    // A byte that is broken in the whole text stays a piece of its own. The
    // broken-character test is made at the piece's own place in the whole
    // text: read from the start of the text, the leading U+FFFD would wrongly
    // complete the first half of 好.
    split = wrapper.splitToWordTokens({9, 7, 8});
    EXPECT_EQ(split.words, (std::vector<std::string>{"\xEF\xBF\xBD", "好"}));
    EXPECT_EQ(split.wordTokens, (std::vector<std::vector<int>>{{9}, {7, 8}}));

    // A trailing half character is broken in the whole text too, so it is a
    // piece of its own.
    split = wrapper.splitToWordTokens({6, 7});
    EXPECT_EQ(split.words, (std::vector<std::string>{"你", "\xEF\xBF\xBD"}));
}
