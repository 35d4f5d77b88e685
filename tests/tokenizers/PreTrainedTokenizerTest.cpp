#include "tokenizers/PreTrainedTokenizer.h"

#include "TestSupport.h"
#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "tokenizers/AutoTokenizer.h"
#include "tokenizers/TokenizerError.h"

#include <filesystem>

namespace fs = std::filesystem;
using tokenizers::PreTrainedTokenizer;
using tokenizers::TokenId;
using tokenizers::TokenizerError;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

// A tokenizer over a Whisper-style folder written once for this program.
class WhisperTokenizer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ =
            fs::temp_directory_path() / ("zv-whisper-tokenizer-" + std::to_string(::getpid()));
        zv::testing::writeWhisperTokenizerFolder(folder_);
        tokenizer_ = tokenizers::AutoTokenizer::fromModelFolder(folder_);
    }
    static void TearDownTestSuite() {
        tokenizer_.reset();
        fs::remove_all(folder_);
    }

    static inline fs::path folder_;
    static inline std::shared_ptr<tokenizers::Tokenizer> tokenizer_;
};

TEST_F(WhisperTokenizer, SpecialTokensSitAtTheirIds) {
    const auto& t = *tokenizer_;
    EXPECT_EQ(t.convertTokenToId("<|endoftext|>"), 50257);
    EXPECT_EQ(t.convertTokenToId("<|startoftranscript|>"), 50258);
    EXPECT_EQ(t.convertTokenToId("<|en|>"), 50259);
    EXPECT_EQ(t.convertTokenToId("<|ru|>"), 50263);
    EXPECT_EQ(t.convertTokenToId("<|translate|>"), 50358);
    EXPECT_EQ(t.convertTokenToId("<|transcribe|>"), 50359);
    EXPECT_EQ(t.convertTokenToId("<|nospeech|>"), 50362);
    EXPECT_EQ(t.convertTokenToId("<|notimestamps|>"), 50363);
    EXPECT_EQ(t.convertTokenToId("<|0.00|>"), 50364);
    EXPECT_EQ(t.convertTokenToId("<|30.00|>"), 51864);
    // The blank itself is no vocabulary entry ("\u0120" is): it answers with the unknown id.
    EXPECT_EQ(t.convertTokenToId(" "), 50257);
    EXPECT_EQ(t.convertIdToToken(50257), "<|endoftext|>");
    EXPECT_EQ(t.convertIdToToken(51865), std::nullopt);
    EXPECT_EQ(t.eosTokenId(), 50257);
    // A text the vocabulary lacks answers with the unknown id.
    EXPECT_EQ(t.convertTokenToId("<|xx|>"), 50257);
}

TEST_F(WhisperTokenizer, RussianAndEnglishRoundTrip) {
    const std::string texts[] = {
        "hello world, this is a test.",
        "Привет, мир! Это тест распознавания речи.",
        "Съешь же ещё этих мягких французских булок — да выпей чаю",
        "mixed: тест 123 and 😀 emoji\ttabs\nnew lines",
        "",
    };
    for (const auto& text : texts) {
        const auto ids = tokenizer_->encode(text, false);
        EXPECT_EQ(tokenizer_->decode(ids), text) << text;
    }
}

TEST_F(WhisperTokenizer, EncodeAddsTheTemplateTokens) {
    const auto ids = tokenizer_->encode("hello");
    ASSERT_GE(ids.size(), 4u);
    EXPECT_EQ(ids.front(), 50258);
    EXPECT_EQ(ids[1], 50363);
    EXPECT_EQ(ids.back(), 50257);
    EXPECT_EQ(tokenizer_->encode(" hello world", false).size(), 2u); // merged word tokens
    EXPECT_EQ(tokenizer_->encode("hello"), (*tokenizer_)("hello"));
}

TEST_F(WhisperTokenizer, CyrillicLettersSplitAcrossIdsJoin) {
    // Each byte of "п" as its own id: the decoder joins them into the letter.
    const auto first = tokenizer_->convertTokenToId("\xC3\x90");  // byte 0xD0
    const auto second = tokenizer_->convertTokenToId("\xC2\xBF"); // byte 0xBF
    ASSERT_TRUE(first && second);
    EXPECT_EQ(tokenizer_->decode({*first, *second}), "п");
    // A cut character decodes as one U+FFFD.
    EXPECT_EQ(tokenizer_->decode({*first}), "\xEF\xBF\xBD");
    const auto ids = tokenizer_->encode(" привет", false);
    EXPECT_EQ(ids.size(), 1u);
}

TEST_F(WhisperTokenizer, AddedTokensStayVerbatimAndUnknownIdsAreSkipped) {
    const auto ids =
        tokenizer_->encode("<|startoftranscript|><|ru|><|transcribe|> привет<|0.00|>", false);
    ASSERT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids[1], 50263);
    EXPECT_EQ(tokenizer_->decode(ids), "<|startoftranscript|><|ru|><|transcribe|> привет<|0.00|>");
    EXPECT_EQ(tokenizer_->decode(ids, true), " привет");
    EXPECT_EQ(tokenizer_->decode({ids[3], -5, 999999999, ids[4]}), " привет<|0.00|>");
    EXPECT_EQ(tokenizer_->decode({}), "");
}

TEST_F(WhisperTokenizer, InvalidUtf8IsRepairedAtTheEntry) {
    const auto ids = tokenizer_->encode("a\xFF"
                                        "b\xD0",
                                        false);
    EXPECT_EQ(tokenizer_->decode(ids), "a\xEF\xBF\xBD"
                                       "b\xEF\xBF\xBD");
}

TEST_F(WhisperTokenizer, ConcurrentUseOfOneTokenizer) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                if (tokenizer_->decode(tokenizer_->encode("Привет, world!", false)) !=
                    "Привет, world!")
                    ++failures;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
}

// A hand-made document for the pipeline rules.
const char* kData = R"({
  "added_tokens": [
    {"id": 10, "content": "<sp>", "special": true, "rstrip": true},
    {"id": 11, "content": "<sp>x", "special": false},
    {"id": 12, "content": "ABC", "special": false},
    {"content": "noid"},
    {"id": 13, "content": "", "special": true}
  ],
  "normalizer": {"type": "Lowercase"},
  "pre_tokenizer": {"type": "Metaspace", "replacement": "_", "prepend_scheme": "first"},
  "decoder": {"type": "Metaspace", "replacement": "_", "add_prefix_space": true},
  "model": {"vocab": {"<unk>": 0, "_": 1, "a": 2, "b": 3, "_a": 4, "_b": 5, "n": 6, "o": 7, "i": 8, "d": 9,
                      ".": 14, "_.": 15, ",": 16, "'": 17, "_'": 18, "m": 19, "t": 20, "_d": 21, "_m": 22},
            "merges": ["_ a", "_ b", "_ .", "_ '", "_ d", "_ m"]}
})";

PreTrainedTokenizer
pipeline(std::string_view config = R"({"tokenizer_class":"GPT2Tokenizer","unk_token":"<unk>"})") {
    return PreTrainedTokenizer(json(config), json(kData));
}

TEST(PreTrainedTokenizer, AddedTokensCutTheTextLongestFirst) {
    const auto t = pipeline();
    EXPECT_EQ(t.tokenize("<sp>x"), Tokens{"<sp>x"});
    // rstrip swallows the blanks after the token; the added token is not lower-cased.
    EXPECT_EQ(t.tokenize("<sp>  a"), (Tokens{"<sp>", "a"}));
    EXPECT_EQ(t.tokenize("ABC a"), (Tokens{"ABC", "_a"}));
    // Only the first section is prefixed; an element without an id still cuts.
    EXPECT_EQ(t.tokenize("a ABC b"), (Tokens{"_a", "_", "ABC", "_b"}));
    EXPECT_EQ(t.tokenize("anoidb"), (Tokens{"_a", "n", "o", "i", "d", "b"}));
    // The empty added token matches nothing.
    EXPECT_EQ(t.tokenize("ab"), (Tokens{"_a", "b"}));
}

TEST(PreTrainedTokenizer, DecodeSkipsOnlySpecialIdsAndCleansUp) {
    const auto t = pipeline();
    EXPECT_EQ(t.decode({10, 11, 4}), "<sp><sp>x a");
    EXPECT_EQ(t.decode({10, 11, 4}, true), "<sp>x a");
    EXPECT_EQ(t.decode({4, 15}), "a.");
    EXPECT_EQ(t.decode({4, 18, 22}), "a'm");
    const auto noCleanUp =
        pipeline(R"({"tokenizer_class":"GPT2Tokenizer","clean_up_tokenization_spaces":false})");
    EXPECT_EQ(noCleanUp.decode({4, 15}), "a .");
}

TEST(PreTrainedTokenizer, CleanUpRules) {
    const auto t = pipeline();
    EXPECT_EQ(t.cleanUp("a . b ? c ! d , e ' f n't g 'm h 's i 've j 're k 'd"),
              "a. b? c! d, e'fn't g'm h's i've j're k 'd");
}

TEST(PreTrainedTokenizer, FuseUnknownKeepsTheFirstOfEachRun) {
    const auto t = pipeline(R"({"tokenizer_class":"GPT2Tokenizer","unk_token":"<unk>"})");
    EXPECT_EQ(t.fuseUnknown({"u1", "u2", "a", "u3"}), (Tokens{"u1", "a", "u3"}));
}

TEST(PreTrainedTokenizer, EncodeRefusesTokensWithoutIds) {
    // No unknown token and no byte tokens: "z" becomes "<0x7A>", which has no id.
    const auto t = pipeline(R"({"tokenizer_class":"GPT2Tokenizer"})");
    EXPECT_THROW(t.encode("z", false), TokenizerError);
}

TEST(PreTrainedTokenizer, ModelClassSelection) {
    auto build = [](const char* config, bool strict) {
        return PreTrainedTokenizer(json(config), json(kData), strict);
    };
    EXPECT_NO_THROW(build(R"({"tokenizer_class":"GPT2TokenizerFast"})", true));
    EXPECT_NO_THROW(build(R"({"tokenizer_class":"WhisperTokenizerFast"})", true));
    const std::pair<const char*, const char*> failures[] = {
        {R"({"tokenizer_class":"gpt2tokenizer"})",
         "The tokenizer type 'gpt2tokenizer' is not supported."},
        {R"({"tokenizer_class":"FooFastTokenizer"})",
         "The tokenizer type 'FooTokenizer' is not supported."},
        {R"({})", "The tokenizer class is not specified in the configuration."},
    };
    for (const auto& [config, message] : failures) {
        try {
            build(config, true);
            ADD_FAILURE() << config;
        } catch (const TokenizerError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    // The warning goes to standard error: standard output belongs to the
    // command-line transcript.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(build(R"({"tokenizer_class":"FooTokenizer"})", false));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Warning: Tokenizer model class FooTokenizer is not registered, falling back to a "
              "standard BPE "
              "implementation.\n");
}

TEST(PreTrainedTokenizer, StageErrorsStopConstruction) {
    EXPECT_THROW(PreTrainedTokenizer(
                     json(R"({"tokenizer_class":"GPT2Tokenizer"})"),
                     json(R"({"decoder":{"type":"Nope"},"model":{"vocab":{},"merges":[]}})")),
                 tokenizers::ConfigurationError);
    EXPECT_THROW(PreTrainedTokenizer(json(R"({"tokenizer_class":"GPT2Tokenizer"})"),
                                     json(R"({"model":{"vocab":{}}})")),
                 tokenizers::ConfigurationError);
}

TEST(PreTrainedTokenizer, ChatTemplatePresence) {
    EXPECT_FALSE(pipeline().hasChatTemplate());
    EXPECT_TRUE(pipeline(R"({"tokenizer_class":"GPT2Tokenizer","chat_template":"{{x}}"})")
                    .hasChatTemplate());
}

} // namespace

namespace {

// encode() takes a direct road (ids straight from the model); it must give
// what the text road gives: tokenize, post-process, look every token up.
std::vector<TokenId> byTheTextRoad(const PreTrainedTokenizer& t, std::string_view text,
                                   bool addSpecialTokens) {
    std::vector<TokenId> ids;
    for (const auto& id : t.convertTokensToIds(t.postProcess(t.tokenize(text), addSpecialTokens)))
        ids.push_back(id.value());
    return ids;
}

TEST(PreTrainedTokenizer, DirectEncodingEqualsTheTextRoad) {
    const fs::path folder =
        fs::temp_directory_path() / ("zv-whisper-road-" + std::to_string(::getpid()));
    zv::testing::writeWhisperTokenizerFolder(folder);
    const auto whisper = std::dynamic_pointer_cast<PreTrainedTokenizer>(
        tokenizers::AutoTokenizer::fromModelFolder(folder));
    fs::remove_all(folder);
    ASSERT_TRUE(whisper);
    const auto fusing = PreTrainedTokenizer(
        json(R"({"tokenizer_class":"GPT2Tokenizer","unk_token":"<unk>","fuse_unk":true})"),
        json(kData));
    const std::string texts[] = {"hello world",    " привет, мир!<|endoftext|>x",
                                 "<|en|><|0.00|>", "",
                                 "a\xFF",          "ab zz a<sp>  b",
                                 "\r\n\t 123 😀",   "  leading and trailing  "};
    for (const auto& text : texts) {
        for (bool special : {true, false}) {
            EXPECT_EQ(whisper->encode(text, special), byTheTextRoad(*whisper, text, special))
                << text;
            EXPECT_EQ(fusing.encode(text, special), byTheTextRoad(fusing, text, special)) << text;
        }
    }
}

} // namespace
