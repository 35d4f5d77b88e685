#pragma once

#include "jinja/PositionHint.h"
#include "jinja/ScopeVariables.h"
#include "jinja/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jinja {

// One scope of a render's scope chain. Reading a name walks from this scope
// towards the root; writing always defines the name in this scope. A root
// scope (one without parent) holds the global functions from its creation on,
// over initial variables of the same name. Scopes belong to one render and
// take no lock.
class Environment {
public:
    using Variables = ScopeVariables;

    // The `loop` variable of a for loop's scope, made only when something
    // reads it: the loop sets `stale` at every iteration, and the first read
    // after that has `refresh` store the current loop object in the scope.
    // The loop runner derives its own state from this.
    struct LoopVariable {
        bool stale = false;
        // Stores the current loop object under "loop" in the scope.
        void (*refresh)(Environment& scope, LoopVariable& loop) = nullptr;
    };
    static constexpr std::uint64_t kLoopHash = Variables::hashName("loop");

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
    const Value* find(std::string_view name) const { return find(name, Variables::hashName(name)); }
    // The same with the name's hash (Variables::hashName) computed beforehand.
    const Value* find(std::string_view name, std::uint64_t hash) const {
        // Most names are found in the innermost scope; the rest of the chain
        // and the globals are the slower path.
        if (!loop_ || hash != kLoopHash) {
            auto it = variables.find(name, hash);
            if (it != variables.end()) return &it->second;
        }
        return findOutward(name, hash);
    }
    // What find() returns whenever that is a function; null or another
    // value otherwise. Cheaper than find() where no scope has ever held a
    // function under a name like it.
    // `global`: whether a global function has that name (when false, the
    // globals are not searched).
    const Value* findFunction(std::string_view name, std::uint64_t hash, bool global = true) const {
        for (const Environment* scope = this; scope; scope = scope->parent_.get())
            if (scope->variables.mayHoldFunction(hash)) return find(name, hash);
        // Every global is a function, unless a scope hides it.
        return global ? findGlobalFunction(name, hash) : nullptr;
    }
    // The same, trying first the position `hint` gives in this scope's own
    // variables, and remembering the position found there. `head` is the
    // name's textHead.
    const Value* find(std::string_view name, std::uint64_t hash, std::uint64_t head,
                      const PositionHint& hint) const {
        if (!loop_ || hash != kLoopHash) {
            if (const Value* v = variables.valueAt(hint.get(), name, hash, head)) return v;
            const std::size_t at = variables.indexOf(name, hash);
            if (at != variables.size()) {
                hint.set(static_cast<std::uint32_t>(at));
                return &(variables.begin() + static_cast<std::ptrdiff_t>(at))->second;
            }
        }
        return findOutward(name, hash);
    }
    // This scope's own variable of that name, or null.
    Value* findOwn(std::string_view name, std::uint64_t hash);
    // The value visible under the name; undefined when no scope defines it.
    Value operator[](std::string_view name) const;
    // Defines or replaces the name in this scope's own variables.
    void set(std::string_view name, Value value) {
        set(name, Variables::hashName(name), std::move(value));
    }
    void set(std::string_view name, std::uint64_t hash, Value value);
    // Writes into the nearest scope that defines the name, or into the root.
    void setInChain(std::string_view name, Value value);

    // The names this scope itself defines. A root scope keeps the global
    // functions apart: they are found after its own variables.
    Variables variables;

    // Makes this scope the scope of a loop whose `loop` variable is made on
    // demand; null ends that.
    void attachLoop(LoopVariable* loop) noexcept { loop_ = loop; }

    // Kept for callers that carry whitespace settings along; the engine reads
    // neither (whitespace control is a compile option of Template).
    bool lstripBlocks = false;
    bool trimBlocks = false;

private:
    const Value* findOutward(std::string_view name, std::uint64_t hash) const;
    // findFunction past the scopes, none of which may hold a function of that name.
    const Value* findGlobalFunction(std::string_view name, std::uint64_t hash) const;
    bool isLoopName(std::string_view name, std::uint64_t hash) const noexcept {
        return loop_ && hash == kLoopHash && name == "loop";
    }
    // Brings a stale `loop` variable up to date.
    void refreshLoop() {
        loop_->stale = false;
        loop_->refresh(*this, *loop_);
    }

    std::shared_ptr<Environment> parent_;
    LoopVariable* loop_ = nullptr;
};

} // namespace jinja
