#include "jinja/TreeCoding.h"

#include "jinja/CodingError.h"

#include <algorithm>
#include <unordered_set>

namespace jinja::coding {

namespace {

using E = Expression;
using S = Statement;

// Writing ---------------------------------------------------------------------

Value object(std::initializer_list<std::pair<std::string_view, Value>> entries) {
    return Value::fromDictionaryLiteral(entries);
}

Value single(std::string_view caseName, Value payload) {
    return object({{caseName, std::move(payload)}});
}

Value encodeKey(const ObjectKey& key) {
    return Value(key);
}

Value encodeList(const ExpressionList& list) {
    Array out;
    out.reserve(list.size());
    for (const auto& e : list)
        out.push_back(encode(e));
    return Value(std::move(out));
}

Value encodeNodes(const NodeList& nodes) {
    Array out;
    out.reserve(nodes.size());
    for (const auto& n : nodes)
        out.push_back(encode(n));
    return Value(std::move(out));
}

Value encodeKeywords(const ExpressionMap& map) {
    Object out;
    for (const auto& [name, e] : map)
        objectSet(out, name, encode(e));
    return Value(std::move(out));
}

// An ordered map as one list alternating keys and values.
Value encodeOrderedMap(const ExpressionMap& map) {
    Array out;
    for (const auto& [name, e] : map) {
        out.emplace_back(name);
        out.push_back(encode(e));
    }
    return Value(std::move(out));
}

void setOptional(Object& payload, std::string_view key, const std::optional<Expression>& e) {
    if (e) objectSet(payload, key, encode(*e));
}

Value encodeLoopVar(const S::LoopVar& loopVar) {
    if (loopVar.kind == S::LoopVar::Kind::single)
        return single("single", object({{"_0", Value(loopVar.names.front())}}));
    Array names(loopVar.names.begin(), loopVar.names.end());
    return single("tuple", object({{"_0", Value(std::move(names))}}));
}

// Reading ---------------------------------------------------------------------

[[noreturn]] void mismatch(std::string description) {
    throw CodingError(CodingError::Kind::typeMismatch, std::move(description));
}
[[noreturn]] void corrupted(std::string description) {
    throw CodingError(CodingError::Kind::dataCorrupted, std::move(description));
}

const Object& requireObject(const Value& v) {
    if (!v.isObject())
        mismatch("Expected to decode a keyed container but found " +
                 std::string(Value::kindName(v.kind())) + " instead.");
    return v.asObject();
}

const Value& field(const Object& container, std::string_view key) {
    const Value* value = objectGet(container, key);
    if (!value)
        throw CodingError(CodingError::Kind::keyNotFound,
                          "No value associated with key \"" + std::string(key) + "\".");
    return *value;
}

const Value* optionalField(const Object& container, std::string_view key) {
    const Value* value = objectGet(container, key);
    return value && !value->isNull() ? value : nullptr;
}

[[noreturn]] void wrongType(std::string_view expected, const Value& found) {
    mismatch("Expected to decode " + std::string(expected) + " but found " +
             std::string(Value::kindName(found.kind())) + " instead.");
}

const std::string& readString(const Value& v) {
    if (!v.isString()) wrongType("string", v);
    return v.asString();
}
std::int64_t readInt(const Value& v) {
    if (!v.isInt()) wrongType("int", v);
    return v.asInt();
}
double readDouble(const Value& v) {
    if (!v.isNumeric()) wrongType("double", v);
    return v.toDouble();
}
bool readBool(const Value& v) {
    if (!v.isBoolean()) wrongType("boolean", v);
    return v.asBool();
}
const Array& readArray(const Value& v) {
    if (!v.isArray()) wrongType("an unkeyed container", v);
    return v.asArray();
}

// The one key of `container` that names a case, and the payload under it.
template <class Kind, class NameOf>
std::pair<Kind, const Value*> readCase(const Value& v, std::size_t caseCount, NameOf nameOf) {
    const Object& container = requireObject(v);
    std::optional<Kind> found;
    const Value* payload = nullptr;
    std::size_t matches = 0;
    for (std::size_t i = 0; i < caseCount; ++i) {
        auto kind = static_cast<Kind>(i);
        if (const Value* value = objectGet(container, nameOf(kind))) {
            ++matches;
            found = kind;
            payload = value;
        }
    }
    if (matches != 1) mismatch("Invalid number of keys found, expected one.");
    return {*found, payload};
}

ExpressionList decodeList(const Value& v) {
    ExpressionList out;
    for (const Value& e : readArray(v))
        out.push_back(decodeExpression(e));
    return out;
}

NodeList decodeNodes(const Value& v) {
    NodeList out;
    for (const Value& n : readArray(v))
        out.push_back(decodeNode(n));
    return out;
}

ExpressionMap decodeKeywords(const Value& v) {
    ExpressionMap out;
    for (const auto& [key, e] : requireObject(v))
        out.emplace_back(key.stringValue(), decodeExpression(e));
    return out;
}

ExpressionMap decodeOrderedMap(const Value& v) {
    const Array& list = readArray(v);
    if (list.size() % 2 != 0)
        corrupted("Unkeyed container reached end before value in key-value pair.");
    ExpressionMap out;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < list.size(); i += 2) {
        const std::string& name = readString(list[i]);
        if (!seen.insert(name).second) corrupted("Encountered duplicate key " + name + ".");
        out.emplace_back(name, decodeExpression(list[i + 1]));
    }
    return out;
}

ObjectKey decodeKey(const Value& v) {
    if (v.isInt()) return ObjectKey(v.asInt());
    if (v.isString()) return ObjectKey(v.asString());
    mismatch("ObjectKey must be a string or integer");
}

std::optional<Expression> decodeOptional(const Object& payload, std::string_view key) {
    if (const Value* v = optionalField(payload, key)) return decodeExpression(*v);
    return std::nullopt;
}

S::LoopVar decodeLoopVar(const Value& v) {
    auto [kind, payload] = readCase<S::LoopVar::Kind>(v, 2, [](S::LoopVar::Kind k) {
        return k == S::LoopVar::Kind::single ? std::string_view("single")
                                             : std::string_view("tuple");
    });
    const Object& fields = requireObject(*payload);
    S::LoopVar loopVar;
    loopVar.kind = kind;
    if (kind == S::LoopVar::Kind::single) {
        loopVar.names.push_back(readString(field(fields, "_0")));
    } else {
        for (const Value& name : readArray(field(fields, "_0")))
            loopVar.names.push_back(readString(name));
    }
    return loopVar;
}

template <class Op, class FromRaw>
Op decodeOp(const Value& v, FromRaw fromRaw, std::string_view typeName) {
    const std::string& text = readString(v);
    std::optional<Op> op = fromRaw(text);
    if (!op)
        corrupted("Cannot initialize " + std::string(typeName) + " from invalid String value " +
                  text);
    return *op;
}

} // namespace

Value encode(const Token& token) {
    return object({{"kind", single(Token::kindName(token.kind), Value(Object{}))},
                   {"value", Value(token.value)},
                   {"position", Value(token.position)}});
}

Value encode(const Expression& e) {
    Object payload;
    auto set = [&payload](std::string_view key, Value value) {
        objectSet(payload, key, std::move(value));
    };
    switch (e.kind()) {
    case E::Kind::string:
        set("_0", Value(e.as<E::String>().value));
        break;
    case E::Kind::number:
        set("_0", Value(e.as<E::Number>().value));
        break;
    case E::Kind::integer:
        set("_0", Value(e.as<E::Integer>().value));
        break;
    case E::Kind::boolean:
        set("_0", Value(e.as<E::Boolean>().value));
        break;
    case E::Kind::null:
        break;
    case E::Kind::array:
        set("_0", encodeList(e.as<E::Array>().elements));
        break;
    case E::Kind::tuple:
        set("_0", encodeList(e.as<E::Tuple>().elements));
        break;
    case E::Kind::object: {
        Array pairs;
        for (const auto& [key, value] : e.as<E::Object>().entries) {
            pairs.push_back(encodeKey(key));
            pairs.push_back(encode(value));
        }
        set("_0", Value(std::move(pairs)));
        break;
    }
    case E::Kind::identifier:
        set("_0", Value(e.as<E::Identifier>().name));
        break;
    case E::Kind::unary: {
        const auto& p = e.as<E::Unary>();
        set("_0", Value(E::rawValue(p.op)));
        set("_1", encode(p.operand));
        break;
    }
    case E::Kind::binary: {
        const auto& p = e.as<E::Binary>();
        set("_0", Value(E::rawValue(p.op)));
        set("_1", encode(p.left));
        set("_2", encode(p.right));
        break;
    }
    case E::Kind::ternary: {
        const auto& p = e.as<E::Ternary>();
        set("_0", encode(p.value));
        set("test", encode(p.test));
        setOptional(payload, "alternate", p.alternate);
        break;
    }
    case E::Kind::call: {
        const auto& p = e.as<E::Call>();
        set("_0", encode(p.callee));
        set("_1", encodeList(p.args));
        set("_2", encodeKeywords(p.kwargs));
        break;
    }
    case E::Kind::member: {
        const auto& p = e.as<E::Member>();
        set("_0", encode(p.object));
        set("_1", encode(p.member));
        set("computed", Value(p.computed));
        break;
    }
    case E::Kind::slice: {
        const auto& p = e.as<E::Slice>();
        set("_0", encode(p.object));
        setOptional(payload, "start", p.start);
        setOptional(payload, "stop", p.stop);
        setOptional(payload, "step", p.step);
        break;
    }
    case E::Kind::filter: {
        const auto& p = e.as<E::Filter>();
        set("_0", encode(p.operand));
        set("_1", Value(p.name));
        set("_2", encodeList(p.args));
        set("_3", encodeKeywords(p.kwargs));
        break;
    }
    case E::Kind::test: {
        const auto& p = e.as<E::Test>();
        set("_0", encode(p.operand));
        set("_1", Value(p.name));
        set("_2", encodeList(p.args));
        set("negated", Value(p.negated));
        break;
    }
    }
    return single(E::kindName(e.kind()), Value(std::move(payload)));
}

Value encode(const Statement& s) {
    Object payload;
    auto set = [&payload](std::string_view key, Value value) {
        objectSet(payload, key, std::move(value));
    };
    switch (s.kind()) {
    case S::Kind::program:
        set("_0", encodeNodes(s.as<S::Program>().body));
        break;
    case S::Kind::set: {
        const auto& p = s.as<S::Set>();
        set("target", encode(p.target));
        setOptional(payload, "value", p.value);
        set("body", encodeNodes(p.body));
        break;
    }
    case S::Kind::if_: {
        const auto& p = s.as<S::If>();
        set("_0", encode(p.test));
        set("_1", encodeNodes(p.body));
        set("_2", encodeNodes(p.alternate));
        break;
    }
    case S::Kind::for_: {
        const auto& p = s.as<S::For>();
        set("_0", encodeLoopVar(p.loopVar));
        set("_1", encode(p.iterable));
        set("_2", encodeNodes(p.body));
        set("_3", encodeNodes(p.alternate));
        setOptional(payload, "test", p.test);
        break;
    }
    case S::Kind::macro: {
        const auto& p = s.as<S::Macro>();
        set("_0", Value(p.name));
        set("_1", Value(Array(p.parameters.begin(), p.parameters.end())));
        set("_2", encodeOrderedMap(p.defaults));
        set("_3", encodeNodes(p.body));
        break;
    }
    case S::Kind::break_:
    case S::Kind::continue_:
        break;
    case S::Kind::call: {
        const auto& p = s.as<S::Call>();
        set("callable", encode(p.callable));
        if (p.callerArgs) set("callerArgs", encodeList(*p.callerArgs));
        set("body", encodeNodes(p.body));
        break;
    }
    case S::Kind::filter: {
        const auto& p = s.as<S::Filter>();
        set("filterExpr", encode(p.filterExpr));
        set("body", encodeNodes(p.body));
        break;
    }
    case S::Kind::generation:
        set("_0", encodeNodes(s.as<S::Generation>().body));
        break;
    }
    return single(S::kindName(s.kind()), Value(std::move(payload)));
}

Value encode(const Node& node) {
    switch (node.kind()) {
    case Node::Kind::text:
    case Node::Kind::comment:
        return single(Node::kindName(node.kind()), object({{"_0", Value(node.text())}}));
    case Node::Kind::expression:
        return single("expression", object({{"_0", encode(node.expression())}}));
    case Node::Kind::statement:
        return single("statement", object({{"_0", encode(node.statement())}}));
    }
    return Value();
}

Value encode(const Macro& macro) {
    return object({{"name", Value(macro.name)},
                   {"parameters", Value(Array(macro.parameters.begin(), macro.parameters.end()))},
                   {"defaults", encodeKeywords(macro.defaults)},
                   {"body", encodeNodes(macro.body)}});
}

Token decodeToken(const Value& v) {
    const Object& container = requireObject(v);
    auto [kind, payload] = readCase<Token::Kind>(field(container, "kind"), Token::kindCount,
                                                 [](Token::Kind k) { return Token::kindName(k); });
    requireObject(*payload);
    return Token(kind, readString(field(container, "value")),
                 readInt(field(container, "position")));
}

Expression decodeExpression(const Value& v) {
    auto [kind, payloadValue] =
        readCase<E::Kind>(v, static_cast<std::size_t>(E::Kind::test) + 1, E::kindName);
    const Object& p = requireObject(*payloadValue);
    auto f = [&p](std::string_view key) -> const Value& { return field(p, key); };
    switch (kind) {
    case E::Kind::string:
        return Expression(E::String{readString(f("_0"))});
    case E::Kind::number:
        return Expression(E::Number{readDouble(f("_0"))});
    case E::Kind::integer:
        return Expression(E::Integer{readInt(f("_0"))});
    case E::Kind::boolean:
        return Expression(E::Boolean{readBool(f("_0"))});
    case E::Kind::null:
        return Expression(E::Null{});
    case E::Kind::array:
        return Expression(E::Array{decodeList(f("_0"))});
    case E::Kind::tuple:
        return Expression(E::Tuple{decodeList(f("_0"))});
    case E::Kind::object: {
        const Array& list = readArray(f("_0"));
        if (list.size() % 2 != 0)
            corrupted("Unkeyed container reached end before value in key-value pair.");
        E::Object object;
        for (std::size_t i = 0; i < list.size(); i += 2) {
            ObjectKey key = decodeKey(list[i]);
            if (std::any_of(object.entries.begin(), object.entries.end(),
                            [&](const auto& e) { return e.first == key; }))
                corrupted("Encountered duplicate key " + key.stringValue() + ".");
            object.entries.emplace_back(std::move(key), decodeExpression(list[i + 1]));
        }
        return Expression(std::move(object));
    }
    case E::Kind::identifier:
        return Expression(E::Identifier{readString(f("_0"))});
    case E::Kind::unary:
        return Expression(E::Unary{decodeOp<E::UnaryOp>(f("_0"), E::unaryOpFromRawValue, "UnaryOp"),
                                   decodeExpression(f("_1"))});
    case E::Kind::binary:
        return Expression(
            E::Binary{decodeOp<E::BinaryOp>(f("_0"), E::binaryOpFromRawValue, "BinaryOp"),
                      decodeExpression(f("_1")), decodeExpression(f("_2"))});
    case E::Kind::ternary:
        return Expression(E::Ternary{decodeExpression(f("_0")), decodeExpression(f("test")),
                                     decodeOptional(p, "alternate")});
    case E::Kind::call:
        return Expression(
            E::Call{decodeExpression(f("_0")), decodeList(f("_1")), decodeKeywords(f("_2"))});
    case E::Kind::member:
        return Expression(E::Member{decodeExpression(f("_0")), decodeExpression(f("_1")),
                                    readBool(f("computed"))});
    case E::Kind::slice:
        return Expression(E::Slice{decodeExpression(f("_0")), decodeOptional(p, "start"),
                                   decodeOptional(p, "stop"), decodeOptional(p, "step")});
    case E::Kind::filter:
        return Expression(E::Filter{decodeExpression(f("_0")), readString(f("_1")),
                                    decodeList(f("_2")), decodeKeywords(f("_3"))});
    case E::Kind::test:
        return Expression(E::Test{decodeExpression(f("_0")), readString(f("_1")),
                                  decodeList(f("_2")), readBool(f("negated"))});
    }
    mismatch("Invalid number of keys found, expected one.");
}

Statement decodeStatement(const Value& v) {
    auto [kind, payloadValue] =
        readCase<S::Kind>(v, static_cast<std::size_t>(S::Kind::generation) + 1, S::kindName);
    const Object& p = requireObject(*payloadValue);
    auto f = [&p](std::string_view key) -> const Value& { return field(p, key); };
    switch (kind) {
    case S::Kind::program:
        return Statement(S::Program{decodeNodes(f("_0"))});
    case S::Kind::set:
        return Statement(S::Set{decodeExpression(f("target")), decodeOptional(p, "value"),
                                decodeNodes(f("body"))});
    case S::Kind::if_:
        return Statement(
            S::If{decodeExpression(f("_0")), decodeNodes(f("_1")), decodeNodes(f("_2"))});
    case S::Kind::for_:
        return Statement(S::For{decodeLoopVar(f("_0")), decodeExpression(f("_1")),
                                decodeNodes(f("_2")), decodeNodes(f("_3")),
                                decodeOptional(p, "test")});
    case S::Kind::macro: {
        std::vector<std::string> parameters;
        for (const Value& name : readArray(f("_1")))
            parameters.push_back(readString(name));
        return Statement(S::Macro{readString(f("_0")), std::move(parameters),
                                  decodeOrderedMap(f("_2")), decodeNodes(f("_3"))});
    }
    case S::Kind::break_:
        return Statement(S::Break{});
    case S::Kind::continue_:
        return Statement(S::Continue{});
    case S::Kind::call: {
        std::optional<ExpressionList> callerArgs;
        if (const Value* args = optionalField(p, "callerArgs")) callerArgs = decodeList(*args);
        return Statement(S::Call{decodeExpression(f("callable")), std::move(callerArgs),
                                 decodeNodes(f("body"))});
    }
    case S::Kind::filter:
        return Statement(S::Filter{decodeExpression(f("filterExpr")), decodeNodes(f("body"))});
    case S::Kind::generation:
        return Statement(S::Generation{decodeNodes(f("_0"))});
    }
    mismatch("Invalid number of keys found, expected one.");
}

Node decodeNode(const Value& v) {
    auto [kind, payloadValue] = readCase<Node::Kind>(v, 4, Node::kindName);
    const Value& inner = field(requireObject(*payloadValue), "_0");
    switch (kind) {
    case Node::Kind::text:
        return Node::text(readString(inner));
    case Node::Kind::comment:
        return Node::comment(readString(inner));
    case Node::Kind::expression:
        return Node(decodeExpression(inner));
    case Node::Kind::statement:
        return Node(decodeStatement(inner));
    }
    mismatch("Invalid number of keys found, expected one.");
}

Macro decodeMacro(const Value& v) {
    const Object& container = requireObject(v);
    Macro macro;
    macro.name = readString(field(container, "name"));
    for (const Value& name : readArray(field(container, "parameters")))
        macro.parameters.push_back(readString(name));
    // The defaults come back in ascending order of name (a decoded object is sorted).
    macro.defaults = decodeKeywords(field(container, "defaults"));
    macro.body = decodeNodes(field(container, "body"));
    return macro;
}

} // namespace jinja::coding

namespace jinja {

std::string Token::toJson() const {
    return coding::encode(*this).toJson();
}
Token Token::fromJson(std::string_view json) {
    return coding::decodeToken(Value::fromJson(json));
}
std::string Expression::toJson() const {
    return coding::encode(*this).toJson();
}
Expression Expression::fromJson(std::string_view json) {
    return coding::decodeExpression(Value::fromJson(json));
}
std::string Statement::toJson() const {
    return coding::encode(*this).toJson();
}
Statement Statement::fromJson(std::string_view json) {
    return coding::decodeStatement(Value::fromJson(json));
}
std::string Node::toJson() const {
    return coding::encode(*this).toJson();
}
Node Node::fromJson(std::string_view json) {
    return coding::decodeNode(Value::fromJson(json));
}
std::string Macro::toJson() const {
    return coding::encode(*this).toJson();
}
Macro Macro::fromJson(std::string_view json) {
    return coding::decodeMacro(Value::fromJson(json));
}

} // namespace jinja
