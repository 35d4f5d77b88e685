#include "jinja/Parser.h"

#include "jinja/JinjaError.h"

namespace jinja {

NodeList Parser::parse(const std::vector<Token>& tokens) {
    throw JinjaError::parser("not implemented");
}

} // namespace jinja
