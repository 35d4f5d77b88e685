#include "tokenizers/BertTokenizer.h"

#include "TestSupport.h"
#include "tokenizers/PreTrainedTokenizer.h"
#include "tokenizers/TokenizerError.h"

using tokenizers::BertTokenizer;
using tokenizers::PreTrainedTokenizer;
using tokenizers::TokenId;
using tokenizers::TokenizerError;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

// A BERT-style document: no normalizer and no pre-tokenizer, so the model's
// own basic tokenizer does the lower-casing, accent stripping and cutting.
// "[MASK]" is 50 in the vocabulary and 103 as an added token.
const char* kBertData = R"({
  "added_tokens": [
    {"id": 0, "content": "[PAD]", "special": true},
    {"id": 100, "content": "[UNK]", "special": true},
    {"id": 101, "content": "[CLS]", "special": true},
    {"id": 102, "content": "[SEP]", "special": true},
    {"id": 103, "content": "[MASK]", "special": true}
  ],
  "normalizer": null,
  "pre_tokenizer": null,
  "post_processor": {"type": "BertProcessing", "sep": ["[SEP]", 102], "cls": ["[CLS]", 101]},
  "decoder": {"type": "WordPiece", "prefix": "##", "cleanup": true},
  "model": {"type": "WordPiece", "unk_token": "[UNK]", "vocab": {
    "[PAD]": 0, "[UNK]": 100, "[CLS]": 101, "[SEP]": 102, "[MASK]": 50,
    "un": 1, "##aff": 2, "##able": 3, "hello": 4, "world": 5, "!": 6, ",": 7, "+": 8,
    "a": 9, "b": 10, "中": 11, "国": 12, "cafe": 13, "##s": 14, "x": 15, "##x": 16,
    "$": 19, "no-id": "7"
  }}
})";

PreTrainedTokenizer bert(const char* config = R"({"tokenizer_class":"BertTokenizerFast"})") {
    return PreTrainedTokenizer(json(config), json(kBertData));
}

std::vector<TokenId> xs(std::size_t first, std::size_t continuations) {
    std::vector<TokenId> ids(first, 15);
    ids.insert(ids.end(), continuations, 16);
    return ids;
}

TEST(BertTokenizer, EncodesADocumentWithHandCheckedIds) {
    const auto t = bert();
    const std::pair<std::string, std::vector<TokenId>> cases[] = {
        {"Hello, World!", {4, 7, 5, 6}},
        {"unaffable", {1, 2, 3}},
        {"unzzable", {100}},     // no "##z...": the whole word is unknown
        {"unaffzable", {100}},   // pieces found before the gap are dropped
        {"CAFÉS", {13, 14}},     // lower-cased, accent stripped, "##s"
        {"Cafe\xCC\x81", {13}},  // a combining accent is stripped as well
        {"a+b", {9, 8, 10}},     // ASCII symbols are punctuation
        {"$a", {19, 9}},         //
        {"中国", {11, 12}},      // ideographs are words of their own
        {"a中b", {9, 11, 10}},   //
        {"a\nb", {100}},         // a line break does not cut
        {"a\tb  a", {9, 10, 9}}, // tabs and runs of spaces do
        {std::string(100, 'x'), xs(1, 99)},
        {std::string(101, 'X'), {100}}, // over 100 characters
        {"", {}},
    };
    for (const auto& [text, ids] : cases) {
        std::vector<TokenId> expected{101};
        expected.insert(expected.end(), ids.begin(), ids.end());
        expected.push_back(102);
        EXPECT_EQ(t.encode(text), expected) << text;
    }
    EXPECT_EQ(t.decode({101, 1, 2, 3, 4, 7, 102}, true), "unaffable hello,");
}

TEST(BertTokenizer, NeverSplitTokensAndAddedIds) {
    const auto t = bert();
    const auto& model = dynamic_cast<const BertTokenizer&>(t.model());
    // The basic tokenizer keeps "[CLS]" whole even with lower-casing.
    EXPECT_EQ(model.tokenize("[CLS] Héllo"), (Tokens{"[CLS]", "hello"}));
    EXPECT_EQ(model.tokenize("[cls]"), (Tokens{"[UNK]", "[UNK]", "[UNK]"})); // "[", "cls", "]"
    // The added "[MASK]" replaces the vocabulary's id.
    EXPECT_EQ(model.convertTokenToId("[MASK]"), 103);
    EXPECT_EQ(t.encode("a [MASK]", false), (std::vector<TokenId>{9, 103}));
    EXPECT_EQ(model.convertIdToToken(103), "[MASK]");
    EXPECT_EQ(model.convertIdToToken(50), std::nullopt);
    // An entry whose id is not an integer is not in the vocabulary.
    EXPECT_EQ(model.convertTokenToId("no-id"), 100);
    EXPECT_EQ(model.unknownToken(), "[UNK]");
    EXPECT_EQ(model.unknownTokenId(), 100);
}

TEST(BertTokenizer, ConfigurationFlags) {
    const auto cased = bert(R"({"tokenizer_class":"BertTokenizer","do_lower_case":false,
                                "handle_chinese_chars":false,"bos_token":"[CLS]",
                                "eos_token":{"content":"[SEP]"}})");
    const auto& model = cased.model();
    EXPECT_EQ(model.tokenize("Hello hello"), (Tokens{"[UNK]", "hello"}));
    EXPECT_EQ(model.tokenize("a中国"), (Tokens{"[UNK]"})); // one word: "a", then no "##中"
    EXPECT_EQ(model.bosTokenId(), 101);
    EXPECT_EQ(model.eosToken(), std::nullopt); // read as a text only
    EXPECT_FALSE(model.fuseUnknownTokens());
}

TEST(BertTokenizer, VocabularyComparesCanonicalForms) {
    // Without lower-casing the accents stay, and a decomposed spelling finds
    // the precomposed entry.
    const BertTokenizer model({{"café", 1}, {"[UNK]", 0}, {"##s", 2}}, std::nullopt, true,
                              std::nullopt, std::nullopt, false, false);
    EXPECT_EQ(model.tokenize("cafe\xCC\x81s"), (Tokens{"cafe\xCC\x81", "##s"}));
    EXPECT_EQ(model.convertTokenToId("cafe\xCC\x81"), 1);
    const BertTokenizer noUnknown({{"a", 1}}, std::nullopt, true, std::nullopt, std::nullopt, false,
                                  true);
    EXPECT_EQ(noUnknown.convertTokenToId("b"), std::nullopt);
}

TEST(BertTokenizer, VocabularyMustBeAnObject) {
    for (const char* data : {R"({"model":{"vocab":["a"]}})", R"({"model":{}})"}) {
        try {
            BertTokenizer(json("{}"), json(data), {});
            ADD_FAILURE() << data;
        } catch (const TokenizerError& e) {
            EXPECT_EQ(e.kind(), TokenizerError::Kind::missingVocab);
        }
    }
}

} // namespace
