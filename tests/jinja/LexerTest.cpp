#include "jinja/Lexer.h"

#include "jinja/JinjaError.h"

#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace jinja {
namespace {

// Tokens in a compact form: kind, the text in quotes when not empty, and the position.
std::string compact(const std::vector<Token>& tokens) {
    std::string out;
    for (const Token& token : tokens) {
        if (!out.empty()) out += ' ';
        out += Token::kindName(token.kind);
        if (!token.value.empty()) {
            out += '\'';
            out += token.value;
            out += '\'';
        }
        out += '@';
        out += std::to_string(token.position);
    }
    return out;
}

std::string lex(std::string_view text) {
    return compact(Lexer::tokenize(text));
}

struct LexCase {
    const char* text;
    const char* tokens;
};

TEST(LexerTest, TokenizesTemplates) {
    const LexCase cases[] = {
        {"", "eof@0"},
        {"Hello {{ x }}!", "text'Hello '@0 openExpression'{{'@6 identifier'x'@9 "
                           "closeExpression'}}'@11 text'!'@13 eof@14"},
        // Whitespace inside tags makes no tokens; outside it stays text.
        {"  {%if  a%} ", "text'  '@0 openStatement'{%'@2 if'if'@4 identifier'a'@8 "
                         "closeStatement'%}'@9 text' '@11 eof@12"},
        {"{{ {'a': {'b': 1}} }}",
         "openExpression'{{'@0 openBrace'{'@3 string'a'@4 colon':'@7 openBrace'{'@9 string'b'@10 "
         "colon':'@13 "
         "number'1'@15 closeBrace'}'@16 closeBrace'}'@17 closeExpression'}}'@19 eof@21"},
        // A stray "}" drives the depth below zero, so "}}" is two braces.
        {"{{ } }} %}", "openExpression'{{'@0 closeBrace'}'@3 closeBrace'}'@5 closeBrace'}'@6 "
                       "closeStatement'%}'@8 eof@10"},
        {"a { b {x", "text'a { b {x'@0 eof@8"},
        {"}} %} {", "text'}} %} {'@0 eof@7"},
        // Delimiters are not paired; a new opening tag resets the tag state.
        {"{% x }}y", "openStatement'{%'@0 identifier'x'@3 closeExpression'}}'@5 text'y'@7 eof@8"},
        {"{{ '}}' }}", "openExpression'{{'@0 string'}}'@3 closeExpression'}}'@8 eof@10"},
        {"{{ True true TRUE none None null }}",
         "openExpression'{{'@0 boolean'True'@3 boolean'true'@8 identifier'TRUE'@13 null'none'@18 "
         "null'None'@23 "
         "null'null'@28 closeExpression'}}'@33 eof@35"},
        {"{{ not in notIn }}", "openExpression'{{'@0 not'not'@3 in'in'@7 identifier'notIn'@10 "
                               "closeExpression'}}'@16 eof@18"},
        {"{{ a//b**c/=d }}",
         "openExpression'{{'@0 identifier'a'@3 floorDivide'//'@4 identifier'b'@6 power'**'@7 "
         "identifier'c'@9 "
         "divide'/'@10 equals'='@11 identifier'd'@12 closeExpression'}}'@14 eof@16"},
        {"{{ a==b!=c<=d>=e<f>g~h|i%j }}",
         "openExpression'{{'@0 identifier'a'@3 equal'=='@4 identifier'b'@6 notEqual'!='@7 "
         "identifier'c'@9 "
         "lessEqual'<='@10 identifier'd'@12 greaterEqual'>='@13 identifier'e'@15 less'<'@16 "
         "identifier'f'@17 "
         "greater'>'@18 identifier'g'@19 concat'~'@20 identifier'h'@21 pipe'|'@22 identifier'i'@23 "
         "modulo'%'@24 "
         "identifier'j'@25 closeExpression'}}'@27 eof@29"},
        {"{{ 1.5.x 1. 1.2.3 -4 }}",
         "openExpression'{{'@0 number'1.5'@3 dot'.'@6 identifier'x'@7 number'1.'@9 number'1.2'@12 "
         "dot'.'@15 "
         "number'3'@16 minus'-'@18 number'4'@19 closeExpression'}}'@21 eof@23"},
        {"{{ _a1 é2 }}",
         "openExpression'{{'@0 identifier'_a1'@3 identifier'é2'@7 closeExpression'}}'@10 eof@12"},
        // A letter with a combining accent is one character.
        {"e\xCC\x81{{x}}",
         "text'e\xCC\x81'@0 openExpression'{{'@1 identifier'x'@3 closeExpression'}}'@4 eof@6"},
        {"a\r\n{{x}}",
         "text'a\r\n'@0 openExpression'{{'@2 identifier'x'@4 closeExpression'}}'@5 eof@7"},
        {"a{# c #}b{##}", "text'a'@0 comment' c '@1 text'b'@8 comment@9 eof@13"},
        {"{% generation %}{% endgeneration %}",
         "openStatement'{%'@0 generation'generation'@3 closeStatement'%}'@14 openStatement'{%'@16 "
         "endgeneration'endgeneration'@19 closeStatement'%}'@33 eof@35"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lex(c.text), c.tokens) << c.text;
}

TEST(LexerTest, ReadsStringEscapes) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({{ 'it\'s' }})", "it's"}, {R"({{ 'say "hi"' }})", "say \"hi\""},
        {R"({{ "it's" }})", "it's"},  {R"({{ '\n\t\r\b\f\v\\\q' }})", "\n\t\r\b\f\v\\q"},
        {R"({{ '\"' }})", "\""},
    };
    for (const auto& [text, content] : cases) {
        auto tokens = Lexer::tokenize(text);
        ASSERT_EQ(tokens[1].kind, Token::Kind::string) << text;
        EXPECT_EQ(tokens[1].value, content) << text;
    }
    // A quote followed by a combining mark is not a quote.
    auto tokens = Lexer::tokenize("{{ 'a'\xCC\x81' }}");
    EXPECT_EQ(tokens[1].value, "a'\xCC\x81");
}

TEST(LexerTest, AppliesWhitespaceControl) {
    const std::pair<const char*, const char*> cases[] = {
        {"a  {{- x -}}  b", "a{{ x }}b"},
        {"a \n {%- if x -%} \n b", "a{% if x %}b"},
        // A brace before the tag keeps one space so it cannot pair with the tag.
        {"{ \n{%- x %}", "{ {% x %}"},
        {"{{- x }}", "{{ x }}"},
        {"{%- x %}", "{% x %}"},
        // Whitespace at the very start goes entirely.
        {"  \n{%- x %}", "{% x %}"},
        {" \t{{- x }}", "{{ x }}"},
        {"x\n\n{#- c #}", "x\n\n{#- c #}"},
        {"'-%}  '", "'%}'"},
    };
    for (const auto& [text, rewritten] : cases)
        EXPECT_EQ(Lexer::preprocess(text), rewritten) << text;
}

// The rewrite as eight regular-expression replacements, for ASCII text; the
// rule for whitespace at the very start runs before the general rule.
std::string referencePreprocess(std::string text) {
    const std::pair<const char*, const char*> rules[] = {
        {R"(-%\}\s*)", "%}"},   {R"(-\}\}\s*)", "}}"},          {R"(\{\s+\{%-)", "{ {%"},
        {R"(^\s*\{%-)", "{%"},  {R"(([^\{])\s*\{%-)", "$1{%"},  {R"(\{\s+\{\{-)", "{ {{"},
        {R"(^\s*\{\{-)", "{{"}, {R"(([^\{])\s*\{\{-)", "$1{{"},
    };
    static const std::vector<std::pair<std::regex, std::string>> compiled = [&] {
        std::vector<std::pair<std::regex, std::string>> out;
        for (const auto& [pattern, replacement] : rules)
            out.emplace_back(std::regex(pattern), replacement);
        return out;
    }();
    for (const auto& [pattern, replacement] : compiled)
        text = std::regex_replace(text, pattern, replacement);
    return text;
}

TEST(LexerTest, WhitespaceControlMatchesRegularExpressions) {
    const char alphabet[] = {'{', '{', '%', '-', '-', '}', ' ', '\n', 'a'};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        std::size_t length = random() % 14;
        for (std::size_t i = 0; i < length; ++i)
            text += alphabet[random() % sizeof alphabet];
        EXPECT_EQ(Lexer::preprocess(text), referencePreprocess(text)) << text;
    }
}

TEST(LexerTest, ReportsErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"{{ a!b }}", "Lexer error: Unexpected character '!' at position 4"},
        {"{% ! %}", "Lexer error: Unexpected character '!' at position 3"},
        {"{{ a ? b }}", "Lexer error: Unexpected character '?' at position 5"},
        {"{{ # }}", "Lexer error: Unexpected character '#' at position 3"},
        {"{{ 'abc }}", "Lexer error: Unclosed string at position 3"},
        {"{{ 'abc\\", "Lexer error: Unclosed string at position 3"},
        {"ab{# c", "Lexer error: Unclosed comment at position 2"},
        {"ab{#", "Lexer error: Unclosed comment at position 2"},
        {"é{{ ! }}", "Lexer error: Unexpected character '!' at position 4"},
    };
    for (const auto& [text, message] : cases) {
        try {
            Lexer::tokenize(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const JinjaError& error) {
            EXPECT_EQ(error.kind(), JinjaError::Kind::lexer);
            EXPECT_STREQ(error.what(), message) << text;
        }
    }
}

TEST(LexerTest, TokenEqualityUsesCanonicalEquivalence) {
    Token composed(Token::Kind::string, "\xC3\xA9", 3);
    Token decomposed(Token::Kind::string, "e\xCC\x81", 3);
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ(composed.hash(), decomposed.hash());
    EXPECT_NE(composed, Token(Token::Kind::string, "\xC3\xA9", 4));
    EXPECT_NE(composed, Token(Token::Kind::identifier, "\xC3\xA9", 3));
    EXPECT_EQ(Token::allKinds().size(), 61u);
    EXPECT_EQ(Token::kindName(Token::Kind::notIn), "notIn");
    EXPECT_EQ(Token::kindFromName("endgeneration"), Token::Kind::endgeneration);
}

} // namespace
} // namespace jinja
