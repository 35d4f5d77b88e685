#include "jinja/Template.h"

#include "jinja/Environment.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/Lexer.h"
#include "jinja/Parser.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

namespace jinja {

namespace {

// Appends one line, without the spaces and tabs that begin it when the line's
// first other characters open a statement or a comment.
void appendStrippedLine(std::string& out, std::string_view line) {
    std::size_t blanks = 0;
    while (blanks < line.size() && (line[blanks] == ' ' || line[blanks] == '\t'))
        ++blanks;
    std::string_view rest = line.substr(blanks);
    if (rest.size() >= 2 && rest[0] == '{' && (rest[1] == '%' || rest[1] == '#'))
        out += rest;
    else
        out += line;
}

// Splits at every newline character (each one separates on its own) and joins
// the lines with line feeds.
std::string lstripBlocks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t lineStart = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        std::size_t at = offset;
        char32_t c = platform::text::decodeNext(text, offset);
        if (platform::text::isNewline(c)) {
            appendStrippedLine(out, text.substr(lineStart, at - lineStart));
            out += '\n';
            lineStart = offset;
        }
    }
    appendStrippedLine(out, text.substr(lineStart));
    return out;
}

void removeLineFeedsAfter(std::string& text, std::string_view close) {
    std::string pattern = std::string(close) + "\n";
    std::size_t at = text.find(pattern);
    if (at == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (; at != std::string::npos; at = text.find(pattern, at + pattern.size())) {
        out.append(text, copied, at + close.size() - copied);
        copied = at + pattern.size();
    }
    out.append(text, copied);
    text = std::move(out);
}

} // namespace

Template::Template(std::string_view text) : Template(text, Options{}) {}

Template::Template(std::string_view text, Options options)
    : nodes_(Parser::parse(Lexer::tokenize(applyOptions(text, options)))) {}

std::string Template::applyOptions(std::string_view text, Options options) {
    std::string out = options.lstripBlocks ? lstripBlocks(text) : std::string(text);
    if (options.trimBlocks) {
        removeLineFeedsAfter(out, "%}");
        removeLineFeedsAfter(out, "#}");
    }
    return out;
}

std::string Template::render(const Context& context,
                             const std::shared_ptr<Environment>& environment) const {
    Environment::Variables variables;
    if (environment) {
        // The given environment keeps the context entries; the render itself
        // works on a root scope of its own, so assignments never reach it.
        for (const auto& [name, value] : context)
            environment->variables.insert_or_assign(name, value);
        variables = environment->variables;
    } else {
        // Room for the variables a template typically assigns at its top as well.
        variables.reserve(context.size() + 4);
        for (const auto& [name, value] : context)
            variables.emplace(name, value);
    }
    return Interpreter::render(nodes_, Environment::make(nullptr, std::move(variables)));
}

} // namespace jinja
