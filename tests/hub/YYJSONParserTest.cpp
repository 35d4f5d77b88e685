#include "hub/YYJSONParser.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using hub::Config;
using hub::YYJSONParser;

namespace {

Config parse(std::string_view text) {
    return YYJSONParser::parseToConfig(text);
}

TEST(YYJSONParser, EmptyInputFailsWithCodeZero) {
    try {
        parse("");
        FAIL();
    } catch (const YYJSONParser::ParseError& e) {
        EXPECT_EQ(e.kind(), YYJSONParser::ParseError::Kind::readFailed);
        EXPECT_EQ(e.code(), 0u);
        EXPECT_EQ(e.position(), 0);
        EXPECT_STREQ(e.what(), "yyjson read failed (code 0) at position 0: empty data");
    }
}

TEST(YYJSONParser, MalformedDocumentsReportYyjsonCodeAndPosition) {
    const char* bad[] = {"   ", "{} x", "[1,]", "{\"a\":1", "// c\n{}", "\"\xFF\"", "[1] [2]"};
    for (const char* text : bad) {
        try {
            parse(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const YYJSONParser::ParseError& e) {
            EXPECT_NE(e.code(), 0u) << text;
            EXPECT_EQ(std::string(e.what()).rfind("yyjson read failed (code ", 0), 0u) << e.what();
        }
    }
    try {
        parse("{} x");
    } catch (const YYJSONParser::ParseError& e) {
        EXPECT_EQ(e.position(), 3);
    }
}

TEST(YYJSONParser, IntegerBoundaries) {
    EXPECT_EQ(parse("9223372036854775807").integer(), INT64_MAX);
    EXPECT_EQ(parse("-9223372036854775808").integer(), INT64_MIN);
    const Config big = parse("18446744073709551615");
    EXPECT_EQ(big.kind(), Config::Kind::floating);
    EXPECT_FLOAT_EQ(*big.floating(), 1.8446744e19f);
    EXPECT_EQ(parse("9223372036854775808").kind(), Config::Kind::floating);
}

TEST(YYJSONParser, RealsAreNarrowedAndNonFiniteLiteralsAccepted) {
    EXPECT_EQ(parse("0.1").floating(), 0.1f);
    EXPECT_TRUE(std::isinf(*parse("1e999").floating()));
    EXPECT_TRUE(std::isnan(*parse("NaN").floating()));
    EXPECT_TRUE(std::isinf(*parse("-Infinity").floating()));
    EXPECT_EQ(parse("[1.5]").at(0).floating(), 1.5f);
}

TEST(YYJSONParser, StringsStopAtEscapedNul) {
    EXPECT_EQ(parse("\"ab\\u0000cd\"").string(), "ab");
    EXPECT_EQ(parse("{\"k\\u0000x\": 1}")["k"].integer(), 1);
    EXPECT_EQ(parse("\"\\u043f\\u0440\\u0438\"").string(), "при");
}

TEST(YYJSONParser, ContainersAndDuplicateKeys) {
    EXPECT_EQ(parse("{\"a\":1,\"a\":2}")["a"].integer(), 2);
    EXPECT_EQ(parse("{}").dictionary()->size(), 0u);
    EXPECT_EQ(parse("[]").array()->size(), 0u);
    const Config doc = parse(
        R"({"model":{"vocab":{"a":0,"b":1},"merges":["a b",["a","b"]]},"flag":true,"none":null})");
    EXPECT_EQ(doc["model"]["vocab"]["b"].integer(), 1);
    EXPECT_EQ(doc["model"]["merges"].at(1).stringArray(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(doc["flag"].boolean(), true);
    EXPECT_TRUE(doc["none"].isNull());
    EXPECT_EQ(doc.optionalMember("none")->kind(), Config::Kind::null);
}

TEST(YYJSONParser, DeepNestingIsRefusedNotRecursedInto) {
    const int depth = YYJSONParser::maxDepth;
    const std::string ok = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_NO_THROW(parse(ok));
    for (const char open : {'[', '{'}) {
        std::string deep;
        for (int i = 0; i < 200000; ++i)
            deep += open == '[' ? "[" : "{\"k\":";
        deep += "1";
        for (int i = 0; i < 200000; ++i)
            deep += open == '[' ? ']' : '}';
        try {
            parse(deep);
            FAIL();
        } catch (const YYJSONParser::ParseError& e) {
            EXPECT_EQ(e.kind(), YYJSONParser::ParseError::Kind::readFailed);
            EXPECT_NE(std::string(e.what()).find("nesting deeper than"), std::string::npos);
            EXPECT_GT(e.position(), 0);
        }
    }
}

// Large containers stay in the parsed document until used: the value seen
// through every reader must be the one an eager conversion gives.
TEST(YYJSONParser, LargeContainersReadTheSameWhenConvertedLate) {
    std::string vocab = "{", merges = "[";
    for (int i = 0; i < 3000; ++i) {
        vocab +=
            (i ? "," : "") + std::string("\"t") + std::to_string(i) + "\":" + std::to_string(i);
        merges += (i ? "," : "") + std::string("\"a b") + std::to_string(i) + "\"";
    }
    // A repeated key keeps its last value; a deep value inside a large array
    // is still measured against the nesting limit.
    vocab += ",\"t7\":-7}";
    merges += ",[[[1]]]]";
    const Config doc = parse("{\"vocab\":" + vocab + ",\"merges\":" + merges + "}");
    const Config& v = doc["vocab"];
    const Config& m = doc["merges"];
    EXPECT_EQ(v.kind(), Config::Kind::dictionary);
    EXPECT_EQ(m.kind(), Config::Kind::array);

    // Walked without conversion: members in document order, repeats included.
    std::size_t members = 0;
    std::int64_t lastSeven = 0;
    v.forEachMember([&](std::string_view key, const Config& value) {
        ++members;
        if (key == "t7") lastSeven = *value.integer();
    });
    EXPECT_EQ(members, 3001u);
    EXPECT_EQ(lastSeven, -7);
    std::vector<Config> elements;
    m.forEachElement([&](const Config& element) { elements.push_back(element); });
    ASSERT_EQ(elements.size(), 3001u);
    EXPECT_EQ(elements[2999].string(), "a b2999");
    EXPECT_EQ(elements[3000][0][0][0].integer(), 1);

    // Converted on first use, from several threads at once.
    std::vector<std::thread> threads;
    std::vector<const Config::Dictionary*> seen(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] { seen[t] = v.dictionary(); });
    for (auto& thread : threads)
        thread.join();
    for (const auto* d : seen)
        EXPECT_EQ(d, seen[0]);
    EXPECT_EQ(v.size(), 3000u);
    EXPECT_EQ(v["t7"].integer(), -7);
    EXPECT_EQ(v["t2999"].integer(), 2999);
    EXPECT_EQ(m.at(1).string(), "a b1");
    EXPECT_EQ(m.size(), 3001u);
    // Equal, and hashing alike, to the same document read with no deferral.
    EXPECT_EQ(doc, Config::decodeJson(doc.encodeJson()));
    EXPECT_EQ(doc.hash(), Config::decodeJson(doc.encodeJson()).hash());

    std::string deep = "[";
    for (int i = 0; i < 1000; ++i)
        deep += "0,";
    deep += std::string(YYJSONParser::maxDepth, '[') + std::string(YYJSONParser::maxDepth, ']');
    deep += "]";
    EXPECT_THROW(parse(deep), YYJSONParser::ParseError);
}

} // namespace
