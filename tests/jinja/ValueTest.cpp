#include "jinja/Value.h"

#include "jinja/CodingError.h"
#include "jinja/JinjaError.h"
#include "jinja/Macro.h"
#include "jinja/Template.h"

#include <any>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <unordered_set>

namespace jinja {
namespace {

Value json(std::string_view text) {
    return Value::fromJson(text);
}

// The kind and printed form of a value, or the message of the error raised making it.
template <class Make> std::string outcome(Make make) {
    try {
        Value v = make();
        return std::string(Value::kindName(v.kind())) + " " + v.description();
    } catch (const JinjaError& e) {
        return "error: " + e.message();
    }
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

Value function() {
    return Value(Function([](const Array&, const KeywordArguments&,
                             const std::shared_ptr<Environment>&) { return Value(); }));
}

TEST(ValueTest, Printing) {
    Object mixedKeys;
    mixedKeys.emplace(ObjectKey(1), Value("x"));
    mixedKeys.emplace(ObjectKey("y"), Value(2.5));
    const std::pair<Value, const char*> cases[] = {
        {Value(true), "true"},
        {Value(-7), "-7"},
        {Value(U'\u00E9'), "\xC3\xA9"},
        {Value('x'), "x"},
        {Value(3.0), "3.0"},
        {Value(0.1), "0.1"},
        {Value(0.0001), "0.0001"},
        {Value(0.00001), "1e-05"},
        {Value(2.5e-7), "2.5e-07"},
        {Value(1e20), "1e+20"},
        {Value(1.2345e20), "1.2345e+20"},
        {Value(1e15), "1000000000000000.0"},
        {Value(9007199254740992.0), "9007199254740992.0"},
        {Value(18014398509481984.0), "1.8014398509481984e+16"},
        {Value(1234567.0), "1234567.0"},
        {Value(-0.0), "-0.0"},
        {Value(1.0 / 3.0), "0.3333333333333333"},
        {Value(inf), "inf"},
        {Value(-inf), "-inf"},
        {Value(nan), "nan"},
        {Value(std::uint64_t{1} << 63), "9.223372036854776e+18"},
        {json(R"([1, "a", [2, "b"], {"k": "v"}, null, true])"),
         "[1, 'a', [2, 'b'], {'k': v}, , true]"},
        {Value(mixedKeys), "{1: x, 'y': 2.5}"},
        {Value(Array{Value("it's")}), "['it's']"},
        {Value(Array{}), "[]"},
        {Value(Object{}), "{}"},
        {Value::fromDictionaryLiteral({{"role", "user"}}), "{'role': user}"},
        {function(), "[Function]"},
        {Value(Macro{"greet", {}, {}, {}}), "[Macro greet]"},
        {Value(), ""},
        {Value::undefined(), ""},
    };
    for (const auto& [value, printed] : cases)
        EXPECT_EQ(value.description(), printed);
}

TEST(ValueTest, Truthiness) {
    const Value falsy[] = {Value(0),  Value(0.0),         Value(-0.0),
                           Value(""), Value(Array{}),     Value(Object{}),
                           Value(),   Value::undefined(), Value(false)};
    for (const Value& v : falsy)
        EXPECT_FALSE(v.isTruthy()) << v.description();
    const Value truthy[] = {
        Value(" "), json("[0]"),           Value(nan), function(), Value(Macro{"m", {}, {}, {}}),
        Value(-1),  json(R"({"a": null})")};
    for (const Value& v : truthy)
        EXPECT_TRUE(v.isTruthy()) << v.description();
}

TEST(ValueTest, StrictEqualityAndHashing) {
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(nan), Value(nan));
    Value f = function();
    EXPECT_NE(f, f);
    EXPECT_NE(Value(), Value::undefined());
    EXPECT_EQ(Value(), Value());
    EXPECT_NE(Value::fromDictionaryLiteral({{"a", 1}, {"b", 2}}),
              Value::fromDictionaryLiteral({{"b", 2}, {"a", 1}}));
    EXPECT_EQ(Value("\xC3\xA9"), Value("e\xCC\x81"));
    EXPECT_EQ(Value("\xC3\xA9").hash(), Value("e\xCC\x81").hash());
    EXPECT_EQ(Value(0.0), Value(-0.0));
    EXPECT_EQ(Value(0.0).hash(), Value(-0.0).hash());
    Value array = json("[1, [2, 3], {\"a\": \"b\"}]");
    Value copy = array;
    EXPECT_EQ(array, copy);
    EXPECT_EQ(array.hash(), copy.hash());
    EXPECT_EQ(Value(Macro{"m", {"a"}, {}, {}}), Value(Macro{"m", {"a"}, {}, {}}));

    std::unordered_set<Value, ValueHash> seen{Value(1), Value(1.0), Value("1"), Value("\xC3\xA9")};
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.count(Value("e\xCC\x81")), 1u);
}

TEST(ValueTest, Arithmetic) {
    struct Case {
        const char* op;
        Value left;
        Value right;
        const char* result;
    };
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {"+", Value(1), Value(2), "int 3"},
        {"+", Value(1), Value(2.0), "double 3.0"},
        {"+", Value("a"), Value(1), "string a1"},
        {"+", Value(1), Value("a"), "string 1a"},
        {"+", Value("x"), Value(), "string x"},
        {"+", json("[1]"), json("[2, 3]"), "array [1, 2, 3]"},
        {"+", json("[1]"), Value("x"), "string [1]x"},
        {"+", Value(true), Value(1), "error: Cannot add values of different types (true and 1)"},
        {"+", Value(Object{}), Value(Object{}),
         "error: Cannot add values of different types ({} and {})"},
        {"+", Value(max), Value(1),
         "error: Integer overflow in addition (9223372036854775807 and 1)"},
        {"-", Value(5), Value(7), "int -2"},
        {"-", Value(5.5), Value(1), "double 4.5"},
        {"-", Value("a"), Value(1), "error: Cannot subtract non-numeric values (a and 1)"},
        {"-", Value(min), Value(1),
         "error: Integer overflow in subtraction (-9223372036854775808 and 1)"},
        {"*", Value("ab"), Value(3), "string ababab"},
        {"*", Value(3), Value("ab"), "string ababab"},
        {"*", Value("ab"), Value(0), "string "},
        {"*", Value("ab"), Value(-2), "string "},
        {"*", Value("ab"), Value(2.0), "error: Cannot multiply values of these types (ab and 2.0)"},
        {"*", json("[1]"), Value(2), "error: Cannot multiply values of these types ([1] and 2)"},
        {"*", Value(6), Value(7), "int 42"},
        {"*", Value(max), Value(2),
         "error: Integer overflow in multiplication (9223372036854775807 and 2)"},
        {"*", Value("ab"), Value(max),
         "error: String repetition result is too large (ab and 9223372036854775807)"},
        {"/", Value(7), Value(2), "double 3.5"},
        {"/", Value(4), Value(2), "double 2.0"},
        {"/", Value(1), Value(0), "error: Division by zero"},
        {"/", Value(1.0), Value(-0.0), "error: Division by zero"},
        {"/", Value("a"), Value(0), "error: Cannot divide non-numeric values (a and 0)"},
        {"/", Value(1), Value(nan), "double nan"},
        {"//", Value(7), Value(2), "int 3"},
        {"//", Value(-7), Value(2), "int -3"},
        {"//", Value(7), Value(-2), "int -3"},
        {"//", Value(-7.0), Value(2), "int -4"},
        {"//", Value(7), Value(2.0), "int 3"},
        {"//", Value(7.5), Value(2), "int 3"},
        {"//", Value(7), Value(0), "error: Division by zero"},
        {"//", Value(min), Value(-1),
         "error: Integer overflow in floor division (-9223372036854775808 and -1)"},
        {"//", Value(1e300), Value(1e-10),
         "error: Floor division result is not a representable integer (1e+300 and 1e-10)"},
        {"//", Value(nan), Value(1),
         "error: Floor division result is not a representable integer (nan and 1)"},
        {"//", Value(true), Value(1), "error: Cannot floor divide non-numeric values (true and 1)"},
        {"**", Value(2), Value(3), "int 8"},
        {"**", Value(2), Value(10), "int 1024"},
        {"**", Value(0), Value(0), "int 1"},
        {"**", Value(2), Value(-2), "double 0.25"},
        {"**", Value(2.0), Value(3), "double 8.0"},
        {"**", Value(-8.0), Value(0.5), "double nan"},
        {"**", Value(0.0), Value(-1), "double inf"},
        {"**", Value(2), Value(63), "error: Integer overflow in power (2 and 63)"},
        {"**", Value(10), Value(1000), "error: Integer overflow in power (10 and 1000)"},
        {"**", Value("a"), Value(2), "error: Cannot raise non-numeric values to a power (a and 2)"},
        {"%", Value(7), Value(3), "int 1"},
        {"%", Value(-7), Value(3), "int -1"},
        {"%", Value(7), Value(-3), "int 1"},
        {"%", Value(min), Value(-1), "int 0"},
        {"%", Value(7), Value(0), "error: Modulo by zero"},
        {"%", Value(7.0), Value(2), "error: Modulo operation requires integers (7.0 and 2)"},
        {"~", Value("a"), Value(1), "string a1"},
        {"~", Value(1), Value("a"), "string 1a"},
        {"~", Value(1), Value(""), "string 1"},
        {"~", Value(), Value("x"), "string x"},
        {"~", Value(1), Value(2), "error: Cannot concatenate values of different types (1 and 2)"},
    };
    for (const auto& c : cases) {
        std::string op = c.op;
        auto apply = [&]() {
            if (op == "+") return c.left.add(c.right);
            if (op == "-") return c.left.subtract(c.right);
            if (op == "*") return c.left.multiply(c.right);
            if (op == "/") return c.left.divide(c.right);
            if (op == "//") return c.left.floorDivide(c.right);
            if (op == "**") return c.left.power(c.right);
            if (op == "%") return c.left.modulo(c.right);
            return c.left.concatenate(c.right);
        };
        EXPECT_EQ(outcome(apply), c.result)
            << c.left.description() << " " << op << " " << c.right.description();
    }
}

TEST(ValueTest, ComparisonAndEquivalence) {
    struct Case {
        Value left;
        Value right;
        const char* order; // "-1", "0", "1" or the error message
    };
    const Case cases[] = {
        {Value(1), Value(2.5), "-1"},
        {Value(3), Value(3.0), "0"},
        {Value("a"), Value("b"), "-1"},
        {Value("B"), Value("a"), "-1"},
        {Value("a"), Value("ab"), "-1"},
        {Value("\xC3\xA9"), Value("e\xCC\x81"), "0"},
        {Value(nan), Value(1), "0"},
        {Value(1), Value("a"), "Cannot compare values of different types (1 and a)"},
        {Value(true), Value(false), "Cannot compare values of different types (true and false)"},
        {Value(), Value(), "Cannot compare values of different types ( and )"},
        {json("[1]"), json("[1]"), "Cannot compare values of different types ([1] and [1])"},
    };
    for (const auto& c : cases) {
        std::string result;
        try {
            result = std::to_string(c.left.compare(c.right));
        } catch (const JinjaError& e) {
            result = e.message();
        }
        EXPECT_EQ(result, c.order) << c.left.description() << " <=> " << c.right.description();
    }

    EXPECT_TRUE(Value(1).isEquivalent(Value(1.0)));
    EXPECT_TRUE(json("[1, 2]").isEquivalent(json("[1.0, 2.0]")));
    EXPECT_TRUE(json(R"({"a": 1})").isEquivalent(json(R"({"a": 1.0})")));
    EXPECT_FALSE(Value(true).isEquivalent(Value(1)));
    EXPECT_TRUE(Value().isEquivalent(Value()));
    EXPECT_FALSE(Value().isEquivalent(Value::undefined()));
    EXPECT_FALSE(Value::fromDictionaryLiteral({{"a", 1}, {"b", 2}})
                     .isEquivalent(Value::fromDictionaryLiteral({{"b", 2}, {"a", 1}})));
    EXPECT_TRUE(Value((std::int64_t{1} << 53) + 1).isEquivalent(Value(9007199254740992.0)));
    EXPECT_FALSE(Value(nan).isEquivalent(Value(nan)));
    EXPECT_FALSE(function().isEquivalent(function()));
}

TEST(ValueTest, Containment) {
    struct Case {
        Value item;
        Value container;
        const char* result;
    };
    const Case cases[] = {
        {Value("b"), Value("abc"), "true"},
        {Value(""), Value("abc"), "true"},
        {Value(""), Value(""), "true"},
        {Value("B"), Value("abc"), "false"},
        {Value(1), Value("123"), "false"},
        {Value("x"), json(R"({"x": 1})"), "true"},
        {Value(1), json(R"({"x": 1})"), "false"},
        {Value(1), json("[1, 2]"), "true"},
        {Value(1), json("[1.0]"), "false"},
        {Value(1), Value(), "false"},
        {Value(1), Value::undefined(), "false"},
        {Value(1), Value(5), "'in' operator requires iterable on right side (5)"},
        {Value(1), Value(true), "'in' operator requires iterable on right side (true)"},
        // Canonically equivalent text matches; a part of a character does not.
        {Value("\xC3\xA9"), Value("cafe\xCC\x81!"), "true"},
        {Value("e"), Value("caf\xC3\xA9"), "false"},
        {Value("e"), Value("cafe\xCC\x81"), "false"},
    };
    for (const auto& c : cases) {
        std::string result;
        try {
            result = c.item.isContained(c.container) ? "true" : "false";
        } catch (const JinjaError& e) {
            result = e.message();
        }
        EXPECT_EQ(result, c.result) << c.item.description() << " in " << c.container.description();
    }
    Object keys;
    keys.emplace(ObjectKey(1), Value("x"));
    EXPECT_TRUE(Value(1).isContained(Value(keys)));
    EXPECT_FALSE(Value("1").isContained(Value(keys)));
}

TEST(ValueTest, OperatorsInTemplates) {
    // The operators as templates reach them, with indexing and slicing.
    const std::pair<const char*, const char*> cases[] = {
        {"{{ 1 + 2 }} {{ 7 // 2 }} {{ -7 % 3 }} {{ 2 ** 3 ** 2 }}", "3 3 -1 64"},
        {"{{ 1 == 1.0 }} {{ 1 in [1.0] }} {{ 'b' < 'a' }}", "true false false"},
        {"{{ [1, 2, 3][-1] }}|{{ [1, 2, 3][3] }}|{{ 'h\xC3\xA9llo'[1] }}|{{ 'abc'[::-1] }}|{{ [1, "
         "2, 3, 4][1:3] }}",
         "3||\xC3\xA9|cba|[2, 3]"},
        {"{{ {1: 'x'}[1] }}|{{ {1: 'x'}['1'] }}|{{ 'hello'[-3:] }}|{{ 'abc'[-10:2] }}",
         "x||llo|ab"},
        {"{{ 9223372036854775807 + 1 }}",
         "error: Integer overflow in addition (9223372036854775807 and 1)"},
    };
    for (const auto& [text, expected] : cases) {
        std::string result;
        try {
            result = Template(text).render({});
        } catch (const JinjaError& e) {
            result = "error: " + e.message();
        }
        EXPECT_EQ(result, expected) << text;
    }
}

TEST(ValueTest, ObjectKeys) {
    std::vector<ObjectKey> keys{ObjectKey("b"), ObjectKey(2), ObjectKey("A"), ObjectKey(1)};
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys[0].description(), "1");
    EXPECT_EQ(keys[1].description(), "2");
    EXPECT_EQ(keys[2].description(), "'A'");
    EXPECT_EQ(keys[3].description(), "'b'");
    EXPECT_NE(ObjectKey("1"), ObjectKey(1));
    EXPECT_EQ(ObjectKey("\xC3\xA9"), ObjectKey("e\xCC\x81"));
    EXPECT_EQ(ObjectKey(-1).stringValue(), "-1");
    EXPECT_EQ(ObjectKey("x").intValue(), std::nullopt);
    EXPECT_EQ(ObjectKey(3).intValue(), 3);
    EXPECT_EQ(ObjectKey(1).compare(ObjectKey("a")), -1);
    EXPECT_EQ(ObjectKey("a").compare(ObjectKey("A"), ObjectKey::CompareOptions::caseInsensitive),
              0);
    EXPECT_EQ(Value(1).toObjectKey(), ObjectKey(1));
    EXPECT_EQ(Value(1.0).toObjectKey(), std::nullopt);

    Object object;
    object.emplace(ObjectKey(1), Value("int"));
    EXPECT_EQ(objectGet(object, "1"), nullptr);
    objectSet(object, "a", Value(1));
    objectSet(object, "b", Value(2));
    objectSet(object, "a", Value(3));
    EXPECT_EQ(Value(object).description(), "{1: int, 'a': 3, 'b': 2}");
    objectRemove(object, "a");
    EXPECT_EQ(Value(object).description(), "{1: int, 'b': 2}");
    EXPECT_EQ(Value::fromDictionaryLiteral({{"a", 1}, {"b", 2}, {"a", 3}}).description(),
              "{'a': 3, 'b': 2}");
}

TEST(ValueTest, CopiesAreIndependent) {
    Value original = json("[1, 2]");
    Value copy = original;
    copy.mutableArray().push_back(Value(3));
    EXPECT_EQ(original.description(), "[1, 2]");
    EXPECT_EQ(copy.description(), "[1, 2, 3]");
    Value moved = std::move(copy);
    EXPECT_TRUE(copy.isNull()); // NOLINT(bugprone-use-after-move): a moved-from value is null
    EXPECT_EQ(moved.description(), "[1, 2, 3]");
}

TEST(ValueTest, DeeplyNestedValuesFailCleanlyAndTearDown) {
    Value deep;
    for (int i = 0; i < 200000; ++i)
        deep = Value(Array{std::move(deep)});
    EXPECT_THROW(deep.description(), JinjaError);
    EXPECT_THROW((void)(deep == deep), JinjaError);
    EXPECT_THROW(deep.toJson(), JinjaError);
    deep = Value(); // releasing 200000 levels must not exhaust the stack

    Value shallow;
    for (int i = 0; i < 50; ++i)
        shallow = Value::fromDictionaryLiteral({{"k", std::move(shallow)}});
    EXPECT_NO_THROW(shallow.description());
    EXPECT_THROW(Value::fromJson(std::string(5000, '[') + std::string(5000, ']')), JinjaError);
}

TEST(ValueTest, JsonForm) {
    EXPECT_EQ(json(R"({"b": 1, "a": [true, null]})").toJson(), R"({"a":[true,null],"b":1})");
    Object mixed;
    mixed.emplace(ObjectKey("10"), Value(1));
    mixed.emplace(ObjectKey(2), Value(2));
    EXPECT_EQ(Value(mixed).toJson(), R"({"2":2,"10":1})");
    Value::JsonOptions sorted;
    sorted.sortKeys = true;
    EXPECT_EQ(Value(mixed).toJson(sorted), R"({"10":1,"2":2})");

    Object colliding;
    colliding.emplace(ObjectKey(1), Value(1));
    colliding.emplace(ObjectKey("1"), Value(2));
    try {
        Value(colliding).toJson();
        FAIL();
    } catch (const CodingError& e) {
        EXPECT_EQ(e.kind(), CodingError::Kind::invalidValue);
        EXPECT_EQ(e.description(),
                  "Cannot encode object with colliding keys that both serialize to \"1\"");
    }
    // More entries than fit the writer's inline lists, inserted out of order.
    Object large;
    std::map<std::string, int> expectedOrder;
    for (int i = 20; i >= 0; --i) {
        large.emplace(ObjectKey("k" + std::to_string(i)), Value(i));
        expectedOrder.emplace("k" + std::to_string(i), i);
    }
    std::string expected = "{";
    for (const auto& [key, number] : expectedOrder)
        expected += (expected.size() > 1 ? ",\"" : "\"") + key + "\":" + std::to_string(number);
    EXPECT_EQ(Value(large).toJson(), expected + "}");
    large.emplace(ObjectKey(7), Value(0));
    large.emplace(ObjectKey("7"), Value(0));
    EXPECT_THROW(Value(large).toJson(), CodingError);
    try {
        Value(Array{Value(1), function()}).toJson();
        FAIL();
    } catch (const CodingError& e) {
        EXPECT_EQ(e.description(), "Cannot encode function values");
    }
    EXPECT_THROW(Value(nan).toJson(), CodingError);

    Value::JsonOptions pretty;
    pretty.pretty = true;
    pretty.escapeSlashes = true;
    EXPECT_EQ(json(R"({"a": [1, {"b": "x/y"}], "c": {}, "d": []})").toJson(pretty),
              "{\n  \"a\" : [\n    1,\n    {\n      \"b\" : \"x\\/y\"\n    }\n  ],\n  \"c\" : "
              "{},\n  \"d\" : []\n}");
    EXPECT_EQ(Value("q\"\\\n\x01\xC3\xA9").toJson(), "\"q\\\"\\\\\\n\\u0001\xC3\xA9\"");
    // Escapes found at any position of longer texts; bytes of other
    // characters pass unchanged.
    EXPECT_EQ(Value("abcdefgh\"ijk\x1fmnop/qrstuvw\xC3\xA9xyz\\").toJson(pretty),
              "\"abcdefgh\\\"ijk\\u001fmnop\\/qrstuvw\xC3\xA9xyz\\\\\"");
    EXPECT_EQ(Value("0123456789abcdef/").toJson(), "\"0123456789abcdef/\"");
    EXPECT_EQ(Value(0.5).toJson(), "0.5");
    EXPECT_EQ(Value::undefined().toJson(), "null");

    const std::pair<const char*, const char*> reads[] = {
        {"5", "int 5"},
        {"5.5", "double 5.5"},
        {"\"5\"", "string 5"},
        {"true", "boolean true"},
        {"null", "null "},
        {"18446744073709551615", "double 1.8446744073709552e+19"},
        {R"({"b": 1, "a": 2})", "object {'a': 2, 'b': 1}"},
    };
    for (const auto& [text, expected] : reads)
        EXPECT_EQ(outcome([&] { return json(text); }), expected) << text;
    EXPECT_THROW(json("{"), CodingError);
}

struct Unsupported {};

TEST(ValueTest, ConvertsHostData) {
    EXPECT_TRUE(Value::fromAny(std::any()).isNull());
    EXPECT_TRUE(Value::fromAny(std::optional<std::any>()).isNull());
    EXPECT_EQ(Value::fromAny(std::optional<std::any>(3)), Value(3));
    EXPECT_EQ(Value::fromAny(std::string("x")), Value("x"));
    EXPECT_EQ(Value::fromAny(Value(2.5)), Value(2.5));
    EXPECT_EQ(Value::fromAny(std::uint64_t{5}), Value(5));
    EXPECT_EQ(Value::fromAny(std::uint64_t{1} << 63), Value(9223372036854775808.0));
    EXPECT_EQ(Value::fromAny(0.5f), Value(0.5));
    EXPECT_EQ(Value::fromAny(0.1f), Value(0.10000000149011612));
    EXPECT_EQ(Value::fromAny(true), Value(true));

    std::map<std::string, std::any> message{
        {"role", std::string("user")}, {"content", std::string("hi")}, {"Name", 1}};
    EXPECT_EQ(Value::fromAny(message).description(), "{'Name': 1, 'content': hi, 'role': user}");
    std::vector<std::optional<std::any>> list{std::any(std::string("x")), std::nullopt,
                                              std::any(true)};
    EXPECT_EQ(Value::fromAny(list).description(), "['x', , true]");

    try {
        Value::fromAny(std::vector<std::any>{1, Unsupported{}});
        FAIL();
    } catch (const JinjaError& e) {
        EXPECT_EQ(e.kind(), JinjaError::Kind::runtime);
        EXPECT_EQ(e.message(), "Cannot convert value of type Unsupported to Jinja Value");
    }
    EXPECT_THROW(Value::fromAny(std::chrono::seconds(1)), JinjaError);

    std::unordered_map<std::string, Value> unordered{{"b", Value(1)}, {"a", Value(2)}};
    EXPECT_EQ(Value::object(unordered).description(), "{'a': 2, 'b': 1}");
    tsl::ordered_map<std::string, Value> ordered;
    ordered["b"] = Value(1);
    ordered["a"] = Value(2);
    EXPECT_EQ(Value::object(ordered).description(), "{'b': 1, 'a': 2}");
}

} // namespace
} // namespace jinja

namespace jinja {
namespace {

TEST(ValueTest, MacroRecords) {
    auto defaults = [](std::initializer_list<const char*> names) {
        ExpressionMap map;
        for (const char* name : names)
            map.emplace_back(name, Expression(Expression::Integer{1}));
        return map;
    };
    Macro yx{"m", {"x", "y"}, defaults({"y", "x"}), {Node::text("body")}};
    Macro xy{"m", {"x", "y"}, defaults({"x", "y"}), {Node::text("body")}};
    EXPECT_EQ(yx, (Macro{"m", {"x", "y"}, defaults({"y", "x"}), {Node::text("body")}}));
    EXPECT_EQ(yx.hash(),
              (Macro{"m", {"x", "y"}, defaults({"y", "x"}), {Node::text("body")}}).hash());
    EXPECT_NE(yx, xy);
    // Decoding sorts the defaults by name.
    Macro decoded = Macro::fromJson(yx.toJson());
    EXPECT_EQ(decoded, xy);
    EXPECT_NE(decoded, yx);
    EXPECT_EQ((Macro{"empty", {}, {}, {}}).toJson(),
              R"({"body":[],"defaults":{},"name":"empty","parameters":[]})");
    EXPECT_THROW(Macro::fromJson(R"({"name":"m","parameters":[1],"defaults":{},"body":[]})"),
                 CodingError);
    // A macro value codes as its record.
    EXPECT_EQ(Value(Array{Value(Macro{"empty", {}, {}, {}})}).toJson(),
              R"([{"body":[],"defaults":{},"name":"empty","parameters":[]}])");
}

} // namespace
} // namespace jinja
