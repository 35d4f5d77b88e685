#include "hub/Config.h"

#include "hub/YYJSONParser.h"

#include <cmath>
#include <gtest/gtest.h>

using hub::Config;

namespace {

TEST(Config, MemberLookupFallsBackToSnakeCase) {
    const Config onlySnake = Config::object({{"tokenizer_class", "X"}});
    EXPECT_EQ(onlySnake["tokenizerClass"].string(), "X");
    const Config both = Config::object({{"modelType", "camel"}, {"model_type", "snake"}});
    EXPECT_EQ(both["modelType"].string(), "camel");
    EXPECT_TRUE(onlySnake["missing"].isNull());
}

TEST(Config, OptionalMemberIsAbsentOnlyOnNonDictionaries) {
    const Config dict = Config::object({{"a", 1}});
    ASSERT_NE(dict.optionalMember("b"), nullptr);
    EXPECT_TRUE(dict.optionalMember("b")->isNull());
    EXPECT_EQ(Config::array({1, 2}).optionalMember("a"), nullptr);
    EXPECT_EQ(Config("text").optionalMember("a"), nullptr);
    EXPECT_TRUE(Config("text")["a"].isNull());
}

TEST(Config, UncamelCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"modelType", "model_type"},
        {"tokenizerClass", "tokenizer_class"},
        {"unkId", "unk_id"},
        {"addBOSToken", "add_bostoken"},
        {"ABC", "abc"},
        {"a_B", "a__b"},
        {"already_snake", "already_snake"},
        {"bosToken2x", "bos_token2x"},
        {"ÜberΣx", "über_σx"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Config::uncamelCase(in), out) << in;
}

TEST(Config, TypedReadersAreLenient) {
    EXPECT_EQ(Config(3.0f).integer(), std::nullopt);
    EXPECT_EQ(Config(3).floating(), 3.0f);
    const std::pair<Config, std::optional<bool>> booleans[] = {
        {Config("TRUE"), true},
        {Config("T"), true},
        {Config("1"), true},
        {Config("f"), false},
        {Config("yes"), std::nullopt},
        {Config(0), false},
        {Config(2), false},
        {Config(1), true},
        {Config(1.0f), std::nullopt},
        {Config(true), true},
        {Config(), std::nullopt},
    };
    for (const auto& [value, expected] : booleans)
        EXPECT_EQ(value.boolean(), expected) << value.description();
    EXPECT_EQ(Config("x").integer(7), 7);
    EXPECT_EQ(Config().string("d"), "d");
}

TEST(Config, ArraysAndTokens) {
    const Config list = Config::array({"a", 1, "b"});
    EXPECT_EQ(list.stringArray(), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(list.at(-1).isNull());
    EXPECT_TRUE(list.at(3).isNull());
    EXPECT_EQ(list.at(1).integer(), 1);
    EXPECT_EQ(list[0].string(), "a");
    EXPECT_TRUE(Config("x")[0].isNull());
    const auto token = Config::array({"[SEP]", 102}).token();
    ASSERT_TRUE(token);
    EXPECT_EQ(token->id, 102u);
    EXPECT_EQ(token->text, hub::BinaryDistinctString("[SEP]"));
    EXPECT_EQ(Config::array({"[SEP]", -1}).token(), std::nullopt);
    EXPECT_EQ(Config::array({102, "[SEP]"}).token(), std::nullopt);
    EXPECT_EQ(Config::array({"a", 1, 2}).token(), std::nullopt);
}

TEST(Config, EqualityCrossesKinds) {
    EXPECT_EQ(Config(2), Config(false));
    EXPECT_EQ(Config(1), Config(true));
    EXPECT_NE(Config(1.0f), Config(true));
    EXPECT_EQ(Config("t"), Config(true));
    EXPECT_EQ(Config((1 << 24) + 1), Config(16777216.0f));
    EXPECT_NE(Config("1"), Config(1));
    EXPECT_EQ(Config::object({{"a", Config::array({1, "x"})}}),
              Config::object({{"a", Config::array({1, "x"})}}));
    EXPECT_NE(Config::object({{"a", 1}}), Config::object({{"a", 1}, {"b", 2}}));
    EXPECT_EQ(Config(), Config());
    EXPECT_EQ(Config(-0.0f).hash(), Config(0.0f).hash());
}

TEST(Config, DescriptionForms) {
    EXPECT_EQ(Config("a\"b").description(), "\"a\"b\"");
    EXPECT_EQ(Config(42).description(), "42");
    EXPECT_EQ(Config(0.1f).description(), "0.1");
    EXPECT_EQ(Config(1.0f).description(), "1.0");
    EXPECT_EQ(Config::array({1, "x"}).description(), "[[1, \"x\"]]");
    EXPECT_EQ(Config(Config::Dictionary{}).description(), "{[:]}");
    EXPECT_EQ(Config(Config::Token{7, "x"}).description(), "(7, x)");
    EXPECT_EQ(Config().description(), "null");
}

TEST(Config, DictionaryLiteralKeepsLastValue) {
    const Config c = Config::object({{"k", 1}, {"k", 2}});
    EXPECT_EQ(c["k"].integer(), 2);
    EXPECT_EQ(c.dictionary()->size(), 1u);
}

} // namespace

#include "jinja/Value.h"

namespace {

TEST(Config, ConvertsToTemplateValues) {
    EXPECT_EQ(Config(0.1f).jinjaValue().asDouble(), 0.1);
    EXPECT_EQ(Config(7).jinjaValue().kind(), jinja::Value::Kind::int_);
    EXPECT_EQ(Config("x").jinjaValue().asString(), "x");
    EXPECT_EQ(Config().jinjaValue().kind(), jinja::Value::Kind::null);
    const jinja::Value list = Config::array({true, "a"}).jinjaValue();
    ASSERT_EQ(list.kind(), jinja::Value::Kind::array);
    EXPECT_EQ(list.toJson(), R"([true,"a"])");
    EXPECT_EQ(Config::object({{"k", Config::array({1})}}).jinjaValue().toJson(), R"({"k":[1]})");
    EXPECT_EQ(Config(Config::Token{5, "x"}).jinjaValue().toJson(), R"({"5":"x"})");
}

} // namespace

namespace {

TEST(Config, JsonCodingForm) {
    const Config value = Config::object({{"b", Config::array({1, 0.1f, "x", Config(), true})},
                                         {"a", Config(Config::Token{5, "t"})}});
    EXPECT_EQ(value.encodeJson(), R"({"a":[5,"t"],"b":[1,0.1,"x",null,true]})");
    // Decoding reads [5, "x"] as a token but ["x", 5] as an array.
    const Config decoded = Config::decodeJson(R"({"t":[5,"x"],"a":["x",5],"n":[-1,"x"]})");
    EXPECT_EQ(decoded["t"].kind(), Config::Kind::token);
    EXPECT_EQ(decoded["a"].kind(), Config::Kind::array);
    EXPECT_EQ(decoded["n"].kind(), Config::Kind::array);
    EXPECT_EQ(Config::decodeJson(value.encodeJson()), value);
    EXPECT_THROW(Config(std::nanf("")).encodeJson(), std::domain_error);
    EXPECT_THROW(Config::decodeJson("NaN"), hub::YYJSONParser::ParseError);
}

} // namespace
