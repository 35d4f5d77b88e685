#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jinja {

// One token of a template. The position counts characters (grapheme
// clusters) from the start of the template text after whitespace control.
struct Token {
    enum class Kind : std::uint8_t {
        text,
        openExpression,
        closeExpression,
        openStatement,
        closeStatement,
        string,
        number,
        boolean,
        null,
        identifier,
        openParen,
        closeParen,
        openBracket,
        closeBracket,
        openBrace,
        closeBrace,
        comma,
        dot,
        colon,
        pipe,
        equals,
        plus,
        minus,
        multiply,
        divide,
        floorDivide,
        power,
        modulo,
        concat,
        equal,
        notEqual,
        less,
        lessEqual,
        greater,
        greaterEqual,
        and_,
        or_,
        not_,
        in,
        notIn,
        is,
        if_,
        else_,
        elif,
        endif,
        for_,
        endfor,
        set,
        endset,
        macro,
        endmacro,
        break_,
        continue_,
        call,
        endcall,
        filter,
        endfilter,
        generation,
        endgeneration,
        comment,
        eof,
    };
    static constexpr std::size_t kindCount = 61;

    Kind kind = Kind::eof;
    // Covered text; a string's content after escapes; a comment's inner text.
    std::string value;
    std::int64_t position = 0;

    Token() = default;
    Token(Kind kind, std::string_view value, std::int64_t position)
        : kind(kind), value(value), position(position) {}

    // The kind's name as written in messages ("openExpression", "eof", ...).
    static std::string_view kindName(Kind kind) noexcept;
    static std::optional<Kind> kindFromName(std::string_view name) noexcept;
    static const std::vector<Kind>& allKinds();

    // Kinds accepted where a name is expected, and kinds that start an operand
    // that is concatenated with the one before it.
    static bool allowedAsIdentifier(Kind kind) noexcept;
    static bool primaryExpressionStarter(Kind kind) noexcept;

    std::size_t hash() const noexcept;
    friend bool operator==(const Token& a, const Token& b) noexcept;

    // JSON form {"kind": {"<name>": {}}, "value": ..., "position": ...}.
    std::string toJson() const;
    static Token fromJson(std::string_view json); // throws CodingError
};

} // namespace jinja
