#pragma once

#include "jinja/Ast.h"

#include <string>

namespace jinja::testing {

// A compact, unambiguous text of a syntax tree for test tables:
// literals as written, (op left right) for operators, [..] for bodies.
std::string print(const Expression& expression);
std::string print(const NodeList& nodes);

} // namespace jinja::testing
