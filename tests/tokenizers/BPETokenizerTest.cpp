#include "tokenizers/BPETokenizer.h"

#include "TestSupport.h"
#include "tokenizers/ByteEncoder.h"
#include "tokenizers/TokenizerError.h"

using tokenizers::BPETokenizer;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

BPETokenizer model(std::string_view modelJson, std::string_view config = "{}",
                   tokenizers::AddedTokenIds added = {}) {
    return BPETokenizer(json(config),
                        json(std::string(R"({"model":)") + std::string(modelJson) + "}"), added);
}

TEST(BPETokenizer, MergesFollowRankOrder) {
    const auto both =
        model(R"({"vocab":{"a":0,"b":1,"c":2,"ab":3,"abc":4,"bc":5},"merges":["a b","ab c"]})");
    EXPECT_EQ(both.bpe("abc"), "abc");
    const auto onlyBc = model(R"({"vocab":{"a":0,"b":1,"c":2,"bc":5},"merges":[["b","c"]]})");
    EXPECT_EQ(onlyBc.bpe("abc"), "a bc");
    EXPECT_EQ(onlyBc.tokenize("abc"), (Tokens{"a", "bc"}));
    EXPECT_EQ(onlyBc.bpe("x"), "x");
    EXPECT_EQ(onlyBc.tokenize(""), Tokens{});
}

TEST(BPETokenizer, EveryOccurrenceOfTheBestPairMergesInOnePass) {
    // With "a a" first, "aaaa" becomes "aa aa" before "aa a" (rank 1) is considered,
    // and "aaa" becomes "aa a" (left to right, no overlap).
    const auto m = model(R"({"vocab":{"a":0,"aa":1,"aaa":2},"merges":["a a","aa a"]})");
    EXPECT_EQ(m.bpe("aaaa"), "aa aa");
    EXPECT_EQ(m.bpe("aaa"), "aaa");
    // Rank order, not position: "c d" (rank 0) before "b c" (rank 1).
    const auto n = model(R"({"vocab":{},"merges":["c d","b c","a b"]})");
    EXPECT_EQ(n.bpe("abcd"), "ab cd");
}

TEST(BPETokenizer, LongPiecesStayFast) {
    // A long run of one digit would be quadratic with the plain merge loop.
    const auto m = model(R"({"vocab":{"1":0,"11":1,"1111":2},"merges":["1 1","11 11"]})");
    const std::string digits(200000, '1');
    const auto tokens = m.tokenize(digits);
    EXPECT_EQ(tokens.size(), 50000u);
    EXPECT_EQ(tokens.front(), "1111");
}

TEST(BPETokenizer, MergeListShapes) {
    const auto merges =
        BPETokenizer::mergesFromConfig(json(R"(["a  b", ["x","y","z"], 5, "p q r", "solo"])"));
    ASSERT_TRUE(merges);
    ASSERT_EQ(merges->size(), 4u); // the number takes no place
    EXPECT_EQ((*merges)[0], (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ((*merges)[1], (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ((*merges)[3], (std::vector<std::string>{"solo"}));
    const auto m = model(R"({"vocab":{},"merges":[5, "p q r", "solo", "q r"]})");
    EXPECT_EQ(m.bpe("pqr"), "pq r"); // "q r" ranks after "p q"
}

TEST(BPETokenizer, ByteFallbackForUnknownPieces) {
    const auto m = model(R"({"vocab":{"<unk>":0,"a":1,"<0xC3>":2,"<0xA9>":3},"merges":[]})",
                         R"({"unk_token":"<unk>"})");
    EXPECT_EQ(m.tokenize("\xC3\xA9"), (Tokens{"<0xC3>", "<0xA9>"}));
    EXPECT_EQ(m.tokenize("<unk>"), (Tokens{"<0x3C>", "<0x75>", "<0x6E>", "<0x6B>", "<0x3E>"}));
    EXPECT_EQ(m.convertTokenToId("zzz"), 0);
    EXPECT_EQ(m.unknownToken(), "<unk>");
    const auto noUnknown = model(R"({"vocab":{"a":1},"merges":[]})");
    EXPECT_EQ(noUnknown.tokenize("b"), Tokens{"<0x62>"});
    EXPECT_EQ(noUnknown.convertTokenToId("<0x62>"), std::nullopt);
    EXPECT_EQ(noUnknown.convertIdToToken(99), std::nullopt);
}

TEST(BPETokenizer, SpacesInsideSymbolsAreLost) {
    const auto m = model(R"({"vocab":{"a":0,"b":1," ":2},"merges":[]})");
    EXPECT_EQ(m.tokenize("a b"), (Tokens{"a", "b"}));
}

TEST(BPETokenizer, AddedTokensOverrideVocabularyIds) {
    tokenizers::AddedTokenIds added{{"a", 40}};
    const auto m = model(R"({"vocab":{"a":1,"b":2},"merges":[]})", "{}", added);
    EXPECT_EQ(m.convertTokenToId("a"), 40);
    EXPECT_EQ(m.convertIdToToken(40), "a");
}

TEST(BPETokenizer, SpecialTokensFromConfiguration) {
    const auto m = model(
        R"({"vocab":{"<s>":1,"</s>":2,"x":3},"merges":[]})",
        R"({"bos_token":{"content":"<s>"},"eos_token":"</s>","unk_token":{"content":"<missing>"},"fuse_unk":"t"})");
    EXPECT_EQ(m.bosToken(), "<s>");
    EXPECT_EQ(m.bosTokenId(), 1);
    EXPECT_EQ(m.eosTokenId(), 2);
    EXPECT_EQ(m.unknownToken(), "<missing>");
    EXPECT_EQ(m.unknownTokenId(), std::nullopt);
    EXPECT_TRUE(m.fuseUnknownTokens());
}

TEST(BPETokenizer, MissingMergesOrVocabularyAreClearErrors) {
    zv::testing::expectConfigurationError([] { model(R"({"vocab":{}})"); },
                                          "BPETokenizer requires merges");
    try {
        model(R"({"merges":[]})");
        FAIL();
    } catch (const tokenizers::TokenizerError& e) {
        EXPECT_EQ(e.kind(), tokenizers::TokenizerError::Kind::missingVocab);
    }
}

TEST(BPETokenizer, MergeKeysCompareByCanonicalEquivalence) {
    // The merge is written with a precomposed letter; the piece holds the
    // decomposed form. Vocabulary lookups stay exact.
    const auto m = model(R"({"vocab":{"xe\u0301":7},"merges":["x \u00e9"]})");
    EXPECT_EQ(m.tokenize("xe\xCC\x81"), Tokens{"xe\xCC\x81"});
    EXPECT_EQ(m.convertTokenToId("x\xC3\xA9"), std::nullopt);
}

TEST(ByteEncoder, Tables) {
    const auto& enc = tokenizers::byteEncoder();
    EXPECT_EQ(enc[32], "\xC4\xA0");
    EXPECT_EQ(enc[10], "\xC4\x8A");
    EXPECT_EQ(enc[65], "A");
    EXPECT_EQ(enc[173], "\xC5\x83");
    const auto& dec = tokenizers::byteDecoder();
    ASSERT_EQ(dec.size(), 256u);
    for (unsigned b = 0; b < 256; ++b)
        EXPECT_EQ(dec.at(enc[b]), b);
}

} // namespace
