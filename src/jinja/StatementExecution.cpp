// Statement execution: output, conditionals, loops, assignments, macros,
// call blocks and filter blocks, and the render entry points.

#include "jinja/Evaluation.h"
#include "jinja/Globals.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/RenderState.h"
#include "jinja/filters/UnicodeText.h"

#include <algorithm>
#include <utility>

namespace jinja {

namespace {

using namespace evaluation;
using render::CallDepth;
using render::checkStack;
using render::countStep;

// How a statement body ended: normally, or at a break or continue that the
// nearest loop must handle.
enum class Flow : std::uint8_t { normal, break_, continue_ };

// A break or continue leaving a macro or caller body, on its way to the loop
// that is running the call.
struct ControlFlow {
    Flow flow;
};

Flow runNodes(const NodeList& nodes, const EnvPtr& env, std::string& out);
Flow runNodes(const NodeList& nodes, const EnvPtr& env, std::string& out, ReadMemo& memo);
Flow runPlanned(const BodyPlan& plan, std::uint32_t list, const EnvPtr& env, std::string& out,
                PlanReads& reads);

// Runs a body that is a function of its own (macro, caller): a break or
// continue that ends it travels on to the loop running the call.
std::string runFunctionBody(const NodeList& body, const EnvPtr& scope) {
    std::string buffer;
    Flow flow = runNodes(body, scope, buffer);
    if (flow != Flow::normal) throw ControlFlow{flow};
    return buffer;
}

std::string_view singleName(const Statement::LoopVar& v) {
    return v.names.empty() ? std::string_view() : v.names[0];
}

// The ten keys of the loop object, in order.
constexpr std::string_view kLoopKeys[] = {"index",    "index0",    "first",    "last",     "length",
                                          "revindex", "revindex0", "previtem", "nextitem", "cycle"};

// `loop.cycle`: the argument at the iteration's index, modulo their count.
struct CycleFunction {
    std::int64_t index;
    Value operator()(const Array& args, const KeywordArguments&, const EnvPtr&) const {
        if (args.empty()) return Value(std::string());
        return args[static_cast<std::size_t>(index) % args.size()];
    }
};

// What a loop walks: the elements of an array, or the numbers of a range
// that is never built.
struct LoopItems {
    const Array* array = nullptr;
    Globals::RangeBounds range;
    std::size_t count = 0;

    Value at(std::size_t k) const { return array ? (*array)[k] : Value(range.at(k)); }
};

// The loop object of position `index`.
Value makeLoopObject(const LoopItems& items, std::size_t index);

// The state of a running loop behind its scope's `loop` variable.
struct LoopState : Environment::LoopVariable {
    LoopItems items;
    std::size_t index = 0;
    // Identity of the object stored last (see Value::identity).
    const void* object = nullptr;
};

// Stores the loop object of the current position under `loop` in the loop
// scope. The object stored last time is updated in place when the scope
// holds the only reference to it; a copy kept elsewhere keeps its values.
void refreshLoopObject(Environment& scope, Environment::LoopVariable& variable) {
    auto& state = static_cast<LoopState&>(variable);
    const LoopItems& items = state.items;
    const std::size_t index = state.index;
    Value* slot = scope.findOwn("loop", Environment::kLoopHash);
    const bool reusable = slot && slot->isObject() && slot->identity() == state.object &&
                          slot->asObject().size() == std::size(kLoopKeys);
    if (!reusable) {
        scope.variables.insert_or_assign("loop", Environment::kLoopHash,
                                         makeLoopObject(items, index));
        state.object = scope.findOwn("loop", Environment::kLoopHash)->identity();
        return;
    }
    const std::size_t count = items.count;
    const auto i = static_cast<std::int64_t>(index);
    const auto n = static_cast<std::int64_t>(count);
    Object& loop = slot->mutableObject();
    state.object = slot->identity();
    auto at = [&](std::size_t k) -> Value& {
        return (loop.begin() + static_cast<std::ptrdiff_t>(k)).value();
    };
    at(0) = Value(i + 1);
    at(1) = Value(i);
    at(2) = Value(index == 0);
    at(3) = Value(index + 1 == count);
    at(4) = Value(n);
    at(5) = Value(n - i);
    at(6) = Value(n - i - 1);
    at(7) = index > 0 ? items.at(index - 1) : Value::undefined();
    at(8) = index + 1 < count ? items.at(index + 1) : Value::undefined();
    Function* cycle = at(9).exclusiveFunction();
    CycleFunction* target = cycle ? cycle->target<CycleFunction>() : nullptr;
    if (target)
        target->index = i;
    else
        at(9) = Value(Function(CycleFunction{i}));
}

// Keeps a loop scope's `loop` variable made on demand while the loop runs.
// When the loop ends, a scope that outlives it (held by a caller) keeps the
// last loop object, as if it had been stored at every iteration.
class LoopScope {
public:
    LoopScope(const EnvPtr& scope, const LoopItems& items) : scope_(scope) {
        state_.items = items;
        state_.refresh = &refreshLoopObject;
        // The variable exists from the start, so that making the object on a
        // read replaces a value and never adds one: a read may come while
        // references to the scope's other variables are held.
        scope_->variables.insert_or_assign("loop", Environment::kLoopHash, Value::undefined());
        scope_->attachLoop(&state_);
    }
    ~LoopScope() {
        if (state_.stale && scope_.use_count() > 1) {
            state_.stale = false;
            try {
                refreshLoopObject(*scope_, state_);
            } catch (...) {
                // Out of memory while unwinding: the variable stays unset.
            }
        }
        scope_->attachLoop(nullptr);
    }
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;

    void advance(std::size_t index) noexcept {
        state_.index = index;
        state_.stale = true;
    }

private:
    const EnvPtr& scope_;
    LoopState state_;
};

// `for x in range(...)` with the built-in range: the bounds of the numbers,
// with the same checks and step charge as building them. Absent for any
// other iterable.
std::optional<Globals::RangeBounds> rangeOf(const Expression& iterable, const EnvPtr& env) {
    static const Value* const builtInRange = [] {
        for (const auto& [name, function] : Globals::builtIn())
            if (name == "range") return &function;
        return static_cast<const Value*>(nullptr);
    }();
    static const std::uint64_t rangeHash = ScopeVariables::hashName("range");
    const auto* call = iterable.getIf<Expression::Call>();
    if (!call || !call->kwargs.empty() || call->args.empty() || call->args.size() > 3) return {};
    const auto* callee = call->callee.getIf<Expression::Identifier>();
    if (!callee || callee->name != "range") return {};
    const Value* function = env->find("range", rangeHash);
    if (!function || function->identity() != builtInRange->identity()) return {};
    Array args;
    for (const Expression& a : call->args) {
        const auto* u = a.getIf<Expression::Unary>();
        if (u && u->op == Expression::UnaryOp::splat) return {};
    }
    for (const Expression& a : call->args)
        args.push_back(evaluate(a, env));
    Globals::RangeBounds bounds = Globals::rangeBounds(args);
    RenderLimits::chargeSteps(bounds.count / 16);
    return bounds;
}

// Hot, as the expression functions a loop body runs: placed together with them.
[[gnu::hot]] Flow runLoop(const Statement::For& loop, const BodyPlan* plan, const EnvPtr& env,
                          std::string& out) {
    using LK = Statement::LoopVar::Kind;
    LoopItems items;
    Value iterable;
    // An array is iterated where it is (its storage is immutable while
    // `iterable` holds it); strings and objects become arrays first.
    Array built;
    bool fromString = false;
    if (std::optional<Globals::RangeBounds> range = rangeOf(loop.iterable, env)) {
        items.range = *range;
        items.count = range->count;
    } else {
        iterable = evaluate(loop.iterable, env);
        if (iterable.isArray()) {
            items.array = &iterable.asArray();
        } else if (iterable.isString()) {
            fromString = true;
            std::vector<std::string_view> characters = text::graphemes(iterable.asString());
            RenderLimits::checkItems(characters.size());
            built.reserve(characters.size());
            for (std::string_view g : characters)
                built.emplace_back(g);
            items.array = &built;
        } else if (iterable.isObject()) {
            built.reserve(iterable.asObject().size());
            for (const auto& [key, value] : iterable.asObject()) {
                if (loop.loopVar.kind == LK::single)
                    built.push_back(Value(key));
                else
                    built.push_back(Value(Array{Value(key), value}));
            }
            items.array = &built;
        } else {
            throw JinjaError::runtime("Cannot iterate over non-iterable value");
        }
        if (!iterable.isArray()) iterable = Value();
        items.count = items.array->size();
    }
    if (items.count == 0) return runNodes(loop.alternate, env, out);

    EnvPtr scope = Environment::make(env);
    LoopScope loopScope(scope, items);
    const std::size_t count = items.count;
    const std::string_view single = singleName(loop.loopVar);
    const std::uint64_t singleHash = ScopeVariables::hashName(single);
    const std::uint64_t singleHead = textHead(single);
    // Where the loop variable stands in the scope's list, once bound; a
    // variable named `loop` always takes the scope's own path.
    std::size_t slot = single == "loop" ? SIZE_MAX - 1 : SIZE_MAX;
    // Binds the item; where the scope keeps it, or null when unknown.
    auto bind = [&](const Value& item) -> const Value* {
        if (const Value* bound =
                scope->variables.assignAt(slot, single, singleHash, singleHead, item))
            return bound;
        scope->set(single, singleHash, item);
        if (slot != SIZE_MAX) return nullptr;
        const Environment::Variables& own = scope->variables;
        const auto at = own.find(single, singleHash);
        slot = static_cast<std::size_t>(at - own.begin());
        return &at->second;
    };
    const bool oneName = loop.loopVar.kind == LK::single;
    // The paths of the plan that start from the loop's variable may start
    // from the item just bound, as a search of the scope would find it, when
    // nothing runs in between.
    const bool seed = plan && plan->itemRootId != 0 && oneName && !loop.test;
    // What the planned body reads and learns; kept from one iteration to the
    // next only where PlanReads allows.
    PlanReads reads;
    if (plan) reads.maxBytes = RenderLimits::current().maxBytes;
    for (std::size_t index = 0; index < count; ++index) {
        countStep();
        const Value* bound = nullptr;
        if (oneName) {
            if (items.array)
                bound = bind((*items.array)[index]);
            else
                bound = bind(items.at(index));
        } else if (items.array) {
            const Value& item = (*items.array)[index];
            const auto& names = loop.loopVar.names;
            if (fromString) {
                for (std::size_t j = 0; j < names.size(); ++j)
                    scope->set(names[j], j == 0 ? item : Value::undefined());
            } else if (item.isArray()) {
                // Object entries arrive as [key, value] pairs and bind like arrays.
                const Array& parts = item.asArray();
                for (std::size_t j = 0; j < names.size(); ++j)
                    scope->set(names[j], j < parts.size() ? parts[j] : Value::undefined());
            }
        }
        loopScope.advance(index);
        if (loop.test && !isTruthy(*loop.test, scope)) continue;
        Flow flow;
        try {
            if (plan) {
                checkStack();
                reads.valid = 0;
                reads.rootId = 0;
                // The loop filter may have run anything.
                if (loop.test) reads.builtIns = 0;
                if (seed && bound) {
                    reads.rootId = plan->itemRootId;
                    reads.root = bound;
                }
                flow = runPlanned(*plan, 0, scope, out, reads);
            } else {
                flow = runNodes(loop.body, scope, out);
            }
        } catch (const ControlFlow& signal) {
            flow = signal.flow;
        }
        if (flow == Flow::break_) break;
    }
    return Flow::normal;
}

Flow runSet(const Statement::Set& s, const EnvPtr& env) {
    if (s.value) {
        if (appendInPlace(s.target, *s.value, env)) return Flow::normal;
        Value value = evaluate(*s.value, env);
        Interpreter::assign(s.target, value, env);
        return Flow::normal;
    }
    std::string buffer;
    Flow flow = runNodes(s.body, env, buffer);
    if (flow != Flow::normal) return flow;
    Interpreter::assign(s.target, Value(std::move(buffer)), env);
    return Flow::normal;
}

Flow runFilterBlock(const Statement::Filter& f, const EnvPtr& env, std::string& out) {
    std::string buffer;
    Flow flow = runNodes(f.body, env, buffer);
    if (flow != Flow::normal) return flow;
    std::string_view name;
    Array args;
    if (const auto* id = f.filterExpr.getIf<Expression::Identifier>()) {
        name = id->name;
        args.push_back(Value(std::move(buffer)));
    } else if (const auto* step = f.filterExpr.getIf<Expression::Filter>()) {
        name = step->name;
        args.reserve(step->args.size() + 1);
        args.push_back(Value(std::move(buffer)));
        for (const Expression& a : step->args)
            args.push_back(evaluate(a, env));
    } else {
        throw JinjaError::runtime("Invalid filter expression in filter statement");
    }
    RenderLimits::appendPrinted(out, Interpreter::applyFilter(name, args, KeywordArguments{}, env));
    return Flow::normal;
}

// The function a call block hands to its callee as `caller`.
Value makeCaller(const EnvPtr& blockScope, const Statement::Call& block) {
    std::optional<ExpressionList> params = block.callerArgs;
    NodeList body = block.body;
    render::rememberCapturedScope(blockScope);
    return Value(Function([blockScope, params = std::move(params), body = std::move(body)](
                              const Array& args, const KeywordArguments&, const EnvPtr&) -> Value {
        CallDepth depth;
        countStep();
        EnvPtr scope = Environment::make(blockScope);
        if (params) {
            std::size_t n = std::min(params->size(), args.size());
            for (std::size_t i = 0; i < n; ++i) {
                const auto* id = (*params)[i].getIf<Expression::Identifier>();
                if (!id) throw JinjaError::runtime("Caller parameter must be an identifier");
                scope->set(id->name, args[i]);
            }
        }
        return Value(runFunctionBody(body, scope));
    }));
}

Flow runCallBlock(const Statement::Call& c, const EnvPtr& env, std::string& out) {
    const Expression* callee = &c.callable;
    const ExpressionList* argExprs = nullptr;
    const ExpressionMap* kwargExprs = nullptr;
    if (const auto* call = c.callable.getIf<Expression::Call>()) {
        callee = &call->callee;
        argExprs = &call->args;
        kwargExprs = &call->kwargs;
    }
    Value function = evaluate(*callee, env);
    EnvPtr scope = Environment::make(env);
    scope->set("caller", makeCaller(env, c));
    Array args;
    if (argExprs) {
        args.reserve(argExprs->size());
        for (const Expression& a : *argExprs)
            args.push_back(evaluate(a, env));
    }
    KeywordArguments kwargs = kwargExprs ? collectKeywords(*kwargExprs, env) : KeywordArguments{};
    RenderLimits::appendPrinted(out, callValue(function, args, kwargs, scope));
    return Flow::normal;
}

Flow execute(const Statement& s, const EnvPtr& env, std::string& out) {
    using K = Statement::Kind;
    switch (s.kind()) {
    case K::program:
        return runNodes(s.as<Statement::Program>().body, env, out);
    case K::generation:
        return runNodes(s.as<Statement::Generation>().body, env, out);
    case K::if_: {
        const auto& i = s.as<Statement::If>();
        const NodeList& branch = isTruthy(i.test, env) ? i.body : i.alternate;
        return branch.empty() ? Flow::normal : runNodes(branch, env, out);
    }
    case K::set:
        return runSet(s.as<Statement::Set>(), env);
    case K::for_:
        return runLoop(s.as<Statement::For>(), s.plan(), env, out);
    case K::macro: {
        const auto& m = s.as<Statement::Macro>();
        env->set(m.name, Value(Macro{m.name, m.parameters, m.defaults, m.body}));
        return Flow::normal;
    }
    case K::break_:
        return Flow::break_;
    case K::continue_:
        return Flow::continue_;
    case K::call:
        return runCallBlock(s.as<Statement::Call>(), env, out);
    case K::filter:
        return runFilterBlock(s.as<Statement::Filter>(), env, out);
    }
    return Flow::normal;
}

Flow runNodes(const NodeList& nodes, const EnvPtr& env, std::string& out) {
    ReadMemo memo;
    return runNodes(nodes, env, out, memo);
}

// Prints an output node.
inline void emitNode(const Expression& e, const EnvPtr& env, std::string& out, ReadMemo& memo) {
    if (const std::string* lit = stringLiteral(e))
        out += *lit;
    else
        emit(e, env, out, memo);
}

// Runs the nodes with a read memo that holds for `env` on entry. Conditions
// and outputs keep it; every other statement clears it before it runs.
[[gnu::hot]] Flow runNodes(const NodeList& nodes, const EnvPtr& env, std::string& out,
                           ReadMemo& memo) {
    checkStack();
    const std::size_t maxBytes = RenderLimits::current().maxBytes;
    for (const Node& node : nodes) {
        switch (node.kind()) {
        case Node::Kind::text:
            out += node.text();
            break;
        case Node::Kind::expression:
            emitNode(node.expression(), env, out, memo);
            break;
        case Node::Kind::statement: {
            const Statement& s = node.statement();
            // Conditions are the most frequent statements: run here.
            if (const auto* i = s.getIf<Statement::If>()) {
                const NodeList* branch = isTruthy(i->test, env, memo) ? &i->body : &i->alternate;
                // A branch that is a lone if statement (as the else branch of
                // each step of an elif chain is) is tested here as well.
                while (branch->size() == 1 && (*branch)[0].kind() == Node::Kind::statement) {
                    const auto* next = (*branch)[0].statement().getIf<Statement::If>();
                    if (!next) break;
                    branch = isTruthy(next->test, env, memo) ? &next->body : &next->alternate;
                }
                if (branch->empty()) break;
                // A branch of one output, the most frequent kind, is printed here.
                if (branch->size() == 1 && (*branch)[0].kind() == Node::Kind::expression) {
                    emitNode((*branch)[0].expression(), env, out, memo);
                    break;
                }
                Flow flow = runNodes(*branch, env, out, memo);
                if (flow != Flow::normal) return flow;
                break;
            }
            memo.clear();
            Flow flow = execute(s, env, out);
            if (flow != Flow::normal) return flow;
            break;
        }
        case Node::Kind::comment:
            break;
        }
        if (out.size() > maxBytes) RenderLimits::checkBytes(out.size());
    }
    return Flow::normal;
}

// Runs the step list `list` of a loop body's plan, as runNodes runs the
// nodes it was made from. The caller has checked the stack.
[[gnu::hot]] Flow runPlanned(const BodyPlan& plan, std::uint32_t list, const EnvPtr& env,
                             std::string& out, PlanReads& reads) {
    using Kind = BodyPlan::Step::Kind;
    const std::size_t maxBytes = reads.maxBytes;
    // A chain of comparisons rather than a jump table (see planCondition).
    for (const BodyPlan::Step& step : plan.lists[list]) {
        const Kind kind = step.kind;
        if (kind == Kind::branch) {
            const BodyPlan::Step* branch = &step;
            const std::vector<BodyPlan::Step>* chosen;
            // An elif chain (a branch whose chosen list is one more branch)
            // is followed here, and a chosen list of one output printed here.
            for (;;) {
                chosen = &plan.lists[planCondition(plan, branch->condition, env, reads)
                                         ? branch->then
                                         : branch->otherwise];
                if (chosen->size() != 1 || chosen->front().kind != Kind::branch) break;
                branch = &chosen->front();
            }
            if (!chosen->empty()) {
                const Kind only = chosen->front().kind;
                if (chosen->size() == 1 &&
                    (only == Kind::printChain || only == Kind::printRead || only == Kind::print)) {
                    planPrint(plan, chosen->front(), env, out, reads);
                } else {
                    Flow flow =
                        runPlanned(plan, static_cast<std::uint32_t>(chosen - plan.lists.data()),
                                   env, out, reads);
                    if (flow != Flow::normal) return flow;
                }
            }
        } else if (kind == Kind::text) {
            out += *step.text;
        } else if (kind != Kind::other) {
            planPrint(plan, step, env, out, reads);
        } else {
            reads.clear();
            Flow flow = execute(*step.statement, env, out);
            if (flow != Flow::normal) return flow;
        }
        if (out.size() > maxBytes) RenderLimits::checkBytes(out.size());
    }
    return Flow::normal;
}

[[noreturn]] void outsideLoop(Flow flow) {
    throw JinjaError::runtime(flow == Flow::break_ ? "'break' outside of a loop"
                                                   : "'continue' outside of a loop");
}

void runTopLevel(const NodeList& nodes, const EnvPtr& env, std::string& out) {
    Flow flow;
    try {
        flow = runNodes(nodes, env, out);
    } catch (const ControlFlow& signal) {
        outsideLoop(signal.flow);
    }
    if (flow != Flow::normal) outsideLoop(flow);
}

} // namespace

// ---- entry points --------------------------------------------------------------

std::string Interpreter::render(const NodeList& nodes, const std::shared_ptr<Environment>& root,
                                const RenderLimits& limits) {
    struct ClearRoot {
        Environment* root;
        ~ClearRoot() { render::clearChain(root); }
    } clearRoot{root.get()};
    render::RenderScope scope(&limits, nullptr);
    // Room for as much as the thread's last render printed (up to 64 KiB),
    // so that repeated renders of one template do not grow the buffer step
    // by step each time.
    thread_local std::size_t lastSize = 0;
    std::string out;
    out.reserve(std::max<std::size_t>(1024, lastSize + lastSize / 8));
    runTopLevel(nodes, root, out);
    lastSize = std::min<std::size_t>(out.size(), std::size_t{64} << 10);
    return out;
}

void Interpreter::interpret(const NodeList& nodes, const std::shared_ptr<Environment>& env,
                            std::string& out) {
    render::RenderScope scope(nullptr, env.get());
    runTopLevel(nodes, env, out);
}

std::string Interpreter::interpret(const NodeList& nodes,
                                   const std::shared_ptr<Environment>& environment) {
    EnvPtr root = Environment::make(nullptr, environment->variables);
    std::string out;
    out.reserve(1024);
    interpret(nodes, root, out);
    return out;
}

void Interpreter::executeStatementWithOutput(const Statement& statement,
                                             const std::shared_ptr<Environment>& env,
                                             std::string& out) {
    Flow flow = execute(statement, env, out);
    if (flow != Flow::normal) outsideLoop(flow);
}

// ---- assignment and loops --------------------------------------------------------

void Interpreter::assign(const Expression& target, const Value& value,
                         const std::shared_ptr<Environment>& env) {
    switch (target.kind()) {
    case Expression::Kind::identifier:
        env->set(target.as<Expression::Identifier>().name, target.facts().nameHash, value);
        return;
    case Expression::Kind::tuple: {
        const ExpressionList& names = target.as<Expression::Tuple>().elements;
        if (!value.isArray())
            throw JinjaError::runtime("Cannot unpack non-array value for tuple assignment.");
        const Array& values = value.asArray();
        if (names.size() != values.size())
            throw JinjaError::runtime("Tuple assignment mismatch: " + std::to_string(names.size()) +
                                      " variables and " + std::to_string(values.size()) +
                                      " values.");
        for (std::size_t i = 0; i < names.size(); ++i)
            assign(names[i], values[i], env);
        return;
    }
    case Expression::Kind::member: {
        const auto& m = target.as<Expression::Member>();
        Value object = evaluate(m.object, env);
        ObjectKey key;
        if (!m.computed) {
            const auto* id = m.member.getIf<Expression::Identifier>();
            if (!id) throw JinjaError::runtime("Property assignment requires identifier");
            key = ObjectKey(id->name);
        } else {
            Value k = evaluate(m.member, env);
            if (k.isInt())
                key = ObjectKey(k.asInt());
            else if (k.isString())
                key = ObjectKey(k.asString());
            else
                throw JinjaError::runtime("Computed property key must be a string or integer");
        }
        if (!object.isObject()) return;
        const auto* id = m.object.getIf<Expression::Identifier>();
        if (!id) return; // the updated copy would reach no variable
        // Take the variable's own copy out of its scope first, so the update
        // does not copy shared storage when this is its only holder.
        const std::uint64_t hash = m.object.facts().nameHash;
        Value* held = nullptr;
        for (Environment* holder = env.get(); holder && !held; holder = holder->parent().get())
            held = holder->findOwn(id->name, hash);
        if (held) {
            if (held->isObject()) object = std::move(*held);
            *held = Value();
        }
        object.mutableObject().insert_or_assign(std::move(key), value);
        try {
            RenderLimits::checkValueSize(object);
        } catch (...) {
            env->setInChain(id->name, std::move(object));
            throw;
        }
        env->setInChain(id->name, std::move(object));
        return;
    }
    default: {
        std::string rendering(Expression::kindName(target.kind()));
        if (const auto* s = target.getIf<Expression::String>())
            rendering += "(\"" + s->value + "\")";
        else if (const auto* i = target.getIf<Expression::Integer>())
            rendering += "(" + std::to_string(i->value) + ")";
        else
            rendering += "(" + target.toJson() + ")";
        throw JinjaError::runtime("Invalid target for assignment: " + rendering);
    }
    }
}

Value Interpreter::makeLoopObject(const Array& items, std::size_t index) {
    LoopItems source;
    source.array = &items;
    source.count = items.size();
    return jinja::makeLoopObject(source, index);
}

namespace {

Value makeLoopObject(const LoopItems& items, std::size_t index) {
    const std::size_t count = items.count;
    const auto i = static_cast<std::int64_t>(index);
    const auto n = static_cast<std::int64_t>(count);
    const Value values[] = {Value(i + 1),
                            Value(i),
                            Value(index == 0),
                            Value(index + 1 == count),
                            Value(n),
                            Value(n - i),
                            Value(n - i - 1),
                            index > 0 ? items.at(index - 1) : Value::undefined(),
                            index + 1 < count ? items.at(index + 1) : Value::undefined(),
                            Value(Function(CycleFunction{i}))};
    Object loop;
    loop.reserve(std::size(kLoopKeys));
    for (std::size_t k = 0; k < std::size(kLoopKeys); ++k)
        loop.insert_or_assign(ObjectKey(kLoopKeys[k]), values[k]);
    return Value(std::move(loop));
}

} // namespace

// ---- macros -----------------------------------------------------------------------

Value Interpreter::callMacro(const Macro& macro, const Array& arguments,
                             const KeywordArguments& keywordArguments,
                             const std::shared_ptr<Environment>& env) {
    CallDepth depth;
    countStep();
    EnvPtr scope = Environment::make(env);
    if (const Value* caller = env->find("caller"); caller && !caller->isUndefined())
        scope->set("caller", *caller);
    for (const auto& [name, expr] : macro.defaults)
        scope->set(name, evaluate(expr, env));
    for (std::size_t i = 0; i < macro.parameters.size(); ++i) {
        const std::string& name = macro.parameters[i];
        if (i < arguments.size())
            scope->set(name, arguments[i]);
        else
            scope->set(name, (*scope)[name]);
    }
    for (const auto& [name, value] : keywordArguments)
        scope->set(name, value);
    return Value(runFunctionBody(macro.body, scope));
}

} // namespace jinja
