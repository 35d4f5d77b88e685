#pragma once

#include "jinja/Ast.h"
#include "jinja/Environment.h"
#include "jinja/Macro.h"
#include "jinja/RenderLimits.h"
#include "jinja/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace jinja {

// Runs compiled templates: evaluates expressions, executes statements, calls
// macros and runs call blocks, appending everything printed to one buffer.
class Interpreter {
public:
    Interpreter() = delete;

    // One whole render: runs the nodes in `root` (a fresh root scope owned by
    // the render) within the limits, and clears every scope of the render,
    // root included, before returning, so closures stored in scopes cannot
    // keep each other alive. `break` or `continue` outside a loop, too deep
    // recursion and exceeded limits fail with JinjaError (runtime).
    static std::string render(const NodeList& nodes, const std::shared_ptr<Environment>& root,
                              const RenderLimits& limits = {});

    // Runs the nodes in `env`, appending to `out`. Outside a render it runs
    // with the default limits and leaves `env` as the template left it.
    static void interpret(const NodeList& nodes, const std::shared_ptr<Environment>& env,
                          std::string& out);
    // Runs the nodes in a fresh root scope seeded with `environment`'s own variables.
    static std::string interpret(const NodeList& nodes,
                                 const std::shared_ptr<Environment>& environment);

    static void executeStatementWithOutput(const Statement& statement,
                                           const std::shared_ptr<Environment>& env,
                                           std::string& out);
    static void assign(const Expression& target, const Value& value,
                       const std::shared_ptr<Environment>& env);
    static Value makeLoopObject(const Array& items, std::size_t index);

    static Value evaluateExpression(const Expression& expression,
                                    const std::shared_ptr<Environment>& env);
    static Value evaluateUnaryValue(Expression::UnaryOp op, const Value& operand);
    static Value evaluateBinaryValues(Expression::BinaryOp op, const Value& left,
                                      const Value& right);
    static Value evaluateComputedMember(const Value& object, const Value& key);
    static Value evaluateSlice(const Value& value, const std::optional<Expression>& start,
                               const std::optional<Expression>& stop,
                               const std::optional<Expression>& step,
                               const std::shared_ptr<Environment>& env);
    // Runs a named test: a function of that name in scope first, then the
    // built-in test; the tested value is args[0].
    static bool evaluateTest(std::string_view name, const Array& args,
                             const std::shared_ptr<Environment>& env);
    // Calls a built-in filter or a function of that name in scope.
    static Value applyFilter(std::string_view name, const Array& args,
                             const KeywordArguments& kwargs,
                             const std::shared_ptr<Environment>& env);

    // Runs a macro body in a new scope below `env`; the printed body is the result.
    static Value callMacro(const Macro& macro, const Array& arguments,
                           const KeywordArguments& keywordArguments,
                           const std::shared_ptr<Environment>& env);
};

} // namespace jinja
