#include "jinja/Token.h"

#include "jinja/Hasher.h"
#include "jinja/Unicode.h"

#include <array>
#include <functional>

namespace jinja {

namespace {

constexpr std::array<std::string_view, Token::kindCount> kindNames = {
    "text",
    "openExpression",
    "closeExpression",
    "openStatement",
    "closeStatement",
    "string",
    "number",
    "boolean",
    "null",
    "identifier",
    "openParen",
    "closeParen",
    "openBracket",
    "closeBracket",
    "openBrace",
    "closeBrace",
    "comma",
    "dot",
    "colon",
    "pipe",
    "equals",
    "plus",
    "minus",
    "multiply",
    "divide",
    "floorDivide",
    "power",
    "modulo",
    "concat",
    "equal",
    "notEqual",
    "less",
    "lessEqual",
    "greater",
    "greaterEqual",
    "and",
    "or",
    "not",
    "in",
    "notIn",
    "is",
    "if",
    "else",
    "elif",
    "endif",
    "for",
    "endfor",
    "set",
    "endset",
    "macro",
    "endmacro",
    "break",
    "continue",
    "call",
    "endcall",
    "filter",
    "endfilter",
    "generation",
    "endgeneration",
    "comment",
    "eof",
};

static_assert(static_cast<std::size_t>(Token::Kind::eof) + 1 == Token::kindCount);

} // namespace

std::string_view Token::kindName(Kind kind) noexcept {
    return kindNames[static_cast<std::size_t>(kind)];
}

std::optional<Token::Kind> Token::kindFromName(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kindNames.size(); ++i)
        if (kindNames[i] == name) return static_cast<Kind>(i);
    return std::nullopt;
}

const std::vector<Token::Kind>& Token::allKinds() {
    static const std::vector<Kind> all = [] {
        std::vector<Kind> kinds;
        for (std::size_t i = 0; i < kindCount; ++i)
            kinds.push_back(static_cast<Kind>(i));
        return kinds;
    }();
    return all;
}

bool Token::allowedAsIdentifier(Kind kind) noexcept {
    switch (kind) {
    case Kind::identifier:
    case Kind::if_:
    case Kind::for_:
    case Kind::in:
    case Kind::and_:
    case Kind::or_:
    case Kind::not_:
    case Kind::is:
    case Kind::else_:
    case Kind::set:
    case Kind::break_:
    case Kind::continue_:
        return true;
    default:
        return false;
    }
}

bool Token::primaryExpressionStarter(Kind kind) noexcept {
    switch (kind) {
    case Kind::string:
    case Kind::identifier:
    case Kind::number:
    case Kind::boolean:
    case Kind::openParen:
    case Kind::openBracket:
    case Kind::openBrace:
        return true;
    default:
        return false;
    }
}

std::size_t Token::hash() const noexcept {
    Hasher h;
    h.feed(static_cast<std::size_t>(kind));
    h.feed(unicode::canonicalHash(value));
    h.feed(std::hash<std::int64_t>{}(position));
    return h.state;
}

bool operator==(const Token& a, const Token& b) noexcept {
    return a.kind == b.kind && a.position == b.position &&
           unicode::canonicallyEqual(a.value, b.value);
}

} // namespace jinja
