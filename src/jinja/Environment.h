#pragma once

#include "jinja/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace jinja {

// One scope of a render's scope chain. Reading a name walks from this scope
// towards the root; writing always defines the name in this scope. A root
// scope (one without parent) holds the global functions from its creation on,
// over initial variables of the same name. Scopes belong to one render and
// take no lock.
class Environment {
public:
    // Variable names are short; an inline FNV-1a beats a general byte hash here.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            std::uint64_t h = 14695981039346656037ull;
            for (unsigned char c : s)
                h = (h ^ c) * 1099511628211ull;
            return static_cast<std::size_t>(h ^ (h >> 32));
        }
    };
    using Variables = std::unordered_map<std::string, Value, NameHash, std::equal_to<>>;

    explicit Environment(std::shared_ptr<Environment> parent = nullptr, Variables initial = {});
    // Releases a long chain of ancestors iteratively, so dropping the innermost
    // scope of a deep chain needs no deep recursion.
    ~Environment();

    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    static std::shared_ptr<Environment> make(std::shared_ptr<Environment> parent = nullptr,
                                             Variables initial = {}) {
        return std::make_shared<Environment>(std::move(parent), std::move(initial));
    }

    const std::shared_ptr<Environment>& parent() const noexcept { return parent_; }

    // The value visible under the name, or null when no scope defines it.
    const Value* find(std::string_view name) const noexcept;
    // The value visible under the name; undefined when no scope defines it.
    Value operator[](std::string_view name) const;
    // Defines or replaces the name in this scope's own variables.
    void set(std::string_view name, Value value);
    // Writes into the nearest scope that defines the name, or into the root.
    void setInChain(std::string_view name, Value value);

    // The names this scope itself defines.
    Variables variables;

    // Kept for callers that carry whitespace settings along; the engine reads
    // neither (whitespace control is a compile option of Template).
    bool lstripBlocks = false;
    bool trimBlocks = false;

private:
    std::shared_ptr<Environment> parent_;
};

} // namespace jinja
