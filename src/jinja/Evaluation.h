#pragma once
// Expression evaluation shared by the statement runner: the internal entry
// points behind Interpreter::evaluateExpression.

#include "jinja/Ast.h"
#include "jinja/Environment.h"
#include "jinja/Value.h"

#include <memory>
#include <string>

namespace jinja::evaluation {

using EnvPtr = std::shared_ptr<Environment>;

// The value of an expression in a scope.
Value evaluate(const Expression& e, const EnvPtr& env);

// The value an expression reads, without a copy when it names an existing
// value (a variable or a member chain with literal keys); otherwise evaluated
// into `scratch`.
const Value& evaluateRef(const Expression& e, const EnvPtr& env, Value& scratch);

// The text of a string literal expression, or null.
const std::string* stringLiteral(const Expression& e) noexcept;

KeywordArguments collectKeywords(const ExpressionMap& kwargExprs, const EnvPtr& env);

// Calls a function or macro value; anything else fails.
Value callValue(const Value& callee, const Array& args, const KeywordArguments& kwargs,
                const EnvPtr& env);

} // namespace jinja::evaluation
