#pragma once

#include "jinja/Ast.h"
#include "jinja/Token.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace jinja {

// Recursive-descent parser from tokens to the syntax tree.
class Parser {
public:
    // Deepest nesting of expressions and of statement bodies that a template
    // may have; deeper input fails with a parser error instead of exhausting
    // the stack while compiling or rendering.
    static constexpr std::size_t maxNestingDepth = 256;

    // The nodes of a token list that ends with eof. Throws JinjaError (parser).
    static NodeList parse(const std::vector<Token>& tokens);

    explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

    NodeList parseTemplate();
    // One expression (the loosest level), for callers that hold tokens of an expression.
    Expression parseExpression();

private:
    // The token `ahead` places after the current one; past the end an eof token.
    const Token& peek(std::size_t ahead = 0) const noexcept {
        std::size_t index = current_ + ahead;
        return index < tokens_.size() ? tokens_[index] : end_;
    }
    bool check(Token::Kind kind) const noexcept { return peek().kind == kind; }
    void advance() noexcept { ++current_; }
    const Token& consume(Token::Kind kind, const char* message);
    std::string consumeIdentifier();

    Node parseNode();
    Statement parseStatement();
    NodeList parseNodesUntil(std::initializer_list<Token::Kind> stops);
    Statement parseIfStatement();
    Statement parseForStatement();
    Statement parseSetStatement();
    Statement parseMacroStatement();
    Statement parseCallStatement();
    Statement parseFilterStatement();
    Statement parseGenerationStatement();
    void consumeEndTag(const char* openMessage, Token::Kind end, const char* endMessage,
                       const char* closeMessage);

    Expression parseExpressionSequence();
    Expression parseTernary();
    Expression parseOr();
    Expression parseAnd();
    Expression parseNot();
    Expression parseComparison();
    Expression parseTerm();
    Expression parseConcat();
    Expression parseFilter();
    Expression parseFactor();
    Expression parseExponent();
    Expression parseUnary();
    Expression parseAccess();
    Expression parsePrimary();
    void parseArguments(ExpressionList& args, ExpressionMap& kwargs);
    Expression checked(Expression expression) const;

    class DepthGuard;

    const std::vector<Token>& tokens_;
    const Token end_{Token::Kind::eof, "", 0};
    std::size_t current_ = 0;
    std::size_t depth_ = 0;
};

} // namespace jinja
