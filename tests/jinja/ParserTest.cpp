#include "jinja/Parser.h"

#include "AstPrinter.h"
#include "jinja/CodingError.h"
#include "jinja/JinjaError.h"
#include "jinja/Lexer.h"

#include <gtest/gtest.h>
#include <string>

namespace jinja {
namespace {

using testing::print;

std::string parse(std::string_view text) {
    return print(Parser::parse(Lexer::tokenize(text)));
}

std::string parseError(std::string_view text) {
    try {
        Parser::parse(Lexer::tokenize(text));
    } catch (const JinjaError& error) {
        EXPECT_EQ(error.kind(), JinjaError::Kind::parser) << text;
        return error.message();
    }
    return "no error";
}

struct ParseCase {
    const char* text;
    const char* tree;
};

TEST(ParserTest, ExpressionGrammar) {
    const ParseCase cases[] = {
        {"{{ 'a' 'b' }}", "[{{(~ 'a' 'b')}}]"},
        {"{{ 'Hello, ' name }}", "[{{(~ 'Hello, ' name)}}]"},
        {"{{ 2 ** 3 ** 2 }}", "[{{(** (** 2 3) 2)}}]"},
        {"{{ -2 ** 2 }}", "[{{(** (- 2) 2)}}]"},
        {"{{ a + b | upper }}", "[{{(+ a (| b upper))}}]"},
        {"{{ 2 * a | abs }}", "[{{(| (* 2 a) abs)}}]"},
        {"{{ a < b < c }}", "[{{(< (< a b) c)}}]"},
        {"{{ a == b == c }}", "[{{(== (== a b) c)}}]"},
        {"{{ not a in b }}", "[{{(not (in a b))}}]"},
        {"{{ a not in b }}", "[{{(not in a b)}}]"},
        {"{{ not not a }}", "[{{(not (not a))}}]"},
        {"{{ a or b and c }}", "[{{(or a (and b c))}}]"},
        {"{{ a ~ b + c }}", "[{{(+ (~ a b) c)}}]"},
        {"{{ a - b * c // d % e / f }}", "[{{(- a (/ (% (// (* b c) d) e) f))}}]"},
        {"{{ a if b }}", "[{{(if b a _)}}]"},
        {"{{ a if b else c if d else e }}", "[{{(if b a (if d c e))}}]"},
        {"{{ x is divisibleby 3 }}", "[{{(is x divisibleby 3)}}]"},
        {"{{ x is divisibleby(3) }}", "[{{(is x divisibleby 3)}}]"},
        {"{{ x is not none }}", "[{{(is-not x none)}}]"},
        {"{{ x is sameas(1, y=2) }}", "[{{(is x sameas 1)}}]"},
        {"{{ x is odd == true }}", "[{{(== (is x odd) true)}}]"},
        {"{{ x is defined and y }}", "[{{(and (is x defined) y)}}]"},
        {"{{ x is string 'a' ~ 'b' }}", "[{{(is x string (~ 'a' 'b'))}}]"},
        {"{{ x[1:] }}", "[{{(slice x 1 _ _)}}]"},
        {"{{ x[:2] }}", "[{{(slice x _ 2 _)}}]"},
        {"{{ x[::2] }}", "[{{(slice x _ _ 2)}}]"},
        {"{{ x[:] }}", "[{{(slice x _ _ _)}}]"},
        {"{{ x[a][0] }}", "[{{(index (index x a) 0)}}]"},
        {"{{ loop.if.x }}", "[{{loop.if.x}}]"},
        {"{{ f(1, k=2, 3)(4) }}", "[{{(call (call f 1 3 k=2) 4)}}]"},
        {"{{ f(k=1, k=2) }}", "[{{(call f k=2)}}]"},
        {"{{ a | f [1] }}", "[{{(~ (| a f) [ 1 ])}}]"},
        {"{{ a | f(x) (y) }}", "[{{(~ (| a f x) y)}}]"},
        {"{{ a | f(x, n=2) | g }}", "[{{(| (| a f x n=2) g)}}]"},
        {"{{ (1) }}", "[{{1}}]"},
        {"{{ (1,) }}", "[{{(tuple 1)}}]"},
        {"{{ () }}", "[{{(tuple)}}]"},
        {"{{ (1, 2,) }}", "[{{(tuple 1 2)}}]"},
        {"{{ [1, 2,] }}", "[{{[ 1 2 ]}}]"},
        {"{{ [] }}", "[{{[ ]}}]"},
        {"{{ {'a': 1, a: 2} }}", "[{{{ 'a':2 }}}]"},
        {"{{ {1: 'x', 'b': y, c: [], } }}", "[{{{ 1:'x' 'b':y 'c':[ ] }}}]"},
        {"{{ {} }}", "[{{{ }}}]"},
        {"{{ *a.b }}", "[{{(* a).b}}]"},
        {"{{ f(*args) }}", "[{{(call f (* args))}}]"},
        {"{{ 1.5 }}{{ 1. }}{{ 007 }}", "[{{1.5}} {{1.0}} {{7}}]"},
        {"{{ true }}{{ False }}{{ none }}", "[{{true}} {{false}} {{none}}]"},
        {"{{ 9223372036854775807 }}", "[{{9223372036854775807}}]"},
        {"{{ - + - x }}", "[{{(- (+ (- x)))}}]"},
        {"{{ if }}{{ in.x }}", "[{{if}} {{in.x}}]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.text), c.tree) << c.text;
}

TEST(ParserTest, Statements) {
    const ParseCase cases[] = {
        {"a{{ x }}b{# c #}", "[\"a\" {{x}} \"b\" {# c #}]"},
        {"{% if a %}x{% elif b %}y{% else %}z{% endif %}",
         "[(if a [\"x\"] [(if b [\"y\"] [\"z\"])])]"},
        {"{% if a %}x{% elif b %}y{% elif c %}z{% endif %}",
         "[(if a [\"x\"] [(if b [\"y\"] [(if c [\"z\"] [])])])]"},
        {"{% if a %}{% endif %}", "[(if a [] [])]"},
        {"{% for k, v in d if v %}x{% else %}y{% endfor %}",
         "[(for (k,v) in d if v [\"x\"] [\"y\"])]"},
        {"{% for x in a or b if x %}{% endfor %}", "[(for x in (or a b) if x [] [])]"},
        {"{% for in in in %}{% break %}{% continue %}{% endfor %}",
         "[(for in in in [(break) (continue)] [])]"},
        {"{% set x = 1 %}", "[(set x = 1)]"},
        {"{% set a, b = 1, 2 %}", "[(set (tuple a b) = (tuple 1 2))]"},
        {"{% set ns.x = y | f %}", "[(set ns.x = (| y f))]"},
        {"{% set x %}a{{ b }}{% endset %}", "[(set x [\"a\" {{b}}])]"},
        {"{% macro m(a, b=1, c) %}x{% endmacro %}", "[(macro m (a b c) b=1 [\"x\"])]"},
        {"{% macro m(a=1, a=2) %}{% endmacro %}", "[(macro m (a a) a=2 [])]"},
        {"{% macro m() %}{% endmacro %}", "[(macro m () [])]"},
        {"{% call(x, y=1) m() %}b{% endcall %}", "[(callblock ( x ) (call m) [\"b\"])]"},
        {"{% call m() %}{% endcall %}", "[(callblock (call m) [])]"},
        {"{% call() m() %}{% endcall %}", "[(callblock ( ) (call m) [])]"},
        {"{% filter upper %}a{% endfilter %}", "[(filterblock upper [\"a\"])]"},
        {"{% filter indent(2) %}a{% endfilter %}", "[(filterblock (call indent 2) [\"a\"])]"},
        {"{% generation %}a{% endgeneration %}", "[(generation [\"a\"])]"},
        // Whitespace control joins what the markers leave.
        {"a  {{- x -}}  b", "[\"a\" {{x}} \"b\"]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.text), c.tree) << c.text;
}

TEST(ParserTest, ReportsErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"{{ x none }}", "Expected '}}' after expression.. Got null instead"},
        {"{{ a | f * 2 }}", "Expected '}}' after expression.. Got multiply instead"},
        {"{{ a not b }}", "Expected '}}' after expression.. Got not instead"},
        {"{{ x is in y }}", "Expected test name but found in."},
        {"{{ x[] }}", "Invalid subscript"},
        {"{{ x[::] }}", "Unexpected token for primary expression: closeBracket"},
        {"{{ {1.5: 'x'} }}", "Expected integer for numeric object key. Got 1.5 instead"},
        {"{{ {true: 1} }}",
         "Expected string literal, identifier, or integer for object key. Got boolean instead"},
        {"{{ {'a' 1} }}", "Expected ':' after object key.. Got number instead"},
        {"{{ {'a': 1 'b': 2} }}", "Expected '}' after object literal.. Got colon instead"},
        {"{{ f(1,) }}", "Unexpected token for primary expression: closeParen"},
        {"{{ a. }}", "Expected identifier but found closeExpression."},
        {"{{ }}", "Unexpected token for primary expression: closeExpression"},
        {"{{ x", "Expected '}}' after expression.. Got eof instead"},
        {"{{ (1 }}", "Expected ')' after expression.. Got closeExpression instead"},
        {"{{ (1, 2 }}", "Expected ')' after tuple.. Got closeExpression instead"},
        {"{{ [1 }}", "Expected ']' after array literal.. Got closeExpression instead"},
        {"{{ x[1 }}", "Expected ']' after index.. Got closeExpression instead"},
        {"{{ x | f(1 }}", "Expected ')' after filter arguments.. Got closeExpression instead"},
        {"{{ x is f(1 }}", "Expected ')' after test arguments.. Got closeExpression instead"},
        {"{% if a %}x", "Unclosed if statement"},
        {"{% for x in y %}", "Unclosed for loop"},
        {"{% for x y %}{% endfor %}", "Expected 'in' in for loop.. Got identifier instead"},
        {"{% for x, in y %}{% endfor %}", "Expected 'in' in for loop.. Got identifier instead"},
        {"{% set x %}abc", "Expected '{%' for endset.. Got eof instead"},
        {"{% if a %}{% else %}", "Expected '{%' for endif.. Got eof instead"},
        {"{% if a %}{% endfor %}", "Unknown statement: endfor"},
        {"{% if a %}{% else %}{% endfor %}", "Unknown statement: endfor"},
        {"{% if a %}{% else %}{% endif x %}", "Expected '%}' after endif.. Got identifier instead"},
        {"{% for x in y %}{% else %}{% endif %}", "Unknown statement: endif"},
        {"{% endif %}", "Unknown statement: endif"},
        {"{% foo 'x' %}", "Unknown statement: foo"},
        {"{% %}", "Unknown statement: %}"},
        {"{% macro m(a %}{% endmacro %}",
         "Expected ')' after macro parameters.. Got closeStatement instead"},
        {"{% macro m %}{% endmacro %}",
         "Expected '(' after macro name.. Got closeStatement instead"},
        {"{% call m() %}", "Expected '{%' for endcall.. Got eof instead"},
        {"{% filter f %}", "Expected '{%' for endfilter.. Got eof instead"},
        {"{% generation x %}", "Expected '%}' after generation statement.. Got identifier instead"},
        {"{% break x %}", "Expected '%}' after break.. Got identifier instead"},
        {"}}", "no error"},
        {"{{ x }}}}", "no error"},
        {"{{ x %}", "Expected '}}' after expression.. Got closeStatement instead"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(parseError(text), message) << text;
}

TEST(ParserTest, NumberLiteralsOutsideTheIntegerRangeAreErrors) {
    EXPECT_EQ(parseError("{{ 9223372036854775808 }}"),
              "Integer literal out of range: 9223372036854775808");
    EXPECT_EQ(parseError("{{ 99999999999999999999999 }}"),
              "Integer literal out of range: 99999999999999999999999");
    const std::string huge = "1" + std::string(400, '0') + ".5";
    EXPECT_EQ(parseError("{{ " + huge + " }}"), "Number literal out of range: " + huge);
    // Digits of other scripts lex as numbers but are no decimal literal.
    EXPECT_EQ(parseError("{{ \xD9\xA3 }}"), "Invalid number literal: \xD9\xA3");
}

TEST(ParserTest, DeepNestingFailsCleanly) {
    const std::string tooDeep = "Template nesting is too deep (more than 256 levels)";
    auto repeat = [](std::string_view s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    const int n = 20000;
    EXPECT_EQ(parseError("{{ " + repeat("(", n) + "x" + repeat(")", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ " + repeat("[", n) + repeat("]", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ " + repeat("{'a':", n) + "1" + repeat("}", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ " + repeat("-", n) + "x }}"), tooDeep);
    EXPECT_EQ(parseError("{{ " + repeat("not ", n) + "x }}"), tooDeep);
    EXPECT_EQ(parseError("{{ " + repeat("* ", n) + "x }}"), tooDeep);
    EXPECT_EQ(parseError("{{ x" + repeat("[x", n) + repeat("]", n) + " }}"), tooDeep);
    // Long operator chains nest the tree without nesting the parser.
    EXPECT_EQ(parseError("{{ x" + repeat(" + x", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ x" + repeat(" | f", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ x" + repeat(".a", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ x" + repeat("()", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError("{{ 'a'" + repeat(" 'a'", n) + " }}"), tooDeep);
    EXPECT_EQ(parseError(repeat("{% if x %}", n)), tooDeep);
    EXPECT_EQ(parseError("{% if x %}" + repeat("{% elif x %}", n) + "{% endif %}"), tooDeep);
    EXPECT_EQ(parseError(repeat("{% for x in y %}", n)), tooDeep);
    EXPECT_EQ(parseError("{{ 1 if x else " + repeat("1 if x else ", n) + "1 }}"), tooDeep);

    // Realistic depths stay well inside the bound.
    EXPECT_NO_THROW(
        Parser::parse(Lexer::tokenize("{{ " + repeat("(", 100) + "x" + repeat(")", 100) + " }}")));
    EXPECT_NO_THROW(Parser::parse(Lexer::tokenize("{{ x" + repeat(" ~ x", 200) + " }}")));
    EXPECT_NO_THROW(
        Parser::parse(Lexer::tokenize(repeat("{% if x %}", 100) + repeat("{% endif %}", 100))));
}

TEST(ParserTest, TreesCompareStructurally) {
    auto one = [](std::string_view text) { return Parser::parse(Lexer::tokenize(text)); };
    EXPECT_EQ(one("{{ f(x=1, y=2) }}"), one("{{ f(y=2, x=1) }}"));
    EXPECT_EQ(hashNodes(one("{{ f(x=1, y=2) }}")), hashNodes(one("{{ f(y=2, x=1) }}")));
    EXPECT_NE(one("{{ {'a': 1, 'b': 2} }}"), one("{{ {'b': 2, 'a': 1} }}"));
    EXPECT_NE(one("{{ (a, b) }}"), one("{{ [a, b] }}"));
    EXPECT_NE(one("{{ 1 }}"), one("{{ 1.0 }}"));
    EXPECT_EQ(one("{{ '\xC3\xA9' }}"), one("{{ 'e\xCC\x81' }}"));
    EXPECT_EQ(one("{% macro m(a, b=1) %}{{ a }}{% endmacro %}"),
              one("{%  macro m(a,b=1)%}{{a}}{%endmacro%}"));
    EXPECT_NE(one("{% macro m(a=1, b=2) %}{% endmacro %}"),
              one("{% macro m(b=2, a=1) %}{% endmacro %}"));
}

} // namespace
} // namespace jinja

namespace jinja {
namespace {

std::string codingError(std::string_view json) {
    try {
        Expression::fromJson(json);
    } catch (const CodingError& e) {
        return e.description();
    }
    return "no error";
}

TEST(ParserTest, TreesRoundTripThroughJson) {
    const char* templates[] = {
        "a{{ x.y[1:2:3] | f(1, k='v') ~ (1, 2.5, none) }}{# c #}",
        "{{ {'a': 1, 2: [true]} if not x is divisibleby 3 else -y ** *z }}{{ f(a)[b] }}",
        "{% for k, v in d if v %}{% break %}{% else %}{% continue %}{% endfor %}",
        "{% if a %}x{% elif b %}y{% endif %}{% set a, b = 1, 2 %}{% set c %}z{% endset %}",
        "{% macro m(a, b=1, c=[2]) %}{{ a }}{% endmacro %}{% call(x) m(1) %}{% endcall %}{% call "
        "m() %}{% endcall %}",
        "{% filter upper %}t{% endfilter %}{% generation %}g{% endgeneration %}{{ a is not sameas "
        "b or c not in d }}",
    };
    for (const char* text : templates) {
        NodeList nodes = Parser::parse(Lexer::tokenize(text));
        for (const Node& node : nodes)
            EXPECT_EQ(Node::fromJson(node.toJson()), node) << node.toJson();
    }
}

TEST(ParserTest, JsonFormOfTrees) {
    EXPECT_EQ(Expression(Expression::Null{}).toJson(), R"({"null":{}})");
    EXPECT_EQ(Statement(Statement::Break{}).toJson(), R"({"break":{}})");
    Expression ternary(Expression::Ternary{Expression(Expression::Integer{1}),
                                           Expression(Expression::Boolean{true}), std::nullopt});
    EXPECT_EQ(ternary.toJson(),
              R"({"ternary":{"_0":{"integer":{"_0":1}},"test":{"boolean":{"_0":true}}}})");
    EXPECT_FALSE(
        Expression::fromJson(ternary.toJson()).as<Expression::Ternary>().alternate.has_value());
    Expression notIn(Expression::Binary{Expression::BinaryOp::notIn,
                                        Expression(Expression::Identifier{"a"}),
                                        Expression(Expression::Identifier{"b"})});
    EXPECT_NE(notIn.toJson().find(R"("_0":"not in")"), std::string::npos);
    EXPECT_EQ(Expression::binaryOpFromRawValue("not in"), Expression::BinaryOp::notIn);
    EXPECT_EQ(Expression::binaryOpFromRawValue("<>"), std::nullopt);
    EXPECT_EQ(Expression::allBinaryOps().size(), 18u);
    EXPECT_EQ(Expression::allUnaryOps().size(), 4u);

    EXPECT_EQ(codingError(R"({"null":{},"string":{"_0":"x"}})"),
              "Invalid number of keys found, expected one.");
    EXPECT_EQ(codingError(R"({"other":{}})"), "Invalid number of keys found, expected one.");
    EXPECT_EQ(codingError(R"({"unary":{"_0":"<>","_1":{"null":{}}}})"),
              "Cannot initialize UnaryOp from invalid String value <>");
    EXPECT_EQ(codingError(R"({"string":{}})"), "No value associated with key \"_0\".");
    EXPECT_EQ(codingError(R"({"string":{"_0":1}})"),
              "Expected to decode string but found int instead.");
    EXPECT_EQ(codingError(R"({"object":{"_0":["a"]}})"),
              "Unkeyed container reached end before value in key-value pair.");
    EXPECT_EQ(codingError(R"({"object":{"_0":[true,{"null":{}}]}})"),
              "ObjectKey must be a string or integer");
    EXPECT_EQ(codingError(R"({"object":{"_0":["a",{"null":{}},"a",{"null":{}}]}})"),
              "Encountered duplicate key a.");
}

TEST(ParserTest, JsonFormOfTokens) {
    Token token(Token::Kind::text, "hi", 3);
    EXPECT_EQ(token.toJson(), R"({"kind":{"text":{}},"position":3,"value":"hi"})");
    EXPECT_EQ(Token::fromJson(token.toJson()), token);
    EXPECT_EQ(Token::fromJson(R"({"kind":{"eof":{},"extra":1},"value":"","position":0})").kind,
              Token::Kind::eof);
    try {
        Token::fromJson(R"({"kind":{"eof":{},"text":{}},"value":"","position":0})");
        FAIL();
    } catch (const CodingError& e) {
        EXPECT_EQ(e.description(), "Invalid number of keys found, expected one.");
    }
    EXPECT_THROW(Token::fromJson(R"({"kind":{"eof":1},"value":"","position":0})"), CodingError);
    EXPECT_THROW(Token::fromJson(R"({"kind":{"eof":{}},"value":""})"), CodingError);
}

} // namespace
} // namespace jinja
