#include "tokenizers/Normalizer.h"

#include "TestSupport.h"

using tokenizers::NormalizerFactory;
using zv::testing::json;

namespace {

std::string normalize(std::string_view config, std::string_view text) {
    auto normalizer = NormalizerFactory::fromConfig(json(config));
    EXPECT_TRUE(normalizer) << config;
    return normalizer ? normalizer->normalize(text) : std::string();
}

TEST(Normalizer, EachTypeOnItsEdgeCases) {
    struct Case {
        const char* config;
        const char* input;
        const char* expected;
    } cases[] = {
        {R"({"type":"Bert"})", "H\xC3\xA9llo\tWorld", "hello world"},
        {R"({"type":"BertNormalizer"})", "\xE4\xBD\xA0\xE5\xA5\xBD",
         " \xE4\xBD\xA0  \xE5\xA5\xBD "},
        {R"({"type":"Bert","lowercase":false})", "H\xC3\xA9llo", "H\xC3\xA9llo"},
        {R"({"type":"Bert","lowercase":false,"strip_accents":true})", "H\xC3\xA9llo", "Hello"},
        {R"({"type":"Bert"})", "a\r\nb", "a b"}, // CR LF is one character, one space
        {R"({"type":"StripAccents"})",
         "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
         "e",
         "Creme brulee"},
        {R"({"type":"StripAccents"})", "\xEA\xB0\x80",
         "\xE1\x84\x80\xE1\x85\xA1"}, // Hangul stays decomposed
        {R"({"type":"Strip"})", "\n  hello \t", "hello"},
        {R"({"type":"Strip","strip_right":false})", "\n  hello \t", "hello \t"},
        {R"({"type":"Precompiled"})",
         "a\x07"
         "b",
         "ab"},
        {R"({"type":"Precompiled"})",
         "a\xE2\x96\x81"
         "b",
         "a b"},
        {R"({"type":"Precompiled"})", "\xEF\xBD\x81\xEF\xBD\x82\xEF\xBD\x83", "abc"},
        {R"({"type":"Precompiled"})", "\xEF\xBC\xA1\xEF\xBD\x9E\xEF\xBC\xA2",
         "A\xEF\xBD\x9E"
         "B"},
        {R"({"type":"Precompiled"})", "\xEF\xBD\x9Ex\xEF\xBD\x9E\xEF\xBD\x9E",
         "\xEF\xBD\x9Ex\xEF\xBD\x9E\xEF\xBD\x9E"},
        {R"({"type":"Prepend","prepend":"\u2581"})", "hello", "\xE2\x96\x81hello"},
        {R"({"type":"Prepend","prepend":"\u2581"})", "", "\xE2\x96\x81"},
        {R"({"type":"Replace","pattern":{"String":"  "},"content":" "})", "   ", "  "},
        {R"({"type":"Replace","pattern":{"Regex":" {2,}"},"content":" "})", "a   b    c", "a b c"},
        {R"({"type":"Replace","pattern":{},"content":" "})", "a  b", "a  b"},
        {R"({"type":"Lowercase"})", "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2 \xC3\x84",
         "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xC3\xA4"},
        {R"({"type":"NFD"})", "\xC3\xA9", "e\xCC\x81"},
        {R"({"type":"NFC"})", "e\xCC\x81", "\xC3\xA9"},
        {R"({"type":"NFKC"})", "\xEF\xAC\x81", "fi"},
        {R"({"type":"NFKD"})", "\xC2\xBD",
         "1\xE2\x81\x84"
         "2"},
        {R"({"type":"Sequence","normalizers":[{"type":"Lowercase"},{"type":"Prepend","prepend":">"},{"no":"type"}]})",
         "AB", ">ab"},
        {R"({"type":"Sequence","normalizers":[]})", "AB", "AB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalize(c.config, c.input), c.expected) << c.config << " on " << c.input;
}

TEST(Normalizer, AbsentOrUntypedGivesNone) {
    EXPECT_FALSE(NormalizerFactory::fromConfig(hub::Config()));
    EXPECT_FALSE(NormalizerFactory::fromConfig(json(R"({"lowercase":true})")));
}

TEST(Normalizer, ConfigurationErrors) {
    using zv::testing::expectConfigurationError;
    expectConfigurationError([] { NormalizerFactory::fromConfig(json(R"({"type":"Fancy"})")); },
                             "Unsupported Normalizer type: Fancy");
    expectConfigurationError([] { NormalizerFactory::fromConfig(json(R"({"type":""})")); },
                             "Unsupported Normalizer type: ");
    expectConfigurationError([] { NormalizerFactory::fromConfig(json(R"({"type":"Sequence"})")); },
                             "No normalizers in Sequence");
    expectConfigurationError(
        [] {
            NormalizerFactory::fromConfig(
                json(R"({"type":"Replace","pattern":{"Regex":"(a"},"content":""})"));
        },
        "Cannot build regexp from (a");
}

} // namespace
