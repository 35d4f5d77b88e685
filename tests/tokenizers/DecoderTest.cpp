#include "tokenizers/Decoder.h"

#include "TestSupport.h"

using tokenizers::DecoderFactory;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

Tokens decode(std::string_view config, const Tokens& tokens,
              const std::unordered_set<std::string>* added = nullptr) {
    auto d = DecoderFactory::fromConfig(json(config), added);
    EXPECT_TRUE(d) << config;
    return d ? d->decode(tokens) : Tokens{};
}

TEST(Decoder, EachTypeOnItsEdgeCases) {
    struct Case {
        const char* config;
        Tokens input;
        Tokens expected;
    } cases[] = {
        {R"({"type":"WordPiece","prefix":"##"})", {"un", "##aff", "##able"}, {"un", "aff", "able"}},
        {R"({"type":"WordPiece","prefix":"##"})", {"hello", "world"}, {"hello", " world"}},
        {R"({"type":"WordPiece","prefix":"##","cleanup":true})",
         {"I", "'m", "."},
         {"I", "'m", "."}},
        {R"({"type":"WordPiece","prefix":"##","cleanup":true})", {" do not"}, {" don't"}},
        {R"({"type":"WordPiece","prefix":"##","cleanup":true})", {" do", "not"}, {" do", " not"}},
        {R"({"type":"WordPiece","prefix":""})", {"a", "b"}, {"a", "b"}},
        {R"({"type":"ByteLevel"})", {"Hello", "\xC4\xA0world"}, {"Hello world"}},
        // The two bytes of one Cyrillic letter in separate tokens join into one character.
        {R"({"type":"ByteLevel"})", {"\xC3\x90", "\xC2\xBF"}, {"\xD0\xBF"}},
        // A run that ends inside a character yields one U+FFFD for the broken tail.
        {R"({"type":"ByteLevel"})", {"a\xC3\x90"}, {"a\xEF\xBF\xBD"}},
        // A character outside the byte alphabet keeps its own text.
        {R"({"type":"ByteLevel"})", {"x\xE2\x82\xAC"}, {"x\xE2\x82\xAC"}},
        {R"({"type":"ByteFallback"})", {"<0xE2>", "<0x96>", "<0x81>", "a"}, {"\xE2\x96\x81", "a"}},
        {R"({"type":"ByteFallback"})", {"a", "<0x41>", "<0x42>"}, {"a", "AB"}},
        {R"({"type":"ByteFallback"})",
         {"<0xZZ>", "<0x4>", "<0x+F>", "<0xC3>"},
         {"<0xZZ>", "<0x4>", "<0x+F>", "\xEF\xBF\xBD"}},
        {R"({"type":"Fuse"})", {"a", "b"}, {"ab"}},
        {R"({"type":"Fuse"})", {}, {""}},
        {R"({"type":"Strip","content":" ","start":1,"stop":0})",
         {" hello", "  x "},
         {"hello", " x "}},
        {R"({"type":"Strip","content":"x","start":5,"stop":-1})", {"xxaxx"}, {"axx"}},
        {R"({"type":"Metaspace","replacement":"\u2581","add_prefix_space":true})",
         {"\xE2\x96\x81Hello", "\xE2\x96\x81world"},
         {"Hello", " world"}},
        {R"({"type":"Metaspace","replacement":"\u2581"})",
         {"\xE2\x96\x81Hello", "\xE2\x96\x81world"},
         {" Hello", " world"}},
        {R"({"type":"Metaspace"})", {"a_b"}, {"a b"}},
        {R"({"type":"Replace","pattern":{"String":"\u2581"},"content":" "})",
         {"\xE2\x96\x81"
          "a\xE2\x96\x81"},
         {" a "}},
        {R"({"type":"Replace","pattern":{"Regex":"(\\d)x"},"content":"$1"})", {"1x2x"}, {"12"}},
        {R"({"type":"Replace","content":" "})", {"a"}, {"a"}},
        {R"({"type":"Sequence","decoders":[{"type":"Replace","pattern":{"String":"\u2581"},"content":" "},{"type":"ByteFallback"},{"type":"Fuse"},{"type":"Strip","content":" ","start":1,"stop":0}]})",
         {"\xE2\x96\x81Hi", "<0x21>"},
         {"Hi!"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.config, c.input), c.expected) << c.config;
}

TEST(Decoder, EmptyListsStayEmpty) {
    for (const char* config :
         {R"({"type":"ByteLevel"})", R"({"type":"WordPiece","prefix":"##"})",
          R"({"type":"ByteFallback"})", R"({"type":"Metaspace","add_prefix_space":true})",
          R"({"type":"Sequence","decoders":[]})"})
        EXPECT_EQ(decode(config, {}), Tokens{}) << config;
}

TEST(Decoder, ByteLevelKeepsAddedTokensOnlyAtTopLevel) {
    const std::unordered_set<std::string> added{"<|endoftext|>"};
    EXPECT_EQ(
        decode(R"({"type":"ByteLevel"})", {"Hello", "\xC4\xA0world", "<|endoftext|>"}, &added),
        (Tokens{"Hello world", "<|endoftext|>"}));
    // Nested in a sequence the set is empty: "|" and "<" are ordinary byte symbols.
    EXPECT_EQ(decode(R"({"type":"Sequence","decoders":[{"type":"ByteLevel"}]})",
                     {"a", "<|endoftext|>"}, &added),
              (Tokens{"a<|endoftext|>"}));
}

TEST(Decoder, ConfigurationErrors) {
    using zv::testing::expectConfigurationError;
    const std::pair<const char*, const char*> cases[] = {
        {R"({"type":"Unknown"})", "Unsupported Decoder type: Unknown"},
        {R"({"type":""})", "Unsupported Decoder type: "},
        {R"({"type":"Sequence"})", "No decoders in Sequence"},
        {R"({"type":"WordPiece"})", "Missing `prefix` configuration for WordPieceDecoder."},
        {R"({"type":"Strip","start":1,"stop":1})",
         "Incorrect StripDecoder configuration: can't parse `content`."},
        {R"({"type":"Strip","content":" ","stop":1})",
         "Incorrect StripDecoder configuration: can't parse `start`."},
        {R"({"type":"Strip","content":" ","start":1})",
         "Incorrect StripDecoder configuration: can't parse `stop`."},
        {R"({"type":"Replace","pattern":{"Regex":"["},"content":""})",
         "Cannot build regexp from ["},
    };
    for (const auto& [config, message] : cases)
        expectConfigurationError([config = config] { DecoderFactory::fromConfig(json(config)); },
                                 message);
    EXPECT_FALSE(DecoderFactory::fromConfig(json(R"({"kind":"ByteLevel"})")));
}

} // namespace
