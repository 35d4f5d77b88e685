#include "tokenizers/PreTokenizer.h"

#include "TestSupport.h"
#include "tokenizers/TextSplitting.h"

using tokenizers::PreTokenizerFactory;
using tokenizers::PreTokenizerOption;
using tokenizers::PreTokenizerOptions;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

Tokens run(std::string_view config, std::string_view text, PreTokenizerOptions options = {}) {
    auto p = PreTokenizerFactory::fromConfig(json(config));
    EXPECT_TRUE(p) << config;
    return p ? p->preTokenize(text, options) : Tokens{};
}

TEST(PreTokenizer, EachTypeOnItsEdgeCases) {
    struct Case {
        const char* config;
        const char* input;
        Tokens expected;
    } cases[] = {
        {R"({"type":"ByteLevel"})", "Hello world!", {"Hello", "\xC4\xA0world", "!"}},
        {R"({"type":"ByteLevel"})", "I'm", {"I", "'m"}},
        {R"({"type":"ByteLevel"})", " 's", {"\xC4\xA0'", "s"}},
        {R"({"type":"ByteLevel","add_prefix_space":true})",
         "Hello, world",
         {"\xC4\xA0Hello", "\xC4\xA0,", "\xC4\xA0world"}},
        {R"({"type":"ByteLevel"})", "\xC3\xA9", {"\xC3\x83\xC2\xA9"}},
        {R"({"type":"ByteLevel"})", "", {}},
        {R"({"type":"ByteLevel","use_regex":false})",
         "a b",
         {"a\xC4\xA0"
          "b"}},
        {R"({"type":"BertPreTokenizer"})", "Hello, world!!", {"Hello", ",", "world", "!", "!"}},
        {R"({"type":"Punctuation"})", "Hello, world!!", {"Hello", ",", " world", "!!"}},
        {R"({"type":"Digits"})", "abc123", {"abc", "123"}},
        {R"({"type":"Digits","individual_digits":true})", "abc123", {"abc", "1", "2", "3"}},
        {R"({"type":"Whitespace"})", "  a  b ", {"a", "b"}},
        {R"({"type":"WhitespaceSplit"})", "   ", {}},
        {R"({"type":"Metaspace","replacement":"\u2581"})",
         "Hey friend",
         {"\xE2\x96\x81Hey", "\xE2\x96\x81"
                             "friend"}},
        {R"({"type":"Metaspace","replacement":"\u2581"})",
         "  x",
         {"\xE2\x96\x81", "\xE2\x96\x81x"}},
        {R"({"type":"Metaspace","replacement":"\u2581"})", "", {"\xE2\x96\x81"}},
        {R"({"type":"Metaspace","replacement":"\u2581","add_prefix_space":false})",
         "a b",
         {"a", "\xE2\x96\x81"
               "b"}},
        {R"({"type":"Split","pattern":{"String":"-"},"invert":false})",
         "a-b--c",
         {"a", "-", "b", "-", "-", "c"}},
        {R"({"type":"Split","pattern":{"String":"-"},"invert":true})", "a-b--c", {"a", "b", "c"}},
        {R"({"type":"Split","pattern":{"Regex":"-+"},"invert":true})",
         "a-b--c",
         {"a", "-", "b", "--", "c"}},
        {R"({"type":"Split"})", "a-b", {"a-b"}},
        {R"({"type":"Sequence","pretokenizers":[{"type":"WhitespaceSplit"},{"type":"Digits","individual_digits":true}]})",
         "ab12 c",
         {"ab", "1", "2", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(c.config, c.input), c.expected) << c.config << " on " << c.input;
}

TEST(PreTokenizer, MetaspaceFirstSchemePrefixesOnlyTheFirstSection) {
    const char* config = R"({"type":"Metaspace","replacement":"\u2581","prepend_scheme":"first"})";
    EXPECT_EQ(run(config, "a", {PreTokenizerOption::firstSection}), Tokens{"\xE2\x96\x81"
                                                                           "a"});
    EXPECT_EQ(run(config, "a"), Tokens{"a"});
    EXPECT_EQ(run(R"({"type":"Metaspace","replacement":"\u2581","prepend_scheme":"never"})", "a",
                  {PreTokenizerOption::firstSection}),
              Tokens{"a"});
}

TEST(PreTokenizer, ConfigurationErrors) {
    using zv::testing::expectConfigurationError;
    expectConfigurationError([] { PreTokenizerFactory::fromConfig(json(R"({"type":"Nope"})")); },
                             "Unsupported PreTokenizer type: Nope");
    expectConfigurationError(
        [] {
            PreTokenizerFactory::fromConfig(
                json(R"({"type":"Sequence","pretokenizers":[{"type":"Nope"}]})"));
        },
        "Unsupported PreTokenizer type: Nope");
    expectConfigurationError(
        [] { PreTokenizerFactory::fromConfig(json(R"({"type":"Sequence"})")); },
        "No pretokenizers in Sequence");
    // Separators that match the empty text are refused instead of cutting
    // between every character or looping.
    for (const char* config : {R"({"type":"Split","pattern":{"Regex":"x*"}})",
                               R"({"type":"Split","pattern":{"String":""}})",
                               R"({"type":"Metaspace","replacement":"a?"})",
                               R"({"type":"Split","pattern":{"Regex":"(x"}})"})
        EXPECT_THROW(PreTokenizerFactory::fromConfig(json(config)), tokenizers::ConfigurationError)
            << config;
    EXPECT_FALSE(PreTokenizerFactory::fromConfig(hub::Config()));
}

TEST(TextSplitting, SplitKeepsTheHighestParticipatingGroup) {
    const tokenizers::Regex re("(a)|b");
    EXPECT_EQ(tokenizers::splitKeepingCaptures("xaybz", re.allMatches("xaybz")),
              (Tokens{"x", "a", "y", "b", "z"}));
    EXPECT_EQ(tokenizers::splitKeepingCaptures("xyz", re.allMatches("xyz")), (Tokens{"xyz"}));
}

TEST(TextSplitting, DelimiterBehaviours) {
    using tokenizers::SplitDelimiterBehavior;
    const std::string text = "a-b-";
    const auto ranges = tokenizers::rangesOfLiteral(text, "-");
    EXPECT_EQ(tokenizers::splitAt(text, ranges, SplitDelimiterBehavior::removed),
              (Tokens{"a", "b"}));
    EXPECT_EQ(tokenizers::splitAt(text, ranges, SplitDelimiterBehavior::isolated),
              (Tokens{"a", "-", "b", "-"}));
    EXPECT_EQ(tokenizers::splitAt(text, ranges, SplitDelimiterBehavior::mergedWithPrevious),
              (Tokens{"a-", "b-"}));
    EXPECT_EQ(tokenizers::splitAt(text, ranges, SplitDelimiterBehavior::mergedWithNext),
              (Tokens{"a", "-b", "-"}));
    EXPECT_EQ(tokenizers::splitAt("", {}, SplitDelimiterBehavior::mergedWithNext), Tokens{});
}

} // namespace
