#include "jinja/Environment.h"

#include "jinja/Globals.h"

namespace jinja {

Environment::Environment(std::shared_ptr<Environment> parent, Variables initial)
    : variables(std::move(initial)), parent_(std::move(parent)) {
    if (!parent_) {
        for (const auto& [name, function] : Globals::builtIn())
            variables.insert_or_assign(name, function);
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

const Value* Environment::find(std::string_view name) const noexcept {
    for (const Environment* scope = this; scope; scope = scope->parent_.get()) {
        auto it = scope->variables.find(name);
        if (it != scope->variables.end()) return &it->second;
    }
    return nullptr;
}

Value Environment::operator[](std::string_view name) const {
    const Value* v = find(name);
    return v ? *v : Value::undefined();
}

void Environment::set(std::string_view name, Value value) {
    auto it = variables.find(name);
    if (it != variables.end())
        it->second = std::move(value);
    else
        variables.emplace(std::string(name), std::move(value));
}

void Environment::setInChain(std::string_view name, Value value) {
    Environment* scope = this;
    while (true) {
        auto it = scope->variables.find(name);
        if (it != scope->variables.end()) {
            it->second = std::move(value);
            return;
        }
        if (!scope->parent_) {
            scope->variables.emplace(std::string(name), std::move(value));
            return;
        }
        scope = scope->parent_.get();
    }
}

} // namespace jinja
