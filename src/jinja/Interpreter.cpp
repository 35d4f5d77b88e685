#include "jinja/Interpreter.h"

#include "jinja/JinjaError.h"
#include "jinja/PropertyMembers.h"
#include "jinja/Tests.h"
#include "jinja/filters/Filters.h"
#include "jinja/filters/UnicodeText.h"

#include <algorithm>
#include <limits>
#include <pthread.h>
#include <utility>

namespace jinja {

namespace {

using EnvPtr = std::shared_ptr<Environment>;

// ---- render state -------------------------------------------------------

// How a statement body ended: normally, or at a break or continue that the
// nearest loop must handle.
enum class Flow : std::uint8_t { normal, break_, continue_ };

// A break or continue leaving a macro or caller body, on its way to the loop
// that is running the call.
struct ControlFlow {
    Flow flow;
};

struct RenderState {
    RenderLimits limits;
    std::size_t depth = 0;
    std::uint64_t steps = 0;
    const char* stackLimit = nullptr;
    // Scopes captured by caller functions. Only they can close a cycle of
    // shared ownership (a caller stored in a variable of the scope it holds or
    // of an ancestor), so clearing them and their ancestors at the end of the
    // render frees every such cycle.
    std::vector<std::weak_ptr<Environment>> capturedScopes;
    std::size_t sweepAt = 64;
    RenderState* previous = nullptr;
};

thread_local RenderState* tState = nullptr;

const RenderLimits& defaultLimits() {
    static const RenderLimits limits;
    return limits;
}

} // namespace

const RenderLimits& RenderLimits::current() noexcept {
    return tState ? tState->limits : defaultLimits();
}

void RenderLimits::chargeSteps(std::uint64_t steps) {
    if (!tState) return;
    tState->steps += steps;
    if (tState->steps > tState->limits.maxSteps)
        throw JinjaError::runtime("Rendering exceeds the limit of " +
                                  std::to_string(tState->limits.maxSteps) + " steps");
}

namespace {

const Value& undefinedValue() {
    static const Value value = Value::undefined();
    return value;
}

[[noreturn]] void tooDeep() {
    throw JinjaError::runtime("Maximum recursion depth exceeded");
}

// The lowest stack address the render may reach before it reports too deep a
// recursion: the thread's stack end plus a margin for unwinding and built-ins.
const char* computeStackLimit() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return nullptr;
    void* base = nullptr;
    std::size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || !base) return nullptr;
    std::size_t margin = std::min<std::size_t>(size / 4, std::size_t{512} << 10);
    return static_cast<const char*>(base) + margin;
}

inline void checkStack() {
    if (tState && tState->stackLimit &&
        static_cast<const char*>(__builtin_frame_address(0)) < tState->stackLimit)
        tooDeep();
}

void countStep() {
    RenderLimits::chargeSteps(1);
}

// Counts one nested call (macro or caller) for as long as it runs.
class CallDepth {
public:
    CallDepth() {
        checkStack();
        if (tState && ++tState->depth > tState->limits.maxDepth) {
            --tState->depth;
            tooDeep();
        }
    }
    ~CallDepth() {
        if (tState) --tState->depth;
    }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
};

void rememberCapturedScope(const EnvPtr& scope) {
    if (!tState) return;
    auto& scopes = tState->capturedScopes;
    scopes.push_back(scope);
    if (scopes.size() >= tState->sweepAt) {
        std::erase_if(scopes, [](const std::weak_ptr<Environment>& w) { return w.expired(); });
        tState->sweepAt = std::max<std::size_t>(64, scopes.size() * 2);
    }
}

// Clears the variables of a scope and its ancestors, up to (not including) `keep`.
void clearChain(Environment* scope, const Environment* keep = nullptr) {
    for (; scope && scope != keep; scope = scope->parent().get()) {
        Environment::Variables doomed;
        doomed.swap(scope->variables);
        // `doomed` dies here, releasing the closures it held.
    }
}

// Installs a render state for the current thread, unless one is already
// running (a render nested in a host function keeps the outer limits).
class RenderScope {
public:
    // `keep`: a scope of the caller's that outlives the run, which the cleanup
    // leaves as the template left it.
    RenderScope(const RenderLimits* limits, const Environment* keep) : keep_(keep) {
        if (tState && !limits) return;
        state_.limits = limits ? *limits : defaultLimits();
        thread_local const char* stackLimit = computeStackLimit();
        state_.stackLimit = stackLimit;
        state_.previous = tState;
        tState = &state_;
        owns_ = true;
    }
    ~RenderScope() {
        if (!owns_) return;
        for (auto& weak : state_.capturedScopes) {
            if (EnvPtr scope = weak.lock()) clearChain(scope.get(), keep_);
        }
        tState = state_.previous;
    }
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

private:
    RenderState state_;
    const Environment* keep_;
    bool owns_ = false;
};

// ---- expression helpers ----------------------------------------------------

bool isSimple(const Expression& e) noexcept {
    switch (e.kind()) {
    case Expression::Kind::string:
    case Expression::Kind::number:
    case Expression::Kind::integer:
    case Expression::Kind::boolean:
    case Expression::Kind::null:
    case Expression::Kind::identifier:
        return true;
    default:
        return false;
    }
}

// Resolves names and member chains with literal keys to the value they read,
// without copying anything; null when the expression needs full evaluation
// (it computes a new value, such as a method or a character of a string).
const Value* lookupPath(const Expression& e, const Environment& env) {
    switch (e.kind()) {
    case Expression::Kind::identifier: {
        const Value* v = env.find(e.as<Expression::Identifier>().name);
        return v ? v : &undefinedValue();
    }
    case Expression::Kind::member: {
        const auto& m = e.as<Expression::Member>();
        const Value* base = nullptr;
        if (m.computed) {
            Expression::Kind k = m.member.kind();
            if (k != Expression::Kind::string && k != Expression::Kind::integer) return nullptr;
            base = lookupPath(m.object, env);
            if (!base) return nullptr;
            if (k == Expression::Kind::string) {
                if (!base->isObject()) return base->isString() ? nullptr : &undefinedValue();
                const Value* v =
                    objectGet(base->asObject(), m.member.as<Expression::String>().value);
                return v ? v : &undefinedValue();
            }
            std::int64_t index = m.member.as<Expression::Integer>().value;
            if (base->isArray()) {
                const Array& a = base->asArray();
                std::int64_t n = static_cast<std::int64_t>(a.size());
                if (index < 0) index += n;
                return index >= 0 && index < n ? &a[static_cast<std::size_t>(index)]
                                               : &undefinedValue();
            }
            if (base->isObject()) {
                auto it = base->asObject().find(ObjectKey(index));
                return it != base->asObject().end() ? &it->second : &undefinedValue();
            }
            return base->isString() ? nullptr : &undefinedValue();
        }
        const auto* id = m.member.getIf<Expression::Identifier>();
        if (!id) return nullptr;
        base = lookupPath(m.object, env);
        if (!base) return nullptr;
        if (base->isObject()) {
            if (PropertyMembers::isObjectMethod(id->name)) return nullptr;
            const Value* v = objectGet(base->asObject(), id->name);
            return v ? v : &undefinedValue();
        }
        if (base->isString())
            return PropertyMembers::isStringMethod(id->name) ? nullptr : &undefinedValue();
        return &undefinedValue();
    }
    default:
        return nullptr;
    }
}

Value evaluate(const Expression& e, const EnvPtr& env);

// Evaluates into `scratch` unless the expression reads an existing value.
const Value& evaluateRef(const Expression& e, const EnvPtr& env, Value& scratch) {
    if (const Value* v = lookupPath(e, *env)) return *v;
    scratch = evaluate(e, env);
    return scratch;
}

const std::string* stringLiteral(const Expression& e) noexcept {
    const auto* s = e.getIf<Expression::String>();
    return s ? &s->value : nullptr;
}

void checkResultSize(Expression::BinaryOp op, const Value& l, const Value& r) {
    using Op = Expression::BinaryOp;
    if (op == Op::multiply) {
        const Value* text = l.isString() ? &l : r.isString() ? &r : nullptr;
        const Value* count = l.isString() ? &r : &l;
        if (text && count->isInt() && count->asInt() > 0)
            RenderLimits::checkBytes(text->asString().size(),
                                     static_cast<std::size_t>(count->asInt()));
    } else if (op == Op::add || op == Op::concat) {
        if (l.isString() && r.isString())
            RenderLimits::checkAppend(l.asString().size(), r.asString().size());
        if (op == Op::add && l.isArray() && r.isArray())
            RenderLimits::checkItems(l.asArray().size() + r.asArray().size());
        if (l.isString() != r.isString()) {
            // One side is printed: bound its text before building it.
            const Value& other = l.isString() ? r : l;
            const Value& text = l.isString() ? l : r;
            if (other.isArray() || other.isObject())
                RenderLimits::checkPrintedSize(other, text.asString().size());
        }
    }
}

// `a + b + c ...` and `a ~ b ~ c ...`: once the running result is a string,
// every further step appends the printed operand, so the chain is built in one
// buffer instead of one new string per step.
Value evaluateChain(const Expression& e, const EnvPtr& env) {
    using Op = Expression::BinaryOp;
    const Expression* spine[64];
    std::size_t count = 0;
    const Expression* node = &e;
    while (count < 64) {
        const auto* b = node->getIf<Expression::Binary>();
        if (!b || (b->op != Op::add && b->op != Op::concat)) break;
        spine[count++] = node;
        node = &b->left;
    }
    Value acc = evaluate(*node, env);
    std::size_t i = count;
    while (i > 0 && !acc.isString()) {
        const auto& b = spine[--i]->as<Expression::Binary>();
        Value right = evaluate(b.right, env);
        acc = Interpreter::evaluateBinaryValues(b.op, acc, right);
    }
    if (i == 0) return acc;
    std::string buffer = acc.asString();
    acc = Value();
    while (i > 0) {
        const auto& b = spine[--i]->as<Expression::Binary>();
        if (const std::string* lit = stringLiteral(b.right)) {
            RenderLimits::checkAppend(buffer.size(), lit->size());
            buffer += *lit;
            continue;
        }
        Value scratch;
        const Value& right = evaluateRef(b.right, env, scratch);
        RenderLimits::appendPrinted(buffer, right);
    }
    RenderLimits::chargeSteps(buffer.size() / 1024);
    return Value(std::move(buffer));
}

// `x == 'text'` and `x != 'text'` without building a value for the literal.
bool equalsLiteral(const Value& v, const std::string& literal) {
    return v.isString() && text::canonicallyEqual(v.asString(), literal);
}

void collectArguments(const ExpressionList& argExprs, const EnvPtr& env, Array& args) {
    args.reserve(argExprs.size());
    for (const Expression& a : argExprs) {
        const auto* u = a.getIf<Expression::Unary>();
        if (u && u->op == Expression::UnaryOp::splat) {
            Value spread = evaluate(u->operand, env);
            if (!spread.isArray()) throw JinjaError::runtime("Cannot unpack non-array value");
            const Array& items = spread.asArray();
            args.insert(args.end(), items.begin(), items.end());
            continue;
        }
        args.push_back(evaluate(a, env));
    }
}

KeywordArguments collectKeywords(const ExpressionMap& kwargExprs, const EnvPtr& env) {
    KeywordArguments kwargs;
    for (const auto& [name, expr] : kwargExprs)
        kwargs.insert_or_assign(name, evaluate(expr, env));
    return kwargs;
}

Value callValue(const Value& callee, const Array& args, const KeywordArguments& kwargs,
                const EnvPtr& env) {
    Value result;
    if (callee.isFunction())
        result = callee.asFunction()(args, kwargs, env);
    else if (callee.isMacro())
        result = Interpreter::callMacro(callee.asMacro(), args, kwargs, env);
    else
        throw JinjaError::runtime("Cannot call non-function value");
    RenderLimits::chargeValue(result);
    return result;
}

Value evaluateCall(const Expression::Call& c, const EnvPtr& env) {
    Value callee = evaluate(c.callee, env);
    Array args;
    collectArguments(c.args, env, args);
    KeywordArguments kwargs = collectKeywords(c.kwargs, env);
    return callValue(callee, args, kwargs, env);
}

Value evaluateMember(const Expression::Member& m, const EnvPtr& env) {
    Value scratch;
    const Value& object = evaluateRef(m.object, env, scratch);
    if (m.computed) {
        if (isSimple(m.member)) {
            Value key = evaluate(m.member, env);
            return Interpreter::evaluateComputedMember(object, key);
        }
        Value pinned = object; // the key's evaluation may run template code
        Value key = evaluate(m.member, env);
        return Interpreter::evaluateComputedMember(pinned, key);
    }
    const auto* id = m.member.getIf<Expression::Identifier>();
    if (!id) throw JinjaError::runtime("Property access requires identifier");
    return PropertyMembers::evaluate(object, id->name);
}

Value evaluateFilter(const Expression::Filter& f, const EnvPtr& env) {
    Array args;
    args.reserve(f.args.size() + 1);
    args.push_back(evaluate(f.operand, env));
    for (const Expression& a : f.args)
        args.push_back(evaluate(a, env));
    KeywordArguments kwargs = collectKeywords(f.kwargs, env);
    return Interpreter::applyFilter(f.name, args, kwargs, env);
}

Value evaluateBinary(const Expression& e, const EnvPtr& env) {
    using Op = Expression::BinaryOp;
    const auto& b = e.as<Expression::Binary>();
    switch (b.op) {
    case Op::and_: {
        Value left = evaluate(b.left, env);
        return left.isTruthy() ? evaluate(b.right, env) : left;
    }
    case Op::or_: {
        Value left = evaluate(b.left, env);
        return left.isTruthy() ? left : evaluate(b.right, env);
    }
    case Op::add:
    case Op::concat:
        return evaluateChain(e, env);
    case Op::equal:
    case Op::notEqual: {
        const std::string* lit = stringLiteral(b.right);
        if (lit) {
            Value scratch;
            bool eq = equalsLiteral(evaluateRef(b.left, env, scratch), *lit);
            return Value(b.op == Op::equal ? eq : !eq);
        }
        break;
    }
    default:
        break;
    }
    Value scratch;
    const Value& leftRef = evaluateRef(b.left, env, scratch);
    if (isSimple(b.right)) {
        Value rightScratch;
        const Value& right = evaluateRef(b.right, env, rightScratch);
        return Interpreter::evaluateBinaryValues(b.op, leftRef, right);
    }
    Value left = leftRef; // the right side may run template code
    Value right = evaluate(b.right, env);
    return Interpreter::evaluateBinaryValues(b.op, left, right);
}

Value evaluate(const Expression& e, const EnvPtr& env) {
    using K = Expression::Kind;
    switch (e.kind()) {
    case K::string:
        return Value(e.as<Expression::String>().value);
    case K::number:
        return Value(e.as<Expression::Number>().value);
    case K::integer:
        return Value(e.as<Expression::Integer>().value);
    case K::boolean:
        return Value(e.as<Expression::Boolean>().value);
    case K::null:
        return Value();
    case K::array:
    case K::tuple: {
        const ExpressionList& elements = e.kind() == K::array ? e.as<Expression::Array>().elements
                                                              : e.as<Expression::Tuple>().elements;
        Array items;
        items.reserve(elements.size());
        for (const Expression& x : elements)
            items.push_back(evaluate(x, env));
        Value result(std::move(items));
        RenderLimits::checkValueSize(result);
        return result;
    }
    case K::object: {
        Object object;
        for (const auto& [key, x] : e.as<Expression::Object>().entries)
            object.insert_or_assign(key, evaluate(x, env));
        Value result(std::move(object));
        RenderLimits::checkValueSize(result);
        return result;
    }
    case K::identifier: {
        const Value* v = env->find(e.as<Expression::Identifier>().name);
        return v ? *v : Value::undefined();
    }
    case K::unary: {
        const auto& u = e.as<Expression::Unary>();
        return Interpreter::evaluateUnaryValue(u.op, evaluate(u.operand, env));
    }
    case K::binary:
        return evaluateBinary(e, env);
    case K::ternary: {
        const auto& t = e.as<Expression::Ternary>();
        if (evaluate(t.test, env).isTruthy()) return evaluate(t.value, env);
        return t.alternate ? evaluate(*t.alternate, env) : Value();
    }
    case K::call:
        return evaluateCall(e.as<Expression::Call>(), env);
    case K::member: {
        if (const Value* v = lookupPath(e, *env)) return *v;
        return evaluateMember(e.as<Expression::Member>(), env);
    }
    case K::slice: {
        const auto& s = e.as<Expression::Slice>();
        Value value = evaluate(s.object, env);
        return Interpreter::evaluateSlice(value, s.start, s.stop, s.step, env);
    }
    case K::filter:
        return evaluateFilter(e.as<Expression::Filter>(), env);
    case K::test: {
        const auto& t = e.as<Expression::Test>();
        Array args;
        args.reserve(t.args.size() + 1);
        args.push_back(evaluate(t.operand, env));
        for (const Expression& a : t.args)
            args.push_back(evaluate(a, env));
        bool answer = Interpreter::evaluateTest(t.name, args, env);
        return Value(t.negated ? !answer : answer);
    }
    }
    return Value::undefined();
}

// ---- statements -------------------------------------------------------------

Flow runNodes(const NodeList& nodes, const EnvPtr& env, std::string& out);

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

Value cycleFunction(std::int64_t index) {
    return Value(
        Function([index](const Array& args, const KeywordArguments&, const EnvPtr&) -> Value {
            if (args.empty()) return Value(std::string());
            return args[static_cast<std::size_t>(index) % args.size()];
        }));
}

// Stores the loop object of position `index` under `loop` in the loop scope.
// The previous iteration's object is updated in place when the scope holds
// the only reference to it; a copy kept elsewhere keeps its own values.
void updateLoopObject(Environment& scope, const Array& items, std::size_t index) {
    auto slot = scope.variables.find(std::string_view("loop"));
    bool reusable = slot != scope.variables.end() && slot->second.isObject() &&
                    slot->second.asObject().size() == std::size(kLoopKeys);
    if (reusable) {
        std::size_t k = 0;
        for (const auto& entry : slot->second.asObject())
            reusable = reusable && entry.first.isString() && entry.first.text() == kLoopKeys[k++];
    }
    if (!reusable) {
        scope.set("loop", Interpreter::makeLoopObject(items, index));
        return;
    }
    const std::size_t count = items.size();
    const auto i = static_cast<std::int64_t>(index);
    const auto n = static_cast<std::int64_t>(count);
    Object& loop = slot->second.mutableObject();
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
    at(7) = index > 0 ? items[index - 1] : Value::undefined();
    at(8) = index + 1 < count ? items[index + 1] : Value::undefined();
    at(9) = cycleFunction(i);
}

Flow runLoop(const Statement::For& loop, const EnvPtr& env, std::string& out) {
    using LK = Statement::LoopVar::Kind;
    Value iterable = evaluate(loop.iterable, env);
    Array items;
    bool fromString = false;
    if (iterable.isArray()) {
        items = iterable.asArray();
    } else if (iterable.isString()) {
        fromString = true;
        std::vector<std::string_view> characters = text::graphemes(iterable.asString());
        RenderLimits::checkItems(characters.size());
        items.reserve(characters.size());
        for (std::string_view g : characters)
            items.emplace_back(g);
    } else if (iterable.isObject()) {
        items.reserve(iterable.asObject().size());
        for (const auto& [key, value] : iterable.asObject()) {
            if (loop.loopVar.kind == LK::single)
                items.push_back(Value(key));
            else
                items.push_back(Value(Array{Value(key), value}));
        }
    } else {
        throw JinjaError::runtime("Cannot iterate over non-iterable value");
    }
    iterable = Value();
    if (items.empty()) return runNodes(loop.alternate, env, out);

    EnvPtr scope = Environment::make(env);
    const std::size_t count = items.size();
    for (std::size_t index = 0; index < count; ++index) {
        countStep();
        const Value& item = items[index];
        if (loop.loopVar.kind == LK::single) {
            scope->set(singleName(loop.loopVar), item);
        } else {
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
        updateLoopObject(*scope, items, index);
        if (loop.test && !evaluate(*loop.test, scope).isTruthy()) continue;
        Flow flow;
        try {
            flow = runNodes(loop.body, scope, out);
        } catch (const ControlFlow& signal) {
            flow = signal.flow;
        }
        if (flow == Flow::break_) break;
    }
    return Flow::normal;
}

Flow runSet(const Statement::Set& s, const EnvPtr& env) {
    if (s.value) {
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
    rememberCapturedScope(blockScope);
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
        return runNodes(evaluate(i.test, env).isTruthy() ? i.body : i.alternate, env, out);
    }
    case K::set:
        return runSet(s.as<Statement::Set>(), env);
    case K::for_:
        return runLoop(s.as<Statement::For>(), env, out);
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
    checkStack();
    const std::size_t maxBytes = RenderLimits::current().maxBytes;
    for (const Node& node : nodes) {
        switch (node.kind()) {
        case Node::Kind::text:
            out += node.text();
            break;
        case Node::Kind::expression: {
            const Expression& e = node.expression();
            if (const std::string* lit = stringLiteral(e)) {
                out += *lit;
                break;
            }
            Value scratch;
            RenderLimits::appendPrinted(out, evaluateRef(e, env, scratch));
            break;
        }
        case Node::Kind::statement: {
            Flow flow = execute(node.statement(), env, out);
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

// ---- slicing ---------------------------------------------------------------

std::optional<std::int64_t> boundValue(const std::optional<Expression>& e, const EnvPtr& env,
                                       Value& holder) {
    if (!e) return std::nullopt;
    holder = evaluate(*e, env);
    if (holder.isInt()) return holder.asInt();
    return std::nullopt;
}

} // namespace

// ---- entry points --------------------------------------------------------------

std::string Interpreter::render(const NodeList& nodes, const std::shared_ptr<Environment>& root,
                                const RenderLimits& limits) {
    struct ClearRoot {
        Environment* root;
        ~ClearRoot() { clearChain(root); }
    } clearRoot{root.get()};
    RenderScope scope(&limits, nullptr);
    std::string out;
    out.reserve(1024);
    runTopLevel(nodes, root, out);
    return out;
}

void Interpreter::interpret(const NodeList& nodes, const std::shared_ptr<Environment>& env,
                            std::string& out) {
    RenderScope scope(nullptr, env.get());
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

Value Interpreter::evaluateExpression(const Expression& expression,
                                      const std::shared_ptr<Environment>& env) {
    return evaluate(expression, env);
}

// ---- operators -------------------------------------------------------------------

Value Interpreter::evaluateUnaryValue(Expression::UnaryOp op, const Value& operand) {
    switch (op) {
    case Expression::UnaryOp::not_:
        return Value(!operand.isTruthy());
    case Expression::UnaryOp::minus:
        if (operand.isInt()) {
            if (operand.asInt() == std::numeric_limits<std::int64_t>::min())
                throw JinjaError::runtime("Integer overflow in negation");
            return Value(-operand.asInt());
        }
        if (operand.isDouble()) return Value(-operand.asDouble());
        throw JinjaError::runtime("Cannot negate non-numeric value");
    case Expression::UnaryOp::plus:
        if (operand.isNumeric()) return operand;
        throw JinjaError::runtime("Cannot apply unary plus to non-numeric value");
    case Expression::UnaryOp::splat:
        throw JinjaError::runtime("Unpacking operator can only be used in function calls");
    }
    return Value::undefined();
}

Value Interpreter::evaluateBinaryValues(Expression::BinaryOp op, const Value& left,
                                        const Value& right) {
    using Op = Expression::BinaryOp;
    switch (op) {
    case Op::add:
    case Op::multiply:
    case Op::concat: {
        checkResultSize(op, left, right);
        Value result = op == Op::add        ? left.add(right)
                       : op == Op::multiply ? left.multiply(right)
                                            : left.concatenate(right);
        RenderLimits::chargeValue(result);
        return result;
    }
    case Op::subtract:
        return left.subtract(right);
    case Op::divide:
        return left.divide(right);
    case Op::floorDivide:
        return left.floorDivide(right);
    case Op::power:
        return left.power(right);
    case Op::modulo:
        return left.modulo(right);
    case Op::equal:
        return Value(left.isEquivalent(right));
    case Op::notEqual:
        return Value(!left.isEquivalent(right));
    case Op::less:
        return Value(left.compare(right) < 0);
    case Op::lessEqual:
        return Value(left.compare(right) <= 0);
    case Op::greater:
        return Value(left.compare(right) > 0);
    case Op::greaterEqual:
        return Value(left.compare(right) >= 0);
    case Op::in:
    case Op::notIn: {
        RenderLimits::chargeValue(right);
        bool contained = left.isContained(right);
        return Value(op == Op::in ? contained : !contained);
    }
    case Op::and_:
        return left.isTruthy() ? right : left;
    case Op::or_:
        return left.isTruthy() ? left : right;
    }
    return Value::undefined();
}

Value Interpreter::evaluateComputedMember(const Value& object, const Value& key) {
    if (key.isInt()) {
        std::int64_t i = key.asInt();
        if (object.isArray()) {
            const Array& a = object.asArray();
            std::int64_t n = static_cast<std::int64_t>(a.size());
            if (i < 0) i += n;
            return i >= 0 && i < n ? a[static_cast<std::size_t>(i)] : Value::undefined();
        }
        if (object.isString()) {
            const std::string& s = object.asString();
            std::vector<std::size_t> b = text::graphemeBoundaries(s);
            std::int64_t n = static_cast<std::int64_t>(b.size()) - 1;
            if (i < 0) i += n;
            if (i < 0 || i >= n) return Value::undefined();
            std::size_t at = static_cast<std::size_t>(i);
            return Value(s.substr(b[at], b[at + 1] - b[at]));
        }
        if (object.isObject()) {
            auto it = object.asObject().find(ObjectKey(i));
            return it != object.asObject().end() ? it->second : Value::undefined();
        }
        return Value::undefined();
    }
    if (key.isString() && object.isObject()) {
        const Value* v = objectGet(object.asObject(), key.asString());
        return v ? *v : Value::undefined();
    }
    return Value::undefined();
}

Value Interpreter::evaluateSlice(const Value& value, const std::optional<Expression>& start,
                                 const std::optional<Expression>& stop,
                                 const std::optional<Expression>& step,
                                 const std::shared_ptr<Environment>& env) {
    Value holder;
    std::optional<std::int64_t> startValue = boundValue(start, env, holder);
    std::optional<std::int64_t> stopValue = boundValue(stop, env, holder);
    std::optional<std::int64_t> stepValue = boundValue(step, env, holder);
    if (stepValue && *stepValue == 0) throw JinjaError::runtime("Slice step cannot be zero");
    std::int64_t stride = stepValue.value_or(1);
    if (!value.isString() && !value.isArray())
        throw JinjaError::runtime("Slice requires array or string");

    std::vector<std::size_t> bounds;
    std::int64_t n;
    if (value.isString()) {
        bounds = text::graphemeBoundaries(value.asString());
        n = static_cast<std::int64_t>(bounds.size()) - 1;
    } else {
        n = static_cast<std::int64_t>(value.asArray().size());
    }
    // Positions are computed in 128 bits, so huge bounds and steps neither
    // overflow nor make the walk visit positions outside 0 ... n - 1.
    using Wide = __int128;
    Wide first =
        startValue ? Wide(*startValue) + (*startValue < 0 ? n : 0) : (stride < 0 ? n - 1 : 0);
    Wide last = stopValue ? Wide(*stopValue) + (*stopValue < 0 ? n : 0) : (stride < 0 ? -1 : n);
    const Wide maxPos = std::numeric_limits<std::int64_t>::max();
    const Wide minPos = std::numeric_limits<std::int64_t>::min();
    if (first > maxPos || first < minPos) first = first > 0 ? maxPos : minPos;

    std::vector<std::size_t> positions;
    auto stepsTo = [&](Wide target) -> Wide {
        // Smallest k >= 0 with first + k * stride on the valid side of target.
        Wide distance = target - first;
        Wide s = stride;
        if (s > 0) return distance <= 0 ? 0 : (distance + s - 1) / s;
        return distance >= 0 ? 0 : (-distance + (-s) - 1) / (-s);
    };
    if (stride > 0) {
        Wide from = std::max<Wide>(first, 0);
        Wide end = std::min<Wide>(last, n);
        Wide k = stepsTo(from);
        for (Wide p = first + k * stride; p < end && p <= maxPos; p += stride)
            positions.push_back(static_cast<std::size_t>(p));
    } else {
        Wide from = std::min<Wide>(first, n - 1);
        Wide end = std::max<Wide>(last, -1);
        Wide k = stepsTo(from);
        for (Wide p = first + k * stride; p > end && p >= minPos; p += stride)
            positions.push_back(static_cast<std::size_t>(p));
    }
    if (value.isString()) {
        const std::string& s = value.asString();
        std::string out;
        for (std::size_t p : positions)
            out.append(s, bounds[p], bounds[p + 1] - bounds[p]);
        return Value(std::move(out));
    }
    const Array& a = value.asArray();
    Array out;
    out.reserve(positions.size());
    for (std::size_t p : positions)
        out.push_back(a[p]);
    return Value(std::move(out));
}

bool Interpreter::evaluateTest(std::string_view name, const Array& args,
                               const std::shared_ptr<Environment>& env) {
    static const KeywordArguments noKeywords;
    const Value* local = env ? env->find(name) : nullptr;
    for (const Value& a : args)
        RenderLimits::chargeValue(a);
    if (local && local->isFunction()) {
        Value result = local->asFunction()(args, noKeywords, env);
        return result.isBoolean() ? result.asBool() : result.isTruthy();
    }
    if (Tests::TestFunction test = Tests::find(name)) return test(args, noKeywords, env);
    throw JinjaError::runtime("Unknown test: " + std::string(name));
}

Value Interpreter::applyFilter(std::string_view name, const Array& args,
                               const KeywordArguments& kwargs,
                               const std::shared_ptr<Environment>& env) {
    // A filter scans its operand and builds its result.
    if (!args.empty()) RenderLimits::chargeValue(args[0]);
    const Value* local = env ? env->find(name) : nullptr;
    Value result;
    if (local && local->isFunction())
        result = local->asFunction()(args, kwargs, env);
    else if (Filters::FilterFunction filter = Filters::find(name))
        result = filter(args, kwargs, env);
    else
        throw JinjaError::runtime("Unknown filter: " + std::string(name));
    RenderLimits::chargeValue(result);
    return result;
}

// ---- assignment and loops --------------------------------------------------------

void Interpreter::assign(const Expression& target, const Value& value,
                         const std::shared_ptr<Environment>& env) {
    switch (target.kind()) {
    case Expression::Kind::identifier:
        env->set(target.as<Expression::Identifier>().name, value);
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
        Environment* holder = env.get();
        while (holder && !holder->variables.count(id->name))
            holder = holder->parent().get();
        if (holder) {
            auto it = holder->variables.find(id->name);
            if (it->second.isObject()) object = std::move(it->second);
            it->second = Value();
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
    const std::size_t count = items.size();
    const auto i = static_cast<std::int64_t>(index);
    const auto n = static_cast<std::int64_t>(count);
    const Value values[] = {Value(i + 1),
                            Value(i),
                            Value(index == 0),
                            Value(index + 1 == count),
                            Value(n),
                            Value(n - i),
                            Value(n - i - 1),
                            index > 0 ? items[index - 1] : Value::undefined(),
                            index + 1 < count ? items[index + 1] : Value::undefined(),
                            cycleFunction(i)};
    Object loop;
    loop.reserve(std::size(kLoopKeys));
    for (std::size_t k = 0; k < std::size(kLoopKeys); ++k)
        loop.insert_or_assign(ObjectKey(kLoopKeys[k]), values[k]);
    return Value(std::move(loop));
}

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
