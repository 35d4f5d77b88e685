// Compiles arbitrary text as a template: the lexer, the whitespace rewrites,
// the parser and the JSON form of the tree must either succeed or fail with
// their own error types, never crash, hang or leak. The first byte picks the
// compile options.

#include "jinja/CodingError.h"
#include "jinja/JinjaError.h"
#include "jinja/Template.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    jinja::Template::Options options;
    options.lstripBlocks = (data[0] & 1) != 0;
    options.trimBlocks = (data[0] & 2) != 0;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        jinja::Template compiled(text, options);
        for (const jinja::Node& node : compiled.nodes()) {
            try {
                // What the tree writes it must read back as an equal tree.
                if (!(jinja::Node::fromJson(node.toJson()) == node)) std::abort();
            } catch (const jinja::CodingError&) {
                // Text that is not valid UTF-8 cannot pass through JSON.
            }
        }
    } catch (const jinja::JinjaError&) {
    }
    return 0;
}
