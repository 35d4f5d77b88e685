#pragma once

#include "jinja/Ast.h"
#include "jinja/Tests.h"
#include "jinja/Value.h"
#include "jinja/filters/Filters.h"

namespace jinja {

// Fills data.facts from data.payload (children are complete already). The
// facts may point into the payload, so `data` must be where the node lives.
void computeFacts(Expression::Data& data);

// The built-in filter or test a node resolved when it was built, or null.
inline Filters::FilterFunction builtInFilter(const Expression& e) noexcept {
    return reinterpret_cast<Filters::FilterFunction>(e.facts().builtIn);
}
inline Tests::TestFunction builtInTest(const Expression& e) noexcept {
    return reinterpret_cast<Tests::TestFunction>(e.facts().builtIn);
}

} // namespace jinja
