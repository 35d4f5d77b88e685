#pragma once

#include "jinja/Token.h"

#include <string>
#include <string_view>
#include <vector>

namespace jinja {

// Turns template text into tokens. Stateless; safe to call from many threads.
class Lexer {
public:
    Lexer() = delete;

    // The tokens of a template text, ending with one eof token. Applies the
    // "-" whitespace control first. Throws JinjaError (lexer).
    static std::vector<Token> tokenize(std::string_view text);

    // The whitespace-control rewrite: removes "-" markers of tags together
    // with the whitespace on their side.
    static std::string preprocess(std::string_view text);
};

} // namespace jinja
