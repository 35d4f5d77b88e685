#pragma once

#include "jinja/Ast.h"
#include "jinja/Tests.h"
#include "jinja/Value.h"
#include "jinja/filters/Filters.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace jinja {

// Fills data.facts from data.payload (children are complete already). The
// facts may point into the payload, so `data` must be where the node lives.
void computeFacts(Expression::Data& data);
// The same for a statement: a for statement's body plan (BodyPlan.h).
void computeFacts(Statement::Data& data);

// While one lives on a thread, the paths of plain keys built there get read
// identities (ExpressionFacts::readId): the same one for the same name and
// keys, a new one otherwise. Identities are unique across all sessions, so
// two paths with the same identity always read the same thing, even when a
// node is shared between templates.
class ReadIdentities {
public:
    ReadIdentities();
    ~ReadIdentities();
    ReadIdentities(const ReadIdentities&) = delete;
    ReadIdentities& operator=(const ReadIdentities&) = delete;

    // The identity of a path, by its name and keys joined as `key` says.
    std::uint64_t idFor(std::string key);
    // The session living on this thread, or null.
    static ReadIdentities* current() noexcept;

private:
    std::unordered_map<std::string, std::uint64_t> ids_;
    ReadIdentities* previous_;
};

// The built-in filter or test a node resolved when it was built, or null.
inline Filters::FilterFunction builtInFilter(const Expression& e) noexcept {
    return reinterpret_cast<Filters::FilterFunction>(e.facts().builtIn);
}
inline Tests::TestFunction builtInTest(const Expression& e) noexcept {
    return reinterpret_cast<Tests::TestFunction>(e.facts().builtIn);
}

// Expressions whose evaluation runs no template code and changes nothing:
// literals, names and constant collections.
bool isSimple(const Expression& e) noexcept;

// Whether the expression is `x | trim` with the built-in filter and no
// arguments (a function named trim in scope is for the caller to rule out).
bool isBuiltInTrim(const Expression& e) noexcept;

} // namespace jinja
