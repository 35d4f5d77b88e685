#include "jinja/Macro.h"

#include "jinja/Hasher.h"
#include "jinja/Unicode.h"

namespace jinja {

bool operator==(const Macro& a, const Macro& b) noexcept {
    if (!unicode::canonicallyEqual(a.name, b.name)) return false;
    if (a.parameters.size() != b.parameters.size() || a.defaults.size() != b.defaults.size())
        return false;
    for (std::size_t i = 0; i < a.parameters.size(); ++i)
        if (!unicode::canonicallyEqual(a.parameters[i], b.parameters[i])) return false;
    for (std::size_t i = 0; i < a.defaults.size(); ++i)
        if (!unicode::canonicallyEqual(a.defaults[i].first, b.defaults[i].first) ||
            !(a.defaults[i].second == b.defaults[i].second))
            return false;
    return a.body == b.body;
}

std::size_t Macro::hash() const noexcept {
    Hasher h;
    h.feed(unicode::canonicalHash(name));
    h.feed(parameters.size());
    for (const auto& parameter : parameters)
        h.feed(unicode::canonicalHash(parameter));
    h.feed(defaults.size());
    for (const auto& [parameter, expression] : defaults) {
        h.feed(unicode::canonicalHash(parameter));
        h.feed(expression.hash());
    }
    h.feed(hashNodes(body));
    return h.state;
}

} // namespace jinja
