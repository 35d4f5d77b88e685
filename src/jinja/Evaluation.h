#pragma once
// Expression evaluation shared by the statement runner: the internal entry
// points behind Interpreter::evaluateExpression.

#include "jinja/Ast.h"
#include "jinja/BodyPlan.h"
#include "jinja/Environment.h"
#include "jinja/Tests.h"
#include "jinja/Value.h"
#include "jinja/filters/Filters.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jinja::evaluation {

using EnvPtr = std::shared_ptr<Environment>;

// The values that the last two paths with a read identity
// (ExpressionFacts::readId) read in a scope. A statement list keeps a memo
// while it runs only conditions and outputs that read values, so that
// `if m.role == 'a'` ... `elif m.role == 'b' and m.extra is defined` and the
// `{{ m['role'] }}` in the branch read each entry once. Whatever runs
// anything else (a call, a filter, an assignment, a loop) clears it first: a
// value must stay where it was read and keep what it held.
// The memo also keeps the variable the last path began with, so that
// `m.content` after `m.role` starts from it without looking it up again.
//
// Every identity begins a 16-byte pair of its own: a new memo is zeroed in
// 16-byte stores, and the reads that follow at once must each start where
// one of those stores starts, or some processors cannot forward the stored
// bytes and stall the read.
struct ReadMemo {
    struct Read {
        std::uint64_t id = 0;
        const Value* value = nullptr;
    };
    // The newest read first.
    Read reads[2];
    std::uint64_t rootId = 0;
    const Value* root = nullptr;
    const Environment* scope = nullptr;

    void clear() noexcept { reads[0].id = reads[1].id = rootId = 0; }
    // Makes the memo one of `env`, forgetting what it held for another scope.
    void holdScope(const Environment* env) noexcept {
        if (scope == env) return;
        clear();
        scope = env;
    }
};

// The values a planned loop body (BodyPlan) has read in one scope during one
// iteration: read i is values[i] while bit i of `valid` is set. A step that
// runs anything but reads clears them first, as with ReadMemo. The root
// variable read last is kept too.
// What else a loop's run has learnt and may keep from one iteration to the
// next while nothing but reads runs: bit i of `builtIns` is set once no
// function in scope has the filter or test name numbered i in the plan
// (Condition::name, Piece::name), so that the built-in of that name runs.
// `maxBytes` is the render's output limit (RenderLimits), read once.
struct PlanReads {
    std::uint32_t valid = 0;
    std::uint32_t builtIns = 0;
    std::uint64_t rootId = 0;
    const Value* root = nullptr;
    std::size_t maxBytes = 0;
    const Value* values[BodyPlan::maxReads];

    void clear() noexcept {
        valid = 0;
        builtIns = 0;
        rootId = 0;
    }
    bool knowsBuiltIn(std::uint8_t name) const noexcept {
        return name < BodyPlan::maxNames && ((builtIns >> name) & 1);
    }
    // Keeps `builtIn` for name number `name`; returns it.
    bool learnBuiltIn(std::uint8_t name, bool builtIn) noexcept {
        if (builtIn && name < BodyPlan::maxNames) builtIns |= std::uint32_t{1} << name;
        return builtIn;
    }
};

// Whether the plan's condition number `index` holds, in `env`.
bool planCondition(const BodyPlan& plan, std::uint32_t index, const EnvPtr& env, PlanReads& reads);
// Prints an output step of the plan (printRead, printChain or print).
void planPrint(const BodyPlan& plan, const BodyPlan::Step& step, const EnvPtr& env,
               std::string& out, PlanReads& reads);

// The value of an expression in a scope.
Value evaluate(const Expression& e, const EnvPtr& env);

// The value an expression reads, without a copy when it names an existing
// value (a variable, a member chain with literal keys, a literal); otherwise
// evaluated into `scratch`.
const Value& evaluateRef(const Expression& e, const EnvPtr& env, Value& scratch);

// Whether the expression's value is truthy, without building the value where
// it can be avoided (tests, and, or, not).
bool isTruthy(const Expression& e, const EnvPtr& env);
// The same, reading paths through `memo` (and clearing it where it runs
// anything but reads).
bool isTruthy(const Expression& e, const EnvPtr& env, ReadMemo& memo);

// Appends the printed value of the expression to `out`. A chain of `+` or
// `~` over a string is printed piece by piece, without building its value.
void emit(const Expression& e, const EnvPtr& env, std::string& out);
void emit(const Expression& e, const EnvPtr& env, std::string& out, ReadMemo& memo);

// `set target = target + ...` (or `~`) where the target holds a string: the
// printed operands are appended to that string where it is, when nothing
// else shares it, instead of copying it into a new one. False when the
// statement does not have that form and must be run the general way.
bool appendInPlace(const Expression& target, const Expression& value, const EnvPtr& env);

// The text of a string literal expression, or null.
inline const std::string* stringLiteral(const Expression& e) noexcept {
    const auto* s = e.getIf<Expression::String>();
    return s ? &s->value : nullptr;
}

KeywordArguments collectKeywords(const ExpressionMap& kwargExprs, const EnvPtr& env);

// Calls a function or macro value; anything else fails.
Value callValue(const Value& callee, const Array& args, const KeywordArguments& kwargs,
                const EnvPtr& env);

// Runs a filter: a function of that name in scope first, then the built-in
// (null when there is none). `global`: whether a global function has the
// name (false spares searching the globals).
Value applyFilter(std::string_view name, std::uint64_t nameHash, Filters::FilterFunction builtIn,
                  const Array& args, const KeywordArguments& kwargs, const EnvPtr& env,
                  bool global = true);
// Runs a test the same way; the tested value is args[0].
bool applyTest(std::string_view name, std::uint64_t nameHash, Tests::TestFunction builtIn,
               const Array& args, const EnvPtr& env, bool global = true);

// A positional-argument array for one call, taken from a per-thread stock
// so that calls do not allocate one each time; handed back empty.
class ArgumentBuffer {
public:
    ArgumentBuffer() : args_(take()) {}
    ~ArgumentBuffer() { giveBack(args_); }
    ArgumentBuffer(const ArgumentBuffer&) = delete;
    ArgumentBuffer& operator=(const ArgumentBuffer&) = delete;

    Array& args() noexcept { return *args_; }

private:
    // The stock: arrays handed back, on a fixed shelf that needs no
    // per-thread construction; a thread's arrays are freed when it ends.
    struct Shelf {
        Array* arrays[32];
        std::size_t count;
    };
    static constinit thread_local Shelf shelf_;

    static Array* take() {
        if (shelf_.count > 0) return shelf_.arrays[--shelf_.count];
        return newArray();
    }
    static void giveBack(Array* args) noexcept {
        args->clear();
        if (shelf_.count < std::size(shelf_.arrays) && args->capacity() <= 64)
            shelf_.arrays[shelf_.count++] = args;
        else
            delete args;
    }
    // Allocates an array, making sure the thread's shelf is emptied when
    // the thread ends.
    static Array* newArray();

    Array* args_;
};

} // namespace jinja::evaluation
