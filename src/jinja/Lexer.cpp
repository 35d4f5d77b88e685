#include "jinja/Lexer.h"

#include "jinja/JinjaError.h"

namespace jinja {

std::vector<Token> Lexer::tokenize(std::string_view text) {
    throw JinjaError::lexer("not implemented");
}

std::string Lexer::preprocess(std::string_view text) { return std::string(text); }

} // namespace jinja
