#include "AstPrinter.h"

#include "jinja/Value.h"

#include <string_view>

namespace jinja::testing {

namespace {

using E = Expression;
using S = Statement;

template <class... Parts> std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

std::string optional(const std::optional<Expression>& e) {
    return e ? print(*e) : "_";
}

std::string list(const ExpressionList& elements) {
    std::string out;
    for (const auto& e : elements)
        out += cat(" ", print(e));
    return out;
}

std::string keywords(const ExpressionMap& map) {
    std::string out;
    for (const auto& [name, e] : map)
        out += cat(" ", name, "=", print(e));
    return out;
}

std::string printStatement(const Statement& s) {
    switch (s.kind()) {
    case S::Kind::program:
        return cat("(program ", print(s.as<S::Program>().body), ")");
    case S::Kind::set: {
        const auto& p = s.as<S::Set>();
        if (p.value) return cat("(set ", print(p.target), " = ", print(*p.value), ")");
        return cat("(set ", print(p.target), " ", print(p.body), ")");
    }
    case S::Kind::if_: {
        const auto& p = s.as<S::If>();
        return cat("(if ", print(p.test), " ", print(p.body), " ", print(p.alternate), ")");
    }
    case S::Kind::for_: {
        const auto& p = s.as<S::For>();
        std::string names;
        for (const auto& name : p.loopVar.names)
            names += cat(names.empty() ? "" : ",", name);
        if (p.loopVar.kind == S::LoopVar::Kind::tuple) names = cat("(", names, ")");
        std::string out = cat("(for ", names, " in ", print(p.iterable));
        if (p.test) out += cat(" if ", print(*p.test));
        return cat(out, " ", print(p.body), " ", print(p.alternate), ")");
    }
    case S::Kind::macro: {
        const auto& p = s.as<S::Macro>();
        std::string out = cat("(macro ", p.name, " (");
        for (std::size_t i = 0; i < p.parameters.size(); ++i)
            out += cat(i ? " " : "", p.parameters[i]);
        return cat(out, ")", keywords(p.defaults), " ", print(p.body), ")");
    }
    case S::Kind::break_:
        return "(break)";
    case S::Kind::continue_:
        return "(continue)";
    case S::Kind::call: {
        const auto& p = s.as<S::Call>();
        std::string out = "(callblock";
        if (p.callerArgs) out += cat(" (", list(*p.callerArgs), " )");
        return cat(out, " ", print(p.callable), " ", print(p.body), ")");
    }
    case S::Kind::filter: {
        const auto& p = s.as<S::Filter>();
        return cat("(filterblock ", print(p.filterExpr), " ", print(p.body), ")");
    }
    case S::Kind::generation:
        return cat("(generation ", print(s.as<S::Generation>().body), ")");
    }
    return "?";
}

std::string printNode(const Node& node) {
    switch (node.kind()) {
    case Node::Kind::text:
        return cat("\"", node.text(), "\"");
    case Node::Kind::comment:
        return cat("{#", node.text(), "#}");
    case Node::Kind::expression:
        return cat("{{", print(node.expression()), "}}");
    case Node::Kind::statement:
        return printStatement(node.statement());
    }
    return "?";
}

} // namespace

std::string print(const NodeList& nodes) {
    std::string out = "[";
    for (std::size_t i = 0; i < nodes.size(); ++i)
        out += cat(i ? " " : "", printNode(nodes[i]));
    return cat(out, "]");
}

std::string print(const Expression& e) {
    switch (e.kind()) {
    case E::Kind::string:
        return cat("'", e.as<E::String>().value, "'");
    case E::Kind::number:
        return Value(e.as<E::Number>().value).description();
    case E::Kind::integer:
        return std::to_string(e.as<E::Integer>().value);
    case E::Kind::boolean:
        return e.as<E::Boolean>().value ? "true" : "false";
    case E::Kind::null:
        return "none";
    case E::Kind::array:
        return cat("[", list(e.as<E::Array>().elements), " ]");
    case E::Kind::tuple:
        return cat("(tuple", list(e.as<E::Tuple>().elements), ")");
    case E::Kind::object: {
        std::string out = "{";
        for (const auto& [key, value] : e.as<E::Object>().entries)
            out += cat(" ", key.description(), ":", print(value));
        return cat(out, " }");
    }
    case E::Kind::identifier:
        return e.as<E::Identifier>().name;
    case E::Kind::unary: {
        const auto& p = e.as<E::Unary>();
        return cat("(", E::rawValue(p.op), " ", print(p.operand), ")");
    }
    case E::Kind::binary: {
        const auto& p = e.as<E::Binary>();
        return cat("(", E::rawValue(p.op), " ", print(p.left), " ", print(p.right), ")");
    }
    case E::Kind::ternary: {
        const auto& p = e.as<E::Ternary>();
        return cat("(if ", print(p.test), " ", print(p.value), " ", optional(p.alternate), ")");
    }
    case E::Kind::call: {
        const auto& p = e.as<E::Call>();
        return cat("(call ", print(p.callee), list(p.args), keywords(p.kwargs), ")");
    }
    case E::Kind::member: {
        const auto& p = e.as<E::Member>();
        if (!p.computed) return cat(print(p.object), ".", print(p.member));
        return cat("(index ", print(p.object), " ", print(p.member), ")");
    }
    case E::Kind::slice: {
        const auto& p = e.as<E::Slice>();
        return cat("(slice ", print(p.object), " ", optional(p.start), " ", optional(p.stop), " ",
                   optional(p.step), ")");
    }
    case E::Kind::filter: {
        const auto& p = e.as<E::Filter>();
        return cat("(| ", print(p.operand), " ", p.name, list(p.args), keywords(p.kwargs), ")");
    }
    case E::Kind::test: {
        const auto& p = e.as<E::Test>();
        return cat(p.negated ? "(is-not " : "(is ", print(p.operand), " ", p.name, list(p.args),
                   ")");
    }
    }
    return "?";
}

} // namespace jinja::testing
