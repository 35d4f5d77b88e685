#include "tokenizers/UnigramTokenizer.h"

#include "TestSupport.h"
#include "tokenizers/PreTrainedTokenizer.h"
#include "tokenizers/TokenLattice.h"
#include "tokenizers/TokenizerError.h"

using tokenizers::PreTrainedTokenizer;
using tokenizers::TokenId;
using tokenizers::TokenizerError;
using tokenizers::UnigramTokenizer;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

UnigramTokenizer unigram(const std::string& vocab, const std::string& unkId = "0",
                         const char* config = "{}") {
    return UnigramTokenizer(
        json(config),
        json(R"({"model":{"type":"Unigram","unk_id":)" + unkId + R"(,"vocab":)" + vocab + "}}"),
        {});
}

TEST(UnigramTokenizer, BestPathsCheckedByHand) {
    struct Case {
        const char* vocab;
        const char* text;
        Tokens tokens;
    };
    const Case cases[] = {
        // -1.5 beats -1 + -1; -2.5 does not.
        {R"([["<unk>",0],["a",-1],["b",-1],["ab",-1.5]])", "ab", {"ab"}},
        {R"([["<unk>",0],["a",-1],["b",-1],["ab",-2.5]])", "ab", {"a", "b"}},
        // Equal totals: the piece that ends at a place and starts earliest wins.
        {R"([["<unk>",0],["a",-1],["b",-1],["ab",-2]])", "ab", {"ab"}},
        {R"([["<unk>",0],["a",-1],["b",-1],["c",-1],["ab",-2],["bc",-2]])", "abc", {"a", "bc"}},
        // "x" begins no piece: a one-character unknown node (score -1 - 10).
        {R"([["<unk>",0],["a",-1],["b",-1]])", "axb", {"a", "x", "b"}},
        // Only a longer piece begins at "c": the unknown node still joins the path.
        {R"([["<unk>",0],["cd",-1]])", "cde", {"cd", "e"}},
        {R"([["<unk>",0],["cd",-1]])", "ce", {"c", "e"}},
        // Whole characters, compared by their code units: the decomposed
        // spelling of "é" is not the piece "é".
        {R"([["<unk>",0],["é",-1],["éé",-1.5]])", "éé", {"éé"}},
        {R"([["<unk>",0],["é",-1],["e",-1]])", "e\xCC\x81", {"e\xCC\x81"}},
        {R"([["<unk>",0],["a",-1]])", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unigram(c.vocab).tokenize(c.text), c.tokens) << c.vocab << " " << c.text;
}

TEST(UnigramTokenizer, ScoresIdsAndSpecialTokens) {
    const auto m = unigram(R"([["<unk>",0],[" ",-3],["a",-20],["</s>",0]])", "0",
                           R"({"bos_token":"<s>","eos_token":"</s>"})");
    EXPECT_FLOAT_EQ(m.minScore(), -20);
    EXPECT_FLOAT_EQ(m.unknownPiece().score, -30);
    EXPECT_FLOAT_EQ(m.vocab()[0].score, 0); // an integer score
    EXPECT_EQ(m.unknownToken(), "<unk>");
    EXPECT_EQ(m.convertTokenToId("a"), 2);
    EXPECT_EQ(m.convertTokenToId("zz"), 0);
    EXPECT_EQ(m.convertIdToToken(3), "</s>");
    EXPECT_EQ(m.convertIdToToken(4), std::nullopt);
    EXPECT_EQ(m.convertIdToToken(-1), std::nullopt);
    EXPECT_EQ(m.bosToken(), " "); // whatever the configuration says
    EXPECT_EQ(m.bosTokenId(), 1);
    EXPECT_EQ(m.eosTokenId(), 3);
    EXPECT_TRUE(m.fuseUnknownTokens());
    EXPECT_FLOAT_EQ(unigram(R"([["<unk>",1000]])").minScore(), 999);
}

TEST(UnigramTokenizer, MalformedVocabulariesFailTheBuild) {
    const std::pair<std::string, std::string> malformed[] = {
        {R"([["a",-1],["b",-1],["a",-2]])", "0"}, // a piece listed twice
        {R"([["a",-1]])", "1"},                   // unknown id outside the vocabulary
        {R"([["a",-1]])", "-1"},
        {R"([["a",-1]])", R"("0")"},
        {R"([["a",-1]])", "null"},
        {R"([])", "0"},
        {R"([["a"]])", "0"}, // the last element is the score
        {R"([[1,-1]])", "0"},
        {R"([["a","-1"]])", "0"},
        {R"(["a"])", "0"},
    };
    for (const auto& [vocab, unkId] : malformed) {
        try {
            unigram(vocab, unkId);
            ADD_FAILURE() << vocab << " " << unkId;
        } catch (const TokenizerError& e) {
            EXPECT_EQ(e.kind(), TokenizerError::Kind::malformedVocab) << vocab << " " << unkId;
        }
    }
    try {
        unigram(R"({"a":-1})");
        ADD_FAILURE();
    } catch (const TokenizerError& e) {
        EXPECT_EQ(e.kind(), TokenizerError::Kind::missingVocab);
    }
}

TEST(UnigramTokenizer, LongPathsAreFreedWithoutRecursion) {
    // 300,000 one-character nodes chained on the best path.
    const auto m = unigram(R"([["<unk>",0],["a",-1]])");
    const auto tokens = m.tokenize(std::string(300000, 'a'));
    EXPECT_EQ(tokens.size(), 300000u);
    tokenizers::TokenLattice lattice("abc", 0, 0);
    EXPECT_THROW(lattice.insert(2, 2, 0, 1), std::out_of_range);
}

// A document of the XLM-RoBERTa kind: pieces marked with "▁" by the
// Metaspace stage, byte pieces decoded by the byte-fallback stage.
const char* kUnigramData = R"({
  "added_tokens": [
    {"id": 0, "content": "<unk>", "special": true},
    {"id": 1, "content": "<s>", "special": true},
    {"id": 2, "content": "</s>", "special": true}
  ],
  "normalizer": null,
  "pre_tokenizer": {"type": "Metaspace", "replacement": "▁", "prepend_scheme": "always"},
  "post_processor": {"type": "BertProcessing", "sep": ["</s>", 2], "cls": ["<s>", 1]},
  "decoder": {"type": "Sequence", "decoders": [
    {"type": "ByteFallback"},
    {"type": "Metaspace", "replacement": "▁", "add_prefix_space": true}
  ]},
  "model": {"type": "Unigram", "unk_id": 0, "vocab": [
    ["<unk>", 0], ["<s>", 0], ["</s>", 0], ["▁", -2], ["a", -1], ["b", -1], ["ab", -1.5],
    ["▁ab", -2.5], ["▁a", -2], ["<0xC3>", -5], ["<0xA9>", -5]
  ]}
})";

TEST(UnigramTokenizer, EncodesADocumentWithHandCheckedIds) {
    for (const char* tokenizerClass : {"XLMRobertaTokenizerFast", "T5Tokenizer"}) {
        const PreTrainedTokenizer t(
            json(std::string(R"({"tokenizer_class":")") + tokenizerClass + "\"}"),
            json(kUnigramData));
        const std::pair<const char*, std::vector<TokenId>> cases[] = {
            {"ab ab", {7, 7}},   // "▁ab" (-2.5) beats "▁a b" (-3) and "▁ ab" (-3.5)
            {"a b", {8, 3, 5}},  // no "▁b": "▁" then "b"
            {"axyb", {8, 0, 5}}, // unknown characters, one id for the run
            {"é", {3, 0}},       // no piece for "é": unknown, not bytes
        };
        for (const auto& [text, ids] : cases) {
            std::vector<TokenId> expected{1};
            expected.insert(expected.end(), ids.begin(), ids.end());
            expected.push_back(2);
            EXPECT_EQ(t.encode(text), expected) << tokenizerClass << " " << text;
        }
        // Byte pieces decode to the character they spell.
        EXPECT_EQ(t.decode({1, 7, 8, 9, 10, 2}, true), "ab aé");
    }
}

} // namespace
