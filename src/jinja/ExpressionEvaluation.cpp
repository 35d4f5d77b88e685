// Expression evaluation: operators, member access, calls, filters, tests and slices.

#include "jinja/Evaluation.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"
#include "jinja/PropertyMembers.h"
#include "jinja/RenderLimits.h"
#include "jinja/Tests.h"
#include "jinja/filters/Filters.h"
#include "jinja/filters/UnicodeText.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace jinja {

namespace evaluation {

namespace {

const Value& undefinedValue() {
    static const Value value = Value::undefined();
    return value;
}

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

std::optional<std::int64_t> boundValue(const std::optional<Expression>& e, const EnvPtr& env,
                                       Value& holder) {
    if (!e) return std::nullopt;
    holder = evaluate(*e, env);
    if (holder.isInt()) return holder.asInt();
    return std::nullopt;
}

} // namespace

} // namespace evaluation

using namespace evaluation;

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

} // namespace jinja
