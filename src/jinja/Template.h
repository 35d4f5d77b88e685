#pragma once

#include "jinja/Ast.h"
#include "jinja/Value.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace jinja {

class Environment;

// A compiled template: compile once, render any number of times, from any
// number of threads (each render with its own environment or none).
class Template {
public:
    struct Options {
        // Remove spaces and tabs before a statement or comment tag at the start of a line.
        bool lstripBlocks = false;
        // Remove the line feed directly after a statement or comment tag.
        bool trimBlocks = false;
        friend bool operator==(const Options&, const Options&) = default;
        std::size_t hash() const noexcept {
            return (static_cast<std::size_t>(lstripBlocks) << 1) | trimBlocks;
        }
    };

    using Context = std::unordered_map<std::string, Value>;

    // Throws JinjaError (lexer or parser) when the text is not a valid template.
    explicit Template(std::string_view text);
    Template(std::string_view text, Options options);

    // Renders with the context as variables. A given environment receives the
    // context entries; what the template assigns stays in the render's own
    // scope. Throws JinjaError (runtime) and passes evaluation errors on.
    std::string render(const Context& context,
                       const std::shared_ptr<Environment>& environment = nullptr) const;

    const NodeList& nodes() const noexcept { return nodes_; }

    // The text after the two compile options, before the lexer runs.
    static std::string applyOptions(std::string_view text, Options options);

    std::size_t hash() const noexcept { return hashNodes(nodes_); }
    friend bool operator==(const Template& a, const Template& b) noexcept {
        return a.nodes_ == b.nodes_;
    }

private:
    NodeList nodes_;
};

} // namespace jinja
