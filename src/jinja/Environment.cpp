#include "jinja/Environment.h"

#include "jinja/Globals.h"

#include <vector>

namespace jinja {

namespace {

// The global functions with their name hashes, as a root scope finds them.
const ScopeVariables& globals() {
    static const ScopeVariables table = [] {
        ScopeVariables t;
        for (const auto& [name, function] : Globals::builtIn())
            t.insert_or_assign(name, function);
        return t;
    }();
    return table;
}

} // namespace

Environment::Environment(std::shared_ptr<Environment> parent, Variables initial)
    : variables(std::move(initial)), parent_(std::move(parent)) {
    if (parent_) return;
    // The globals hide initial variables of the same name.
    const ScopeVariables& hidden = globals();
    const Variables& own = variables;
    for (auto it = own.begin(); it != own.end();) {
        if (hidden.find(it->first, own.hashOf(it)) != hidden.end()) {
            variables.erase(it);
            it = own.begin();
        } else {
            ++it;
        }
    }
}

Environment::~Environment() {
    // Detach ancestors one by one while this chain holds the last reference,
    // instead of letting each destructor recurse into its parent's.
    std::shared_ptr<Environment> next = std::move(parent_);
    while (next && next.use_count() == 1) {
        std::shared_ptr<Environment> grand = std::move(next->parent_);
        next.reset();
        next = std::move(grand);
    }
}

const Value* Environment::findOutward(std::string_view name, std::uint64_t hash) const {
    const Environment* scope = this;
    while (true) {
        if (scope->isLoopName(name, hash) && scope->loop_->stale)
            const_cast<Environment*>(scope)->refreshLoop();
        auto it = scope->variables.find(name, hash);
        if (it != scope->variables.end()) return &it->second;
        if (!scope->parent_) break;
        scope = scope->parent_.get();
    }
    const ScopeVariables& root = globals();
    auto it = root.find(name, hash);
    return it != root.end() ? &it->second : nullptr;
}

const Value* Environment::findGlobalFunction(std::string_view name, std::uint64_t hash) const {
    const ScopeVariables& root = globals();
    return root.find(name, hash) != root.end() ? find(name, hash) : nullptr;
}

Value Environment::operator[](std::string_view name) const {
    const Value* v = find(name);
    return v ? *v : Value::undefined();
}

Value* Environment::findOwn(std::string_view name, std::uint64_t hash) {
    if (isLoopName(name, hash) && loop_->stale) refreshLoop();
    auto it = variables.find(name, hash);
    return it != variables.end() ? &it->second : nullptr;
}

void Environment::set(std::string_view name, std::uint64_t hash, Value value) {
    // An assignment to `loop` replaces the loop object until the next iteration.
    if (isLoopName(name, hash)) loop_->stale = false;
    variables.insert_or_assign(name, hash, std::move(value));
}

void Environment::setInChain(std::string_view name, Value value) {
    const std::uint64_t hash = Variables::hashName(name);
    Environment* scope = this;
    while (true) {
        if (scope->isLoopName(name, hash)) {
            scope->set(name, hash, std::move(value));
            return;
        }
        auto it = scope->variables.find(name, hash);
        if (it != scope->variables.end()) {
            it->second = std::move(value);
            return;
        }
        if (!scope->parent_) {
            scope->variables.insert_or_assign(name, hash, std::move(value));
            return;
        }
        scope = scope->parent_.get();
    }
}

} // namespace jinja
