#include "tokenizers/PostProcessor.h"

#include "TestSupport.h"

using tokenizers::PostProcessorFactory;
using zv::testing::json;
using zv::testing::Tokens;

namespace {

constexpr const char* kTemplate =
    R"({"type":"TemplateProcessing","single":[{"SpecialToken":{"id":"[CLS]"}},{"Sequence":{"id":"A"}},{"SpecialToken":{"id":"[SEP]"}}],
        "pair":[{"Sequence":{"id":"A"}},{"SpecialToken":{"id":"[SEP]"}},{"Sequence":{"id":"B"}}]})";

TEST(PostProcessor, Template) {
    auto p = PostProcessorFactory::fromConfig(json(kTemplate));
    const Tokens a{"a", "b"}, empty;
    EXPECT_EQ(p->postProcess(a, nullptr, true), (Tokens{"[CLS]", "a", "b", "[SEP]"}));
    EXPECT_EQ(p->postProcess(a, nullptr, false), (Tokens{"a", "b"}));
    EXPECT_EQ(p->postProcess(a, &empty, true), (Tokens{"a", "b", "[SEP]"}));
}

TEST(PostProcessor, BertAndRoberta) {
    auto bert = PostProcessorFactory::fromConfig(
        json(R"({"type":"BertProcessing","sep":["[SEP]",102],"cls":["[CLS]",101]})"));
    const Tokens a{"a"}, b{"b"}, empty;
    EXPECT_EQ(bert->postProcess(a, &b, true), (Tokens{"[CLS]", "a", "[SEP]", "b", "[SEP]"}));
    EXPECT_EQ(bert->postProcess(a, &empty, true), (Tokens{"[CLS]", "a", "[SEP]"}));
    EXPECT_EQ(bert->postProcess(a, &b, false), (Tokens{"a", "b"}));

    auto roberta = PostProcessorFactory::fromConfig(
        json(R"({"type":"RobertaProcessing","sep":["[SEP]",2],"cls":["[CLS]",0]})"));
    EXPECT_EQ(roberta->postProcess(a, &b, false),
              (Tokens{"[CLS]", "a", "[SEP]", "[SEP]", "b", "[SEP]"}));
    EXPECT_EQ(roberta->postProcess({"  x   ", "\xC4\xA0x", "   "}, nullptr, true),
              (Tokens{"[CLS]", " x ", "\xC4\xA0x", " ", "[SEP]"}));
    auto plainTrim = PostProcessorFactory::fromConfig(json(
        R"({"type":"RobertaProcessing","sep":["</s>",2],"cls":["<s>",0],"add_prefix_space":false})"));
    EXPECT_EQ(plainTrim->postProcess({" \tx "}, nullptr, true), (Tokens{"<s>", "x", "</s>"}));
}

TEST(PostProcessor, ByteLevelAndSequence) {
    auto byteLevel = PostProcessorFactory::fromConfig(json(R"({"type":"ByteLevel"})"));
    const Tokens a{"a"}, b{"b"};
    EXPECT_EQ(byteLevel->postProcess(a, &b, true), a);
    auto sequence = PostProcessorFactory::fromConfig(
        json(std::string(R"({"type":"Sequence","processors":[{"type":"ByteLevel"},)") + kTemplate +
             "]}"));
    EXPECT_EQ(sequence->postProcess(a, &b, true), (Tokens{"[CLS]", "a", "[SEP]"}));
    auto none = PostProcessorFactory::fromConfig(json(R"({"type":"Sequence","processors":[]})"));
    EXPECT_EQ(none->postProcess(a, &b, true), a);
}

TEST(PostProcessor, ConfigurationErrors) {
    using zv::testing::expectConfigurationError;
    const std::pair<const char*, const char*> cases[] = {
        {R"({"type":"Other"})", "Unsupported PostProcessor type: Other"},
        {R"({"type":"TemplateProcessing"})", "Missing `single` processor configuration"},
        {R"({"type":"TemplateProcessing","single":[]})", "Missing `pair` processor configuration"},
        {R"({"type":"BertProcessing","cls":["[CLS]",1]})", "Missing `sep` processor configuration"},
        {R"({"type":"RobertaProcessing","sep":["[SEP]",1]})",
         "Missing `cls` processor configuration"},
        {R"({"type":"RobertaProcessing","sep":["[SEP]",-1],"cls":["[CLS]",1]})",
         "Missing `sep` processor configuration"},
        {R"({"type":"Sequence"})", "Missing `processors` configuration"},
    };
    for (const auto& [config, message] : cases)
        expectConfigurationError(
            [config = config] { PostProcessorFactory::fromConfig(json(config)); }, message);
}

} // namespace
