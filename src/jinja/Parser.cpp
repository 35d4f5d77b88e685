#include "jinja/Parser.h"

#include "jinja/ExpressionFacts.h"
#include "jinja/JinjaError.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace jinja {

namespace {

using Kind = Token::Kind;
using E = Expression;
using S = Statement;

const std::string nestingMessage = "Template nesting is too deep (more than " +
                                   std::to_string(Parser::maxNestingDepth) + " levels)";

[[noreturn]] void fail(std::string message) {
    throw JinjaError::parser(std::move(message));
}

std::string kindText(Kind kind) {
    return std::string(Token::kindName(kind));
}

bool isNestingError(const JinjaError& error) {
    return error.message() == nestingMessage;
}

// Stores a keyword argument or macro default: a repeated name keeps its place
// and takes the later expression.
void upsert(ExpressionMap& map, const std::string& name, Expression value) {
    auto found = std::find_if(map.begin(), map.end(),
                              [&](const auto& entry) { return entry.first == name; });
    if (found != map.end())
        found->second = std::move(value);
    else
        map.emplace_back(name, std::move(value));
}

bool isAsciiDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::int64_t> readInteger(std::string_view text) {
    if (!isAsciiDigits(text)) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace

class Parser::DepthGuard {
public:
    explicit DepthGuard(Parser& parser) : parser_(parser) {
        if (++parser_.depth_ > maxNestingDepth) {
            --parser_.depth_;
            fail(nestingMessage);
        }
    }
    ~DepthGuard() { --parser_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    Parser& parser_;
};

NodeList Parser::parse(const std::vector<Token>& tokens) {
    // Paths of one template that read the same keys share a read identity,
    // so that the renderer can read them once where nothing runs between.
    ReadIdentities identities;
    return Parser(tokens).parseTemplate();
}

const Token& Parser::consume(Kind kind, const char* message) {
    const Token& token = peek();
    if (token.kind != kind || kind == Kind::eof)
        fail(std::string(message) + ". Got " + kindText(token.kind) + " instead");
    advance();
    return token;
}

std::string Parser::consumeIdentifier() {
    const Token& token = peek();
    if (!Token::allowedAsIdentifier(token.kind))
        fail("Expected identifier but found " + kindText(token.kind) + ".");
    advance();
    return token.value;
}

Expression Parser::checked(Expression expression) const {
    if (expression.depth() > maxNestingDepth) fail(nestingMessage);
    return expression;
}

// Nodes -----------------------------------------------------------------------

namespace {

// Appends a node; a text node directly after a text node joins it.
void appendNode(NodeList& nodes, Node node, bool dropEmptyText) {
    if (node.kind() == Node::Kind::text) {
        if (!nodes.empty() && nodes.back().kind() == Node::Kind::text) {
            nodes.back() = Node::text(nodes.back().text() + node.text());
            return;
        }
        if (dropEmptyText && node.text().empty()) return;
    }
    nodes.push_back(std::move(node));
}

} // namespace

NodeList Parser::parseTemplate() {
    NodeList nodes;
    nodes.reserve(tokens_.size() / 3);
    while (current_ < tokens_.size() && !check(Kind::eof))
        appendNode(nodes, parseNode(), true);
    return nodes;
}

Expression Parser::parseExpression() {
    return parseTernary();
}

Node Parser::parseNode() {
    const Token& token = peek();
    switch (token.kind) {
    case Kind::text:
        advance();
        return Node::text(token.value);
    case Kind::openExpression: {
        consume(Kind::openExpression, "Expected '{{'.");
        Expression expression = parseTernary();
        consume(Kind::closeExpression, "Expected '}}' after expression.");
        return Node(std::move(expression));
    }
    case Kind::openStatement:
        consume(Kind::openStatement, "Expected '{%'.");
        return Node(parseStatement());
    case Kind::comment:
        advance();
        return Node::comment(token.value);
    default:
        fail("Unexpected token type: " + kindText(token.kind));
    }
}

NodeList Parser::parseNodesUntil(std::initializer_list<Kind> stops) {
    DepthGuard guard(*this);
    NodeList nodes;
    while (current_ < tokens_.size()) {
        if (check(Kind::openStatement) &&
            std::find(stops.begin(), stops.end(), peek(1).kind) != stops.end())
            break;
        if (check(Kind::eof)) break;
        appendNode(nodes, parseNode(), false);
    }
    return nodes;
}

void Parser::consumeEndTag(const char* openMessage, Kind end, const char* endMessage,
                           const char* closeMessage) {
    consume(Kind::openStatement, openMessage);
    consume(end, endMessage);
    consume(Kind::closeStatement, closeMessage);
}

Statement Parser::parseStatement() {
    const Token& token = peek();
    switch (token.kind) {
    case Kind::if_:
        advance();
        return parseIfStatement();
    case Kind::for_:
        advance();
        return parseForStatement();
    case Kind::set:
        advance();
        return parseSetStatement();
    case Kind::macro:
        advance();
        return parseMacroStatement();
    case Kind::break_:
        advance();
        consume(Kind::closeStatement, "Expected '%}' after break.");
        return Statement(S::Break{});
    case Kind::continue_:
        advance();
        consume(Kind::closeStatement, "Expected '%}' after continue.");
        return Statement(S::Continue{});
    case Kind::call:
        advance();
        return parseCallStatement();
    case Kind::filter:
        advance();
        return parseFilterStatement();
    case Kind::generation:
        advance();
        return parseGenerationStatement();
    default:
        fail("Unknown statement: " + token.value);
    }
}

Statement Parser::parseIfStatement() {
    Expression test = parseTernary();
    consume(Kind::closeStatement, "Expected '%}' after if condition.");
    NodeList body = parseNodesUntil({Kind::elif, Kind::else_, Kind::endif});
    if (!check(Kind::openStatement)) fail("Unclosed if statement");
    advance();
    NodeList alternate;
    if (check(Kind::elif)) {
        advance();
        DepthGuard guard(*this);
        alternate.emplace_back(parseIfStatement());
    } else if (check(Kind::else_)) {
        advance();
        consume(Kind::closeStatement, "Expected '%}' after else.");
        alternate = parseNodesUntil({Kind::endif});
        consumeEndTag("Expected '{%' for endif.", Kind::endif, "Expected 'endif'.",
                      "Expected '%}' after endif.");
    } else {
        consume(Kind::endif, "Expected 'endif'.");
        consume(Kind::closeStatement, "Expected '%}' after endif.");
    }
    return Statement(S::If{std::move(test), std::move(body), std::move(alternate)});
}

Statement Parser::parseForStatement() {
    S::LoopVar loopVar;
    loopVar.names.push_back(consumeIdentifier());
    while (check(Kind::comma)) {
        advance();
        loopVar.names.push_back(consumeIdentifier());
    }
    loopVar.kind = loopVar.names.size() == 1 ? S::LoopVar::Kind::single : S::LoopVar::Kind::tuple;
    consume(Kind::in, "Expected 'in' in for loop.");
    Expression iterable = parseOr();
    std::optional<Expression> test;
    if (check(Kind::if_)) {
        advance();
        test = parseTernary();
    }
    consume(Kind::closeStatement, "Expected '%}' after for loop.");
    NodeList body = parseNodesUntil({Kind::else_, Kind::endfor});
    if (!check(Kind::openStatement)) fail("Unclosed for loop");
    advance();
    NodeList alternate;
    if (check(Kind::else_)) {
        advance();
        consume(Kind::closeStatement, "Expected '%}' after else.");
        alternate = parseNodesUntil({Kind::endfor});
        consume(Kind::openStatement, "Expected '{%' for endfor.");
    }
    consume(Kind::endfor, "Expected 'endfor'.");
    consume(Kind::closeStatement, "Expected '%}' after endfor.");
    return Statement(S::For{std::move(loopVar), std::move(iterable), std::move(body),
                            std::move(alternate), std::move(test)});
}

Statement Parser::parseSetStatement() {
    Expression target = parseExpressionSequence();
    if (check(Kind::equals)) {
        advance();
        Expression value = parseExpressionSequence();
        consume(Kind::closeStatement, "Expected '%}' after set statement.");
        return Statement(S::Set{std::move(target), std::move(value), {}});
    }
    consume(Kind::closeStatement, "Expected '%}' after set statement.");
    NodeList body = parseNodesUntil({Kind::endset});
    consumeEndTag("Expected '{%' for endset.", Kind::endset, "Expected 'endset'.",
                  "Expected '%}' after endset.");
    return Statement(S::Set{std::move(target), std::nullopt, std::move(body)});
}

Statement Parser::parseMacroStatement() {
    std::string name = consumeIdentifier();
    consume(Kind::openParen, "Expected '(' after macro name.");
    std::vector<std::string> parameters;
    ExpressionMap defaults;
    if (!check(Kind::closeParen)) {
        while (true) {
            std::string parameter = consumeIdentifier();
            parameters.push_back(parameter);
            if (check(Kind::equals)) {
                advance();
                upsert(defaults, parameter, parseTernary());
            }
            if (!check(Kind::comma)) break;
            advance();
        }
    }
    consume(Kind::closeParen, "Expected ')' after macro parameters.");
    consume(Kind::closeStatement, "Expected '%}' after macro definition.");
    NodeList body = parseNodesUntil({Kind::endmacro});
    consumeEndTag("Expected '{%' for endmacro.", Kind::endmacro, "Expected 'endmacro'.",
                  "Expected '%}' after endmacro.");
    return Statement(
        S::Macro{std::move(name), std::move(parameters), std::move(defaults), std::move(body)});
}

Statement Parser::parseCallStatement() {
    std::optional<ExpressionList> callerArgs;
    if (check(Kind::openParen)) {
        advance();
        ExpressionList args;
        ExpressionMap ignored;
        parseArguments(args, ignored);
        callerArgs = std::move(args);
        consume(Kind::closeParen, "Expected ')' after caller arguments.");
    }
    Expression callable = parseTernary();
    consume(Kind::closeStatement, "Expected '%}' after call statement.");
    NodeList body = parseNodesUntil({Kind::endcall});
    consumeEndTag("Expected '{%' for endcall.", Kind::endcall, "Expected 'endcall'.",
                  "Expected '%}' after endcall.");
    return Statement(S::Call{std::move(callable), std::move(callerArgs), std::move(body)});
}

Statement Parser::parseFilterStatement() {
    Expression filterExpr = parseTernary();
    consume(Kind::closeStatement, "Expected '%}' after filter statement.");
    NodeList body = parseNodesUntil({Kind::endfilter});
    consumeEndTag("Expected '{%' for endfilter.", Kind::endfilter, "Expected 'endfilter'.",
                  "Expected '%}' after endfilter.");
    return Statement(S::Filter{std::move(filterExpr), std::move(body)});
}

Statement Parser::parseGenerationStatement() {
    consume(Kind::closeStatement, "Expected '%}' after generation statement.");
    NodeList body = parseNodesUntil({Kind::endgeneration});
    consumeEndTag("Expected '{%' for endgeneration.", Kind::endgeneration,
                  "Expected 'endgeneration'.", "Expected '%}' after endgeneration.");
    return Statement(S::Generation{std::move(body)});
}

// Expressions -----------------------------------------------------------------

Expression Parser::parseExpressionSequence() {
    Expression first = parseTernary();
    if (!check(Kind::comma)) return first;
    ExpressionList elements{std::move(first)};
    while (check(Kind::comma)) {
        advance();
        elements.push_back(parseTernary());
    }
    return checked(Expression(E::Tuple{std::move(elements)}));
}

Expression Parser::parseTernary() {
    DepthGuard guard(*this);
    Expression value = parseOr();
    if (!check(Kind::if_)) return value;
    advance();
    Expression test = parseOr();
    std::optional<Expression> alternate;
    if (check(Kind::else_)) {
        advance();
        alternate = parseTernary();
    }
    return checked(Expression(E::Ternary{std::move(value), std::move(test), std::move(alternate)}));
}

Expression Parser::parseOr() {
    Expression left = parseAnd();
    while (check(Kind::or_)) {
        advance();
        Expression right = parseAnd();
        left = checked(Expression(E::Binary{E::BinaryOp::or_, std::move(left), std::move(right)}));
    }
    return left;
}

Expression Parser::parseAnd() {
    Expression left = parseNot();
    while (check(Kind::and_)) {
        advance();
        Expression right = parseNot();
        left = checked(Expression(E::Binary{E::BinaryOp::and_, std::move(left), std::move(right)}));
    }
    return left;
}

Expression Parser::parseNot() {
    if (!check(Kind::not_)) return parseComparison();
    DepthGuard guard(*this);
    advance();
    return checked(Expression(E::Unary{E::UnaryOp::not_, parseNot()}));
}

Expression Parser::parseComparison() {
    Expression left = parseTerm();
    while (true) {
        std::optional<E::BinaryOp> op;
        switch (peek().kind) {
        case Kind::equal:
            op = E::BinaryOp::equal;
            break;
        case Kind::notEqual:
            op = E::BinaryOp::notEqual;
            break;
        case Kind::less:
            op = E::BinaryOp::less;
            break;
        case Kind::lessEqual:
            op = E::BinaryOp::lessEqual;
            break;
        case Kind::greater:
            op = E::BinaryOp::greater;
            break;
        case Kind::greaterEqual:
            op = E::BinaryOp::greaterEqual;
            break;
        case Kind::in:
            op = E::BinaryOp::in;
            break;
        case Kind::not_:
            if (peek(1).kind != Kind::in) return left;
            advance();
            op = E::BinaryOp::notIn;
            break;
        case Kind::is: {
            advance();
            bool negated = false;
            if (check(Kind::not_)) {
                advance();
                negated = true;
            }
            std::string name;
            const Token& token = peek();
            if (token.kind == Kind::boolean || token.kind == Kind::null) {
                name = token.value;
                advance();
            } else if (token.kind == Kind::identifier) {
                name = consumeIdentifier();
            } else {
                fail("Expected test name but found " + kindText(token.kind) + ".");
            }
            ExpressionList args;
            switch (peek().kind) {
            case Kind::openParen: {
                advance();
                ExpressionMap ignored;
                parseArguments(args, ignored);
                consume(Kind::closeParen, "Expected ')' after test arguments.");
                break;
            }
            case Kind::string:
            case Kind::number:
            case Kind::boolean:
            case Kind::null:
            case Kind::identifier:
                args.push_back(parseConcat());
                break;
            default:
                break;
            }
            left = checked(
                Expression(E::Test{std::move(left), std::move(name), std::move(args), negated}));
            continue;
        }
        default:
            return left;
        }
        advance();
        Expression right = parseTerm();
        left = checked(Expression(E::Binary{*op, std::move(left), std::move(right)}));
    }
}

Expression Parser::parseTerm() {
    Expression left = parseConcat();
    while (check(Kind::plus) || check(Kind::minus)) {
        E::BinaryOp op = check(Kind::plus) ? E::BinaryOp::add : E::BinaryOp::subtract;
        advance();
        Expression right = parseConcat();
        left = checked(Expression(E::Binary{op, std::move(left), std::move(right)}));
    }
    return left;
}

Expression Parser::parseConcat() {
    Expression left = parseFilter();
    while (true) {
        if (check(Kind::concat))
            advance();
        else if (!Token::primaryExpressionStarter(peek().kind))
            return left;
        Expression right = parseFilter();
        left =
            checked(Expression(E::Binary{E::BinaryOp::concat, std::move(left), std::move(right)}));
    }
}

Expression Parser::parseFilter() {
    Expression left = parseFactor();
    while (check(Kind::pipe)) {
        advance();
        std::string name = consumeIdentifier();
        ExpressionList args;
        ExpressionMap kwargs;
        if (check(Kind::openParen)) {
            advance();
            parseArguments(args, kwargs);
            consume(Kind::closeParen, "Expected ')' after filter arguments.");
        }
        left = checked(Expression(
            E::Filter{std::move(left), std::move(name), std::move(args), std::move(kwargs)}));
    }
    return left;
}

Expression Parser::parseFactor() {
    Expression left = parseExponent();
    while (true) {
        E::BinaryOp op;
        switch (peek().kind) {
        case Kind::multiply:
            op = E::BinaryOp::multiply;
            break;
        case Kind::divide:
            op = E::BinaryOp::divide;
            break;
        case Kind::floorDivide:
            op = E::BinaryOp::floorDivide;
            break;
        case Kind::modulo:
            op = E::BinaryOp::modulo;
            break;
        default:
            return left;
        }
        advance();
        Expression right = parseExponent();
        left = checked(Expression(E::Binary{op, std::move(left), std::move(right)}));
    }
}

Expression Parser::parseExponent() {
    Expression left = parseUnary();
    while (check(Kind::power)) {
        advance();
        Expression right = parseUnary();
        left =
            checked(Expression(E::Binary{E::BinaryOp::power, std::move(left), std::move(right)}));
    }
    return left;
}

Expression Parser::parseUnary() {
    if (!check(Kind::minus) && !check(Kind::plus)) return parseAccess();
    DepthGuard guard(*this);
    E::UnaryOp op = check(Kind::minus) ? E::UnaryOp::minus : E::UnaryOp::plus;
    advance();
    return checked(Expression(E::Unary{op, parseUnary()}));
}

Expression Parser::parseAccess() {
    Expression left = parsePrimary();
    while (true) {
        switch (peek().kind) {
        case Kind::openParen: {
            advance();
            ExpressionList args;
            ExpressionMap kwargs;
            parseArguments(args, kwargs);
            consume(Kind::closeParen, "Expected ')' after arguments.");
            left =
                checked(Expression(E::Call{std::move(left), std::move(args), std::move(kwargs)}));
            break;
        }
        case Kind::openBracket: {
            advance();
            // A bound that fails to parse is left out; the tokens it took stay taken.
            auto optionalBound = [this]() -> std::optional<Expression> {
                // The common empty bound fails at once, without taking a token.
                if (check(Kind::colon) || check(Kind::closeBracket)) return std::nullopt;
                try {
                    return parseTernary();
                } catch (const JinjaError& error) {
                    if (isNestingError(error)) throw;
                    return std::nullopt;
                }
            };
            std::optional<Expression> start = optionalBound();
            if (check(Kind::colon)) {
                advance();
                std::optional<Expression> stop = optionalBound();
                std::optional<Expression> step;
                if (check(Kind::colon)) {
                    advance();
                    step = parseTernary();
                }
                left = checked(Expression(
                    E::Slice{std::move(left), std::move(start), std::move(stop), std::move(step)}));
            } else {
                if (!start) fail("Invalid subscript");
                left = checked(Expression(E::Member{std::move(left), std::move(*start), true}));
            }
            consume(Kind::closeBracket, "Expected ']' after index.");
            break;
        }
        case Kind::dot: {
            advance();
            std::string name = consumeIdentifier();
            left = checked(Expression(
                E::Member{std::move(left), Expression(E::Identifier{std::move(name)}), false}));
            break;
        }
        default:
            return left;
        }
    }
}

Expression Parser::parsePrimary() {
    const Token& token = peek();
    switch (token.kind) {
    case Kind::string:
        advance();
        return Expression(E::String{token.value});
    case Kind::number: {
        advance();
        const std::string& text = token.value;
        if (text.find('.') != std::string::npos) {
            bool plain = std::all_of(text.begin(), text.end(),
                                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
            double value = 0.0;
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (plain && error == std::errc::result_out_of_range)
                fail("Number literal out of range: " + text);
            if (!plain || error != std::errc() || end != text.data() + text.size())
                fail("Invalid number literal: " + text);
            return Expression(E::Number{value});
        }
        if (!isAsciiDigits(text)) fail("Invalid number literal: " + text);
        std::optional<std::int64_t> value = readInteger(text);
        if (!value) fail("Integer literal out of range: " + text);
        return Expression(E::Integer{*value});
    }
    case Kind::boolean:
        advance();
        return Expression(E::Boolean{token.value == "true" || token.value == "True"});
    case Kind::null:
        advance();
        return Expression(E::Null{});
    case Kind::identifier:
    case Kind::and_:
    case Kind::or_:
    case Kind::not_:
    case Kind::in:
    case Kind::is:
    case Kind::if_:
    case Kind::else_:
    case Kind::for_:
    case Kind::set:
    case Kind::break_:
    case Kind::continue_:
        advance();
        return Expression(E::Identifier{token.value});
    case Kind::openParen: {
        advance();
        if (check(Kind::closeParen)) {
            advance();
            return Expression(E::Tuple{});
        }
        Expression first = parseTernary();
        if (!check(Kind::comma)) {
            consume(Kind::closeParen, "Expected ')' after expression.");
            return first;
        }
        advance();
        ExpressionList elements{std::move(first)};
        while (!check(Kind::closeParen)) {
            elements.push_back(parseTernary());
            if (!check(Kind::comma)) break;
            advance();
        }
        consume(Kind::closeParen, "Expected ')' after tuple.");
        return checked(Expression(E::Tuple{std::move(elements)}));
    }
    case Kind::openBracket: {
        advance();
        ExpressionList elements;
        while (!check(Kind::closeBracket)) {
            elements.push_back(parseTernary());
            if (!check(Kind::comma)) break;
            advance();
        }
        consume(Kind::closeBracket, "Expected ']' after array literal.");
        return checked(Expression(E::Array{std::move(elements)}));
    }
    case Kind::openBrace: {
        advance();
        E::Object object;
        std::unordered_map<ObjectKey, std::size_t, ObjectKeyHash, ObjectKeyEqual> positions;
        while (!check(Kind::closeBrace)) {
            ObjectKey key;
            const Token& keyToken = peek();
            switch (keyToken.kind) {
            case Kind::string:
                key = ObjectKey(
                    consume(Kind::string, "Expected string literal for object key.").value);
                break;
            case Kind::identifier:
                key = ObjectKey(
                    consume(Kind::identifier, "Expected identifier for object key.").value);
                break;
            case Kind::number: {
                const std::string& text =
                    consume(Kind::number, "Expected number for object key.").value;
                std::optional<std::int64_t> number = readInteger(text);
                if (!number)
                    fail("Expected integer for numeric object key. Got " + text + " instead");
                key = ObjectKey(*number);
                break;
            }
            default:
                fail("Expected string literal, identifier, or integer for object key. Got " +
                     kindText(keyToken.kind) + " instead");
            }
            consume(Kind::colon, "Expected ':' after object key.");
            Expression value = parseTernary();
            auto [found, inserted] = positions.try_emplace(key, object.entries.size());
            if (inserted)
                object.entries.emplace_back(std::move(key), std::move(value));
            else
                object.entries[found->second].second = std::move(value);
            if (!check(Kind::comma)) break;
            advance();
        }
        consume(Kind::closeBrace, "Expected '}' after object literal.");
        return checked(Expression(std::move(object)));
    }
    case Kind::multiply: {
        DepthGuard guard(*this);
        advance();
        return checked(Expression(E::Unary{E::UnaryOp::splat, parsePrimary()}));
    }
    default:
        fail("Unexpected token for primary expression: " + kindText(token.kind));
    }
}

void Parser::parseArguments(ExpressionList& args, ExpressionMap& kwargs) {
    if (check(Kind::closeParen)) return;
    while (true) {
        if (check(Kind::identifier) && peek(1).kind == Kind::equals) {
            std::string name = peek().value;
            advance();
            advance();
            upsert(kwargs, name, parseTernary());
        } else {
            args.push_back(parseTernary());
        }
        if (!check(Kind::comma)) return;
        advance();
    }
}

} // namespace jinja
