#include "jinja/Template.h"

#include "jinja/JinjaError.h"
#include "jinja/Lexer.h"
#include "jinja/Parser.h"

namespace jinja {

Template::Template(std::string_view text) : Template(text, Options{}) {}

Template::Template(std::string_view text, Options options)
    : nodes_(Parser::parse(Lexer::tokenize(applyOptions(text, options)))) {}

std::string Template::applyOptions(std::string_view text, Options options) {
    return std::string(text);
}

std::string Template::render(const Context& context, const std::shared_ptr<Environment>& environment) const {
    throw JinjaError::runtime("rendering is not available");
}

} // namespace jinja
