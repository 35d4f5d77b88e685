#include "tokenizers/AutoTokenizer.h"

#include "TestSupport.h"
#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "hub/HubClientError.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"
#include "tokenizers/LlamaPreTrainedTokenizer.h"
#include "tokenizers/TokenizerError.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using tokenizers::AutoTokenizer;
using tokenizers::LlamaPreTrainedTokenizer;
using tokenizers::TokenizerError;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

const char* kLlamaData = R"({
  "added_tokens": [{"id": 1, "content": "<s>", "special": true}, {"id": 2, "content": "</s>", "special": true}],
  "normalizer": {"type": "Sequence", "normalizers": [{"type": "Prepend", "prepend": "\u2581"},
                                                      {"type": "Replace", "pattern": {"String": " "}, "content": "\u2581"}]},
  "post_processor": {"type": "ByteLevel"},
  "decoder": {"type": "Sequence", "decoders": [{"type": "Replace", "pattern": {"String": "\u2581"}, "content": " "},
                                               {"type": "ByteFallback"}, {"type": "Fuse"},
                                               {"type": "Strip", "content": " ", "start": 1, "stop": 0}]},
  "model": {"vocab": {"<unk>": 0, "<s>": 1, "</s>": 2, "\u2581": 3, "h": 4, "i": 5, "\u2581h": 6, "\u2581hi": 7},
            "merges": ["\u2581 h", "\u2581h i"]}
})";

TEST(LlamaTokenizer, LegacyKeepsTheDocumentsStages) {
    const auto config = json(
        R"({"tokenizer_class":"LlamaTokenizerFast","unk_token":"<unk>","bos_token":"<s>","add_bos_token":true})");
    const auto tokenizer = AutoTokenizer::from(config, json(kLlamaData));
    const auto* llama = dynamic_cast<const LlamaPreTrainedTokenizer*>(tokenizer.get());
    ASSERT_NE(llama, nullptr);
    EXPECT_TRUE(llama->isLegacy());
    EXPECT_EQ(tokenizer->tokenize("hi"), Tokens{"\xE2\x96\x81hi"});
    // The ByteLevel post-processor is replaced by a template adding the bos token.
    EXPECT_EQ(tokenizer->encode("hi"), (std::vector<tokenizers::TokenId>{1, 7}));
    EXPECT_EQ(tokenizer->decode({1, 7}, true), "hi");
}

TEST(LlamaTokenizer, NonLegacyDropsALoneMarkerBeforeASpecialToken) {
    const auto config =
        json(R"({"tokenizer_class":"LlamaTokenizer","legacy":false,"unk_token":"<unk>"})");
    const LlamaPreTrainedTokenizer t(config, json(kLlamaData));
    EXPECT_FALSE(t.isLegacy());
    EXPECT_EQ(t.tokenize("<s>hi"), (Tokens{"<s>", "h", "i"}));
    EXPECT_EQ(t.tokenize("hi"), (Tokens{"\xE2\x96\x81hi"}));
}

TEST(LlamaTokenizer, PostProcessorSynthesis) {
    const auto config = json(
        R"({"add_bos_token":true,"bos_token":{"content":"<s>"},"add_eos_token":true,"eos_token":"</s>"})");
    const auto processor =
        LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(config, json(R"({"type":"ByteLevel"})"));
    ASSERT_TRUE(processor);
    EXPECT_EQ((*processor)["single"].at(0)["SpecialToken"]["id"].string(), "<s>");
    EXPECT_EQ((*processor)["single"].at(2)["SpecialToken"]["id"].string(), "</s>");
    EXPECT_EQ((*processor)["pair"].array()->size(), 6u);
    EXPECT_FALSE(LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(
        config, json(R"({"type":"TemplateProcessing","single":[],"pair":[]})")));
    try {
        LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(json(R"({"add_eos_token":true})"),
                                                           hub::Config());
        FAIL();
    } catch (const TokenizerError& e) {
        EXPECT_STREQ(
            e.what(),
            "Tokenizer configuration mismatch: add_eos_token is True but eos_token is nil");
    }
}

TEST(AutoTokenizer, ClassChoice) {
    const auto data = json(kLlamaData);
    EXPECT_TRUE(dynamic_cast<LlamaPreTrainedTokenizer*>(
        AutoTokenizer::from(json(R"({"tokenizer_class":"LlamaFastTokenizer"})"), data).get()));
    EXPECT_FALSE(dynamic_cast<LlamaPreTrainedTokenizer*>(
        AutoTokenizer::from(json(R"({"tokenizer_class":"GPT2Tokenizer"})"), data).get()));
    EXPECT_THROW(AutoTokenizer::from(json(R"({"tokenizer_class":"llamatokenizer"})"), data),
                 TokenizerError);
}

TEST(AutoTokenizer, FolderLoaderBuildsThePlainClassAndNeedsAConfiguration) {
    const fs::path dir =
        fs::temp_directory_path() / ("zv-auto-tokenizer-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "tokenizer.json") << kLlamaData;
    try {
        AutoTokenizer::fromModelFolder(dir);
        ADD_FAILURE();
    } catch (const TokenizerError& e) {
        EXPECT_EQ(e.kind(), TokenizerError::Kind::missingConfig);
    }
    std::ofstream(dir / "tokenizer_config.json")
        << R"({"tokenizer_class":"LlamaTokenizer","unk_token":"<unk>"})";
    const auto tokenizer = AutoTokenizer::fromModelFolder(dir);
    EXPECT_FALSE(dynamic_cast<LlamaPreTrainedTokenizer*>(tokenizer.get()));
    fs::remove_all(dir);
}

// Small documents of the two other models, as a model folder holds them:
// the stages a real document of each kind names around the model.
const char* kWordPieceData = R"({
  "added_tokens": [{"id": 0, "content": "[PAD]", "special": true},
                   {"id": 1, "content": "[UNK]", "special": true},
                   {"id": 2, "content": "[CLS]", "special": true},
                   {"id": 3, "content": "[SEP]", "special": true}],
  "normalizer": {"type": "BertNormalizer", "clean_text": true, "handle_chinese_chars": true,
                 "strip_accents": null, "lowercase": true},
  "pre_tokenizer": {"type": "BertPreTokenizer"},
  "post_processor": {"type": "TemplateProcessing",
    "single": [{"SpecialToken": {"id": "[CLS]", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}},
               {"SpecialToken": {"id": "[SEP]", "type_id": 0}}],
    "pair": [], "special_tokens": {}},
  "decoder": {"type": "WordPiece", "prefix": "##", "cleanup": true},
  "model": {"type": "WordPiece", "unk_token": "[UNK]", "continuing_subword_prefix": "##",
            "max_input_chars_per_word": 100, "vocab": {
    "[PAD]": 0, "[UNK]": 1, "[CLS]": 2, "[SEP]": 3, "play": 4, "##ing": 5, "##ed": 6, "ok": 7,
    "!": 8, "東": 9, "京": 10}}
})";

const char* kUnigramData = R"({
  "added_tokens": [{"id": 0, "content": "<unk>", "special": true},
                   {"id": 1, "content": "<s>", "special": true},
                   {"id": 2, "content": "</s>", "special": true}],
  "normalizer": null,
  "pre_tokenizer": {"type": "Metaspace", "replacement": "\u2581", "prepend_scheme": "always", "split": true},
  "post_processor": {"type": "TemplateProcessing",
    "single": [{"SpecialToken": {"id": "<s>", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}},
               {"SpecialToken": {"id": "</s>", "type_id": 0}}],
    "pair": [], "special_tokens": {}},
  "decoder": {"type": "Metaspace", "replacement": "\u2581", "add_prefix_space": true},
  "model": {"type": "Unigram", "unk_id": 0, "byte_fallback": false, "vocab": [
    ["<unk>", 0], ["<s>", 0], ["</s>", 0], ["\u2581", -2], ["\u2581hel", -2], ["lo", -1.5],
    ["\u2581hello", -4], ["l", -2], ["o", -2]]}
})";

TEST(AutoTokenizer, FolderLoaderBuildsWordPieceAndUnigramTokenizers) {
    using tokenizers::TokenId;
    struct Case {
        const char* tokenizerClass;
        const char* data;
        std::vector<std::pair<const char*, std::vector<TokenId>>> encoded;
        std::vector<TokenId> decodedIds;
        const char* decoded;
    };
    const Case cases[] = {
        {"BertTokenizerFast",
         kWordPieceData,
         {{"Playing OK!", {2, 4, 5, 7, 8, 3}},  // lower-cased, "##ing", "!" cut off
          {"Played 東京", {2, 4, 6, 9, 10, 3}}, // each ideograph a word
          {"Plays", {2, 1, 3}}},                // no "##s": the word is unknown
         {2, 4, 5, 7, 8, 3},
         "playing ok!"},
        {"XLMRobertaTokenizerFast",
         kUnigramData,
         // "▁hel lo" (-3.5) beats "▁hello" (-4); "▁ lo l" (-5.5) beats "▁ l o l" (-8);
         // "h", "e", "x" begin no piece: unknown nodes, fused into one id.
         {{"hello lol", {1, 4, 5, 3, 5, 7, 2}}, {"hex", {1, 3, 0, 2}}},
         {1, 4, 5, 3, 5, 7, 2},
         "hello lol"},
    };
    for (const Case& c : cases) {
        platform::system::TemporaryDirectory dir("zv-auto-tokenizer-models-");
        std::ofstream(dir / "tokenizer.json") << c.data;
        std::ofstream(dir / "tokenizer_config.json")
            << R"({"tokenizer_class":")" << c.tokenizerClass << R"(","unk_token":"[UNK]"})";
        const auto tokenizer = AutoTokenizer::fromModelFolder(dir.path());
        for (const auto& [text, ids] : c.encoded)
            EXPECT_EQ(tokenizer->encode(text), ids) << c.tokenizerClass << " " << text;
        EXPECT_EQ(tokenizer->decode(c.decodedIds, true), c.decoded) << c.tokenizerClass;
    }
}

TEST(AutoTokenizer, PretrainedComesFromAHubRepository) {
    platform::system::TemporaryDirectory dir("zv-autotokenizer-hub-");
    zv::testing::writeWhisperTokenizerFolder(dir / "source");
    zvtest::TestHub server;
    zvtest::TestHub::Repository repository;
    repository.id = "openai/whisper-tiny";
    for (const char* name : {"tokenizer.json", "tokenizer_config.json"})
        repository.files.push_back(
            zvtest::TestHub::File::onDisk(name, dir / "source" / name, false));
    server.addRepository(repository);
    const hub::HubApi client(dir / "cache", std::string(), server.endpoint(), false, false);

    const auto tokenizer = AutoTokenizer::fromPretrained("openai/whisper-tiny", client);
    EXPECT_EQ(tokenizer->convertTokenToId("<|endoftext|>"), 50257);
    EXPECT_TRUE(fs::exists(dir / "cache/models/openai/whisper-tiny/tokenizer.json"));
}

TEST(AutoTokenizer, PretrainedFailsWithTheHubError) {
    // Nothing listens on port 1 of the loopback address.
    const fs::path base = fs::temp_directory_path() / "zv-autotokenizer-unreachable";
    const hub::HubApi unreachable(base, std::string(), std::string("http://127.0.0.1:1"), false,
                                  false);
    EXPECT_THROW(AutoTokenizer::fromPretrained("openai/whisper-tiny", unreachable),
                 hub::HubClientError);
    fs::remove_all(base);
}

} // namespace
