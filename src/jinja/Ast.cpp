#include "jinja/Ast.h"

#include "jinja/ExpressionFacts.h"
#include "jinja/Hasher.h"
#include "jinja/Unicode.h"

#include <algorithm>
#include <bit>
#include <functional>

namespace jinja {

namespace {

std::uint32_t depthOf(const Expression& e) {
    return e.depth();
}
std::uint32_t depthOf(const std::optional<Expression>& e) {
    return e ? e->depth() : 0;
}
std::uint32_t depthOf(const ExpressionList& list) {
    std::uint32_t deepest = 0;
    for (const auto& e : list)
        deepest = std::max(deepest, e.depth());
    return deepest;
}
std::uint32_t depthOf(const ExpressionMap& map) {
    std::uint32_t deepest = 0;
    for (const auto& [name, e] : map)
        deepest = std::max(deepest, e.depth());
    return deepest;
}

std::uint32_t childDepth(const Expression::String&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Number&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Integer&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Boolean&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Null&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Identifier&) {
    return 0;
}
std::uint32_t childDepth(const Expression::Array& p) {
    return depthOf(p.elements);
}
std::uint32_t childDepth(const Expression::Tuple& p) {
    return depthOf(p.elements);
}
std::uint32_t childDepth(const Expression::Object& p) {
    std::uint32_t deepest = 0;
    for (const auto& [key, e] : p.entries)
        deepest = std::max(deepest, e.depth());
    return deepest;
}
std::uint32_t childDepth(const Expression::Unary& p) {
    return depthOf(p.operand);
}
std::uint32_t childDepth(const Expression::Binary& p) {
    return std::max(depthOf(p.left), depthOf(p.right));
}
std::uint32_t childDepth(const Expression::Ternary& p) {
    return std::max({depthOf(p.value), depthOf(p.test), depthOf(p.alternate)});
}
std::uint32_t childDepth(const Expression::Call& p) {
    return std::max({depthOf(p.callee), depthOf(p.args), depthOf(p.kwargs)});
}
std::uint32_t childDepth(const Expression::Member& p) {
    return std::max(depthOf(p.object), depthOf(p.member));
}
std::uint32_t childDepth(const Expression::Slice& p) {
    return std::max({depthOf(p.object), depthOf(p.start), depthOf(p.stop), depthOf(p.step)});
}
std::uint32_t childDepth(const Expression::Filter& p) {
    return std::max({depthOf(p.operand), depthOf(p.args), depthOf(p.kwargs)});
}
std::uint32_t childDepth(const Expression::Test& p) {
    return std::max(depthOf(p.operand), depthOf(p.args));
}

template <class Payload> std::shared_ptr<const Expression::Data> makeExpression(Payload&& payload) {
    std::uint32_t depth = childDepth(payload) + 1;
    // Facts are computed where the node will live: they may point into it.
    auto data = std::make_shared<Expression::Data>(
        Expression::Data{std::forward<Payload>(payload), depth, {}});
    computeFacts(*data);
    return data;
}

bool stringsEqual(const std::string& a, const std::string& b) {
    return unicode::canonicallyEqual(a, b);
}

bool optionalsEqual(const std::optional<Expression>& a, const std::optional<Expression>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || *a == *b;
}

bool listsEqual(const ExpressionList& a, const ExpressionList& b) {
    return a == b;
}

bool orderedMapsEqual(const ExpressionMap& a, const ExpressionMap& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!stringsEqual(a[i].first, b[i].first) || !(a[i].second == b[i].second)) return false;
    return true;
}

// Keyword maps compare as sets of pairs; names are unique in each.
bool keywordMapsEqual(const ExpressionMap& a, const ExpressionMap& b) {
    if (a.size() != b.size()) return false;
    for (const auto& entry : a) {
        auto match = std::find_if(b.begin(), b.end(), [&](const auto& other) {
            return stringsEqual(other.first, entry.first);
        });
        if (match == b.end() || !(match->second == entry.second)) return false;
    }
    return true;
}

void feedString(Hasher& h, const std::string& s) {
    h.feed(unicode::canonicalHash(s));
}
void feedOptional(Hasher& h, const std::optional<Expression>& e) {
    h.feed(e.has_value());
    if (e) h.feed(e->hash());
}
void feedList(Hasher& h, const ExpressionList& list) {
    h.feed(list.size());
    for (const auto& e : list)
        h.feed(e.hash());
}
void feedOrderedMap(Hasher& h, const ExpressionMap& map) {
    h.feed(map.size());
    for (const auto& [name, e] : map) {
        feedString(h, name);
        h.feed(e.hash());
    }
}
void feedKeywordMap(Hasher& h, const ExpressionMap& map) {
    // Order-independent: a sum of per-entry hashes.
    std::size_t sum = 0;
    for (const auto& [name, e] : map) {
        Hasher entry;
        feedString(entry, name);
        entry.feed(e.hash());
        sum += entry.state;
    }
    h.feed(map.size());
    h.feed(sum);
}
void feedNodes(Hasher& h, const NodeList& nodes) {
    h.feed(nodes.size());
    for (const auto& n : nodes)
        h.feed(n.hash());
}
std::size_t doubleHash(double d) {
    if (d == 0.0) return 0;
    return std::hash<std::uint64_t>{}(std::bit_cast<std::uint64_t>(d));
}

} // namespace

Expression::Expression() : data_(makeExpression(Null{})) {}
Expression::Expression(String payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Number payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Integer payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Boolean payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Null payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Array payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Tuple payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Object payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Identifier payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Unary payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Binary payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Ternary payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Call payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Member payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Slice payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Filter payload) : data_(makeExpression(std::move(payload))) {}
Expression::Expression(Test payload) : data_(makeExpression(std::move(payload))) {}

bool operator==(const Expression& a, const Expression& b) noexcept {
    if (a.kind() != b.kind()) return false;
    using E = Expression;
    switch (a.kind()) {
    case E::Kind::string:
        return stringsEqual(a.as<E::String>().value, b.as<E::String>().value);
    case E::Kind::number:
        return a.as<E::Number>().value == b.as<E::Number>().value;
    case E::Kind::integer:
        return a.as<E::Integer>().value == b.as<E::Integer>().value;
    case E::Kind::boolean:
        return a.as<E::Boolean>().value == b.as<E::Boolean>().value;
    case E::Kind::null:
        return true;
    case E::Kind::array:
        return listsEqual(a.as<E::Array>().elements, b.as<E::Array>().elements);
    case E::Kind::tuple:
        return listsEqual(a.as<E::Tuple>().elements, b.as<E::Tuple>().elements);
    case E::Kind::object: {
        const auto& x = a.as<E::Object>().entries;
        const auto& y = b.as<E::Object>().entries;
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!(x[i].first == y[i].first) || !(x[i].second == y[i].second)) return false;
        return true;
    }
    case E::Kind::identifier:
        return stringsEqual(a.as<E::Identifier>().name, b.as<E::Identifier>().name);
    case E::Kind::unary: {
        const auto& x = a.as<E::Unary>();
        const auto& y = b.as<E::Unary>();
        return x.op == y.op && x.operand == y.operand;
    }
    case E::Kind::binary: {
        const auto& x = a.as<E::Binary>();
        const auto& y = b.as<E::Binary>();
        return x.op == y.op && x.left == y.left && x.right == y.right;
    }
    case E::Kind::ternary: {
        const auto& x = a.as<E::Ternary>();
        const auto& y = b.as<E::Ternary>();
        return x.value == y.value && x.test == y.test && optionalsEqual(x.alternate, y.alternate);
    }
    case E::Kind::call: {
        const auto& x = a.as<E::Call>();
        const auto& y = b.as<E::Call>();
        return x.callee == y.callee && listsEqual(x.args, y.args) &&
               keywordMapsEqual(x.kwargs, y.kwargs);
    }
    case E::Kind::member: {
        const auto& x = a.as<E::Member>();
        const auto& y = b.as<E::Member>();
        return x.object == y.object && x.member == y.member && x.computed == y.computed;
    }
    case E::Kind::slice: {
        const auto& x = a.as<E::Slice>();
        const auto& y = b.as<E::Slice>();
        return x.object == y.object && optionalsEqual(x.start, y.start) &&
               optionalsEqual(x.stop, y.stop) && optionalsEqual(x.step, y.step);
    }
    case E::Kind::filter: {
        const auto& x = a.as<E::Filter>();
        const auto& y = b.as<E::Filter>();
        return x.operand == y.operand && stringsEqual(x.name, y.name) &&
               listsEqual(x.args, y.args) && keywordMapsEqual(x.kwargs, y.kwargs);
    }
    case E::Kind::test: {
        const auto& x = a.as<E::Test>();
        const auto& y = b.as<E::Test>();
        return x.operand == y.operand && stringsEqual(x.name, y.name) &&
               listsEqual(x.args, y.args) && x.negated == y.negated;
    }
    }
    return false;
}

std::size_t Expression::hash() const noexcept {
    Hasher h;
    h.feed(static_cast<std::size_t>(kind()));
    switch (kind()) {
    case Kind::string:
        feedString(h, as<String>().value);
        break;
    case Kind::number:
        h.feed(doubleHash(as<Number>().value));
        break;
    case Kind::integer:
        h.feed(std::hash<std::int64_t>{}(as<Integer>().value));
        break;
    case Kind::boolean:
        h.feed(as<Boolean>().value);
        break;
    case Kind::null:
        break;
    case Kind::array:
        feedList(h, as<Array>().elements);
        break;
    case Kind::tuple:
        feedList(h, as<Tuple>().elements);
        break;
    case Kind::object: {
        const auto& entries = as<Object>().entries;
        h.feed(entries.size());
        for (const auto& [key, e] : entries) {
            h.feed(key.hash());
            h.feed(e.hash());
        }
        break;
    }
    case Kind::identifier:
        feedString(h, as<Identifier>().name);
        break;
    case Kind::unary: {
        const auto& p = as<Unary>();
        h.feed(static_cast<std::size_t>(p.op));
        h.feed(p.operand.hash());
        break;
    }
    case Kind::binary: {
        const auto& p = as<Binary>();
        h.feed(static_cast<std::size_t>(p.op));
        h.feed(p.left.hash());
        h.feed(p.right.hash());
        break;
    }
    case Kind::ternary: {
        const auto& p = as<Ternary>();
        h.feed(p.value.hash());
        h.feed(p.test.hash());
        feedOptional(h, p.alternate);
        break;
    }
    case Kind::call: {
        const auto& p = as<Call>();
        h.feed(p.callee.hash());
        feedList(h, p.args);
        feedKeywordMap(h, p.kwargs);
        break;
    }
    case Kind::member: {
        const auto& p = as<Member>();
        h.feed(p.object.hash());
        h.feed(p.member.hash());
        h.feed(p.computed);
        break;
    }
    case Kind::slice: {
        const auto& p = as<Slice>();
        h.feed(p.object.hash());
        feedOptional(h, p.start);
        feedOptional(h, p.stop);
        feedOptional(h, p.step);
        break;
    }
    case Kind::filter: {
        const auto& p = as<Filter>();
        h.feed(p.operand.hash());
        feedString(h, p.name);
        feedList(h, p.args);
        feedKeywordMap(h, p.kwargs);
        break;
    }
    case Kind::test: {
        const auto& p = as<Test>();
        h.feed(p.operand.hash());
        feedString(h, p.name);
        feedList(h, p.args);
        h.feed(p.negated);
        break;
    }
    }
    return h.state;
}

std::string_view Expression::kindName(Kind kind) noexcept {
    static constexpr std::string_view names[] = {
        "string", "number", "integer",    "boolean", "null",   "array",
        "tuple",  "object", "identifier", "unary",   "binary", "ternary",
        "call",   "member", "slice",      "filter",  "test",
    };
    return names[static_cast<std::size_t>(kind)];
}

std::string_view Expression::rawValue(UnaryOp op) noexcept {
    static constexpr std::string_view texts[] = {"not", "-", "+", "*"};
    return texts[static_cast<std::size_t>(op)];
}

std::string_view Expression::rawValue(BinaryOp op) noexcept {
    static constexpr std::string_view texts[] = {
        "+",  "-", "*",  "/", "//", "**",  "%",  "~",  "==",
        "!=", "<", "<=", ">", ">=", "and", "or", "in", "not in",
    };
    return texts[static_cast<std::size_t>(op)];
}

const std::vector<Expression::UnaryOp>& Expression::allUnaryOps() {
    static const std::vector<UnaryOp> all = {UnaryOp::not_, UnaryOp::minus, UnaryOp::plus,
                                             UnaryOp::splat};
    return all;
}

const std::vector<Expression::BinaryOp>& Expression::allBinaryOps() {
    static const std::vector<BinaryOp> all = [] {
        std::vector<BinaryOp> ops;
        for (int i = 0; i <= static_cast<int>(BinaryOp::notIn); ++i)
            ops.push_back(static_cast<BinaryOp>(i));
        return ops;
    }();
    return all;
}

std::optional<Expression::UnaryOp> Expression::unaryOpFromRawValue(std::string_view text) noexcept {
    for (UnaryOp op : allUnaryOps())
        if (rawValue(op) == text) return op;
    return std::nullopt;
}

std::optional<Expression::BinaryOp>
Expression::binaryOpFromRawValue(std::string_view text) noexcept {
    for (BinaryOp op : allBinaryOps())
        if (rawValue(op) == text) return op;
    return std::nullopt;
}

Statement::Statement(Program payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Set payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(If payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(For payload) {
    // The plan points into the body where the statement keeps it.
    auto data = std::make_shared<Data>(Data{std::move(payload), nullptr});
    computeFacts(*data);
    data_ = std::move(data);
}
Statement::Statement(Macro payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Break payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Continue payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Call payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Filter payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}
Statement::Statement(Generation payload)
    : data_(std::make_shared<const Data>(Data{std::move(payload), nullptr})) {}

bool operator==(const Statement::LoopVar& a, const Statement::LoopVar& b) noexcept {
    if (a.kind != b.kind || a.names.size() != b.names.size()) return false;
    for (std::size_t i = 0; i < a.names.size(); ++i)
        if (!stringsEqual(a.names[i], b.names[i])) return false;
    return true;
}

bool operator==(const Statement& a, const Statement& b) noexcept {
    if (a.kind() != b.kind()) return false;
    using S = Statement;
    switch (a.kind()) {
    case S::Kind::program:
        return a.as<S::Program>().body == b.as<S::Program>().body;
    case S::Kind::set: {
        const auto& x = a.as<S::Set>();
        const auto& y = b.as<S::Set>();
        return x.target == y.target && optionalsEqual(x.value, y.value) && x.body == y.body;
    }
    case S::Kind::if_: {
        const auto& x = a.as<S::If>();
        const auto& y = b.as<S::If>();
        return x.test == y.test && x.body == y.body && x.alternate == y.alternate;
    }
    case S::Kind::for_: {
        const auto& x = a.as<S::For>();
        const auto& y = b.as<S::For>();
        return x.loopVar == y.loopVar && x.iterable == y.iterable && x.body == y.body &&
               x.alternate == y.alternate && optionalsEqual(x.test, y.test);
    }
    case S::Kind::macro: {
        const auto& x = a.as<S::Macro>();
        const auto& y = b.as<S::Macro>();
        if (!stringsEqual(x.name, y.name) || x.parameters.size() != y.parameters.size())
            return false;
        for (std::size_t i = 0; i < x.parameters.size(); ++i)
            if (!stringsEqual(x.parameters[i], y.parameters[i])) return false;
        return orderedMapsEqual(x.defaults, y.defaults) && x.body == y.body;
    }
    case S::Kind::break_:
    case S::Kind::continue_:
        return true;
    case S::Kind::call: {
        const auto& x = a.as<S::Call>();
        const auto& y = b.as<S::Call>();
        if (x.callerArgs.has_value() != y.callerArgs.has_value()) return false;
        if (x.callerArgs && !listsEqual(*x.callerArgs, *y.callerArgs)) return false;
        return x.callable == y.callable && x.body == y.body;
    }
    case S::Kind::filter: {
        const auto& x = a.as<S::Filter>();
        const auto& y = b.as<S::Filter>();
        return x.filterExpr == y.filterExpr && x.body == y.body;
    }
    case S::Kind::generation:
        return a.as<S::Generation>().body == b.as<S::Generation>().body;
    }
    return false;
}

std::size_t Statement::hash() const noexcept {
    Hasher h;
    h.feed(static_cast<std::size_t>(kind()));
    switch (kind()) {
    case Kind::program:
        feedNodes(h, as<Program>().body);
        break;
    case Kind::set: {
        const auto& p = as<Set>();
        h.feed(p.target.hash());
        feedOptional(h, p.value);
        feedNodes(h, p.body);
        break;
    }
    case Kind::if_: {
        const auto& p = as<If>();
        h.feed(p.test.hash());
        feedNodes(h, p.body);
        feedNodes(h, p.alternate);
        break;
    }
    case Kind::for_: {
        const auto& p = as<For>();
        h.feed(static_cast<std::size_t>(p.loopVar.kind));
        h.feed(p.loopVar.names.size());
        for (const auto& name : p.loopVar.names)
            feedString(h, name);
        h.feed(p.iterable.hash());
        feedNodes(h, p.body);
        feedNodes(h, p.alternate);
        feedOptional(h, p.test);
        break;
    }
    case Kind::macro: {
        const auto& p = as<Macro>();
        feedString(h, p.name);
        h.feed(p.parameters.size());
        for (const auto& name : p.parameters)
            feedString(h, name);
        feedOrderedMap(h, p.defaults);
        feedNodes(h, p.body);
        break;
    }
    case Kind::break_:
    case Kind::continue_:
        break;
    case Kind::call: {
        const auto& p = as<Call>();
        h.feed(p.callable.hash());
        h.feed(p.callerArgs.has_value());
        if (p.callerArgs) feedList(h, *p.callerArgs);
        feedNodes(h, p.body);
        break;
    }
    case Kind::filter: {
        const auto& p = as<Filter>();
        h.feed(p.filterExpr.hash());
        feedNodes(h, p.body);
        break;
    }
    case Kind::generation:
        feedNodes(h, as<Generation>().body);
        break;
    }
    return h.state;
}

std::string_view Statement::kindName(Kind kind) noexcept {
    static constexpr std::string_view names[] = {
        "program", "set", "if", "for", "macro", "break", "continue", "call", "filter", "generation",
    };
    return names[static_cast<std::size_t>(kind)];
}

Node::Node(Kind kind, std::string text)
    : kind_(kind), text_(std::make_shared<const std::string>(std::move(text))) {}
Node Node::text(std::string text) {
    return Node(Kind::text, std::move(text));
}
Node Node::comment(std::string text) {
    return Node(Kind::comment, std::move(text));
}
Node::Node(Expression expression) : kind_(Kind::expression), expression_(std::move(expression)) {}
Node::Node(Statement statement) : kind_(Kind::statement), statement_(std::move(statement)) {}

bool operator==(const Node& a, const Node& b) noexcept {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
    case Node::Kind::text:
    case Node::Kind::comment:
        return stringsEqual(*a.text_, *b.text_);
    case Node::Kind::expression:
        return *a.expression_ == *b.expression_;
    case Node::Kind::statement:
        return *a.statement_ == *b.statement_;
    }
    return false;
}

std::size_t Node::hash() const noexcept {
    Hasher h;
    h.feed(static_cast<std::size_t>(kind_));
    switch (kind_) {
    case Kind::text:
    case Kind::comment:
        feedString(h, *text_);
        break;
    case Kind::expression:
        h.feed(expression_->hash());
        break;
    case Kind::statement:
        h.feed(statement_->hash());
        break;
    }
    return h.state;
}

std::string_view Node::kindName(Kind kind) noexcept {
    static constexpr std::string_view names[] = {"text", "expression", "statement", "comment"};
    return names[static_cast<std::size_t>(kind)];
}

std::size_t hashNodes(const NodeList& nodes) noexcept {
    Hasher h;
    feedNodes(h, nodes);
    return h.state;
}

} // namespace jinja
