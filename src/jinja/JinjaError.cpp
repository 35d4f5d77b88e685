#include "jinja/JinjaError.h"

namespace jinja {

JinjaError::JinjaError(Kind kind, std::string message)
    : std::runtime_error(std::string(prefix(kind)) + message), kind_(kind),
      message_(std::move(message)) {}

std::string_view JinjaError::prefix(Kind kind) noexcept {
    switch (kind) {
    case Kind::lexer:
        return "Lexer error: ";
    case Kind::parser:
        return "Parser error: ";
    case Kind::runtime:
        return "Runtime error: ";
    case Kind::syntax:
        return "Syntax error: ";
    }
    return "";
}

} // namespace jinja
