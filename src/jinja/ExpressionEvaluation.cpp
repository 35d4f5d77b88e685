// Expression evaluation: operators, member access, calls, filters, tests and slices.

#include "jinja/ByteCompare.h"
#include "jinja/Evaluation.h"
#include "jinja/ExpressionFacts.h"
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

using E = Expression;

const Value& undefinedValue() {
    static const Value value = Value::undefined();
    return value;
}

// Functions marked hot run for every item of a rendered loop (every message
// of a chat template). The compiler keeps them together, so that the render's
// inner code spans few cache lines and pages wherever the rest lands.

// The entry of a literal step's key found by hashing, remembered for the
// next read.
[[gnu::hot]] [[gnu::noinline]] const Value* searchKey(const Object& object,
                                                      const LiteralPath::Step& step) {
    auto it = object.find(step.text, static_cast<std::size_t>(step.hash));
    if (it == object.end()) return nullptr;
    step.slot.set(static_cast<std::uint32_t>(it - object.begin()));
    return &it->second;
}

// The entry of a literal step's key, trying first where the key stood in
// the object the step read last.
[[gnu::always_inline]] inline const Value* findKey(const Object& object,
                                                   const LiteralPath::Step& step) {
    const auto& entries = object.values_container();
    const std::uint32_t at = step.slot.get();
    if (at < entries.size()) {
        // Keys are unique under canonical equivalence, so a key with the
        // same bytes is the one a search would find.
        const auto& [key, value] = entries[at];
        if (key.hasBytes(step.text, step.head)) return &value;
    }
    return searchKey(object, step);
}

// Reads the steps of `path` from `first` on, starting at `v`: methods,
// characters of strings and integer keys are taken care of here.
[[gnu::noinline]] const Value* walkSteps(const LiteralPath& path, std::size_t first,
                                         const Value* v) {
    using Kind = LiteralPath::Step::Kind;
    for (std::size_t i = first; i < path.steps.size(); ++i) {
        const LiteralPath::Step& step = path.steps[i];
        switch (step.kind) {
        case Kind::name:
            if (v->isObject()) {
                if (step.objectMethod) return nullptr;
                v = findKey(v->asObject(), step);
            } else if (v->isString()) {
                return step.stringMethod ? nullptr : &undefinedValue();
            } else {
                return &undefinedValue();
            }
            break;
        case Kind::key:
            if (!v->isObject()) return v->isString() ? nullptr : &undefinedValue();
            v = findKey(v->asObject(), step);
            break;
        case Kind::index: {
            std::int64_t index = step.index;
            if (v->isArray()) {
                const Array& a = v->asArray();
                const auto n = static_cast<std::int64_t>(a.size());
                if (index < 0) index += n;
                v = index >= 0 && index < n ? &a[static_cast<std::size_t>(index)] : nullptr;
            } else if (v->isObject()) {
                auto it = v->asObject().find(ObjectKey(index));
                v = it != v->asObject().end() ? &it->second : nullptr;
            } else {
                return v->isString() ? nullptr : &undefinedValue();
            }
            break;
        }
        }
        if (!v) return &undefinedValue();
    }
    return v;
}

// Reads the steps of `path` from its root's value `v`: keys of objects, the
// common case, here; anything else through walkSteps.
[[gnu::always_inline]] inline const Value* readSteps(const LiteralPath& path, const Value* v) {
    const std::size_t count = path.steps.size();
    for (std::size_t i = 0; i < count; ++i) {
        const LiteralPath::Step& step = path.steps[i];
        if (!step.plainKey || !v->isObject()) return walkSteps(path, i, v);
        v = findKey(v->asObject(), step);
        if (!v) return &undefinedValue();
    }
    return v;
}

// Resolves names and member chains with literal keys to the value they read,
// without copying anything; null when the expression needs full evaluation
// (it computes a new value, such as a method or a character of a string).
// With a memo, the root variable is taken from it or remembered in it.
[[gnu::hot]] inline const Value* lookupPath(const Expression& e, const Environment& env,
                                            ReadMemo* memo = nullptr) {
    const LiteralPath* path = e.facts().path.get();
    if (!path) {
        if (const auto* id = e.getIf<E::Identifier>()) {
            const Value* v = env.find(id->name, e.facts().nameHash);
            return v ? v : &undefinedValue();
        }
        return nullptr;
    }
    const Value* v;
    const std::uint64_t rootId = path->rootId;
    if (memo && rootId != 0 && memo->rootId == rootId && memo->scope == &env) {
        v = memo->root;
    } else {
        v = env.find(path->root, path->rootHash, path->rootHead, path->rootSlot);
        if (!v) return &undefinedValue();
        if (memo && rootId != 0) {
            memo->holdScope(&env);
            memo->rootId = rootId;
            memo->root = v;
        }
    }
    return readSteps(*path, v);
}

} // namespace

constinit thread_local ArgumentBuffer::Shelf ArgumentBuffer::shelf_{};

Array* ArgumentBuffer::newArray() {
    struct Cleaner {
        ~Cleaner() {
            while (shelf_.count > 0)
                delete shelf_.arrays[--shelf_.count];
        }
    };
    thread_local Cleaner cleaner;
    (void)cleaner;
    return new Array();
}

// Evaluates into `scratch` unless the expression reads an existing value.
namespace {

// evaluateRef for this file's hot paths, where the common cases (a literal,
// a variable, a member chain) cost no call.
[[gnu::always_inline]] inline const Value& readRef(const Expression& e, const EnvPtr& env,
                                                   Value& scratch) {
    if (const Value* constant = e.facts().constant.get()) {
        if (!constant->isString()) RenderLimits::checkValueSize(*constant);
        return *constant;
    }
    if (const Value* v = lookupPath(e, *env)) return *v;
    scratch = evaluate(e, env);
    return scratch;
}

// The value a literal or a path reads, through a memo: a path whose read
// identity the memo holds for this scope is not read again, and a path read
// here is remembered. Null when the expression must be evaluated.
[[gnu::always_inline]] inline const Value* peekRef(const Expression& e, const EnvPtr& env,
                                                   ReadMemo& memo) {
    const ExpressionFacts& facts = e.facts();
    if (const Value* constant = facts.constant.get()) {
        if (!constant->isString()) RenderLimits::checkValueSize(*constant);
        return constant;
    }
    const std::uint64_t id = facts.readId;
    if (id != 0 && memo.scope == env.get()) {
        if (memo.reads[0].id == id) return memo.reads[0].value;
        if (memo.reads[1].id == id) return memo.reads[1].value;
    }
    const Value* v = lookupPath(e, *env, &memo);
    if (v && id != 0) {
        memo.holdScope(env.get());
        memo.reads[1] = memo.reads[0];
        memo.reads[0] = {id, v};
    }
    return v;
}

// readRef through a memo. Anything that is not a plain read clears the memo
// before it runs.
[[gnu::always_inline]] inline const Value& readRef(const Expression& e, const EnvPtr& env,
                                                   Value& scratch, ReadMemo& memo) {
    if (const Value* v = peekRef(e, env, memo)) return *v;
    memo.clear();
    scratch = evaluate(e, env);
    return scratch;
}

} // namespace

const Value& evaluateRef(const Expression& e, const EnvPtr& env, Value& scratch) {
    return readRef(e, env, scratch);
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

bool isChainStep(const Expression& e) noexcept {
    const auto* b = e.getIf<E::Binary>();
    return b && (b->op == E::BinaryOp::add || b->op == E::BinaryOp::concat);
}

// The operands of `a + b + c ...` or `a ~ b ~ c ...`: the steps from the
// outermost in, and the leftmost operand.
struct Chain {
    explicit Chain(const Expression& e) noexcept {
        const Expression* node = &e;
        while (count < std::size(steps) && isChainStep(*node)) {
            steps[count++] = node;
            node = &node->as<E::Binary>().left;
        }
        leftmost = node;
    }
    const E::Binary& step(std::size_t i) const noexcept { return steps[i]->as<E::Binary>(); }

    const Expression* steps[64];
    std::size_t count = 0;
    const Expression* leftmost = nullptr;
};

// Appends the printed value to `out`, bounded as if `out` followed `base`
// bytes already written.
inline void appendPrintedAfter(std::string& out, std::size_t base, const Value& value,
                               std::size_t maxBytes) {
    if (value.isString()) {
        RenderLimits::checkAppend(base + out.size(), value.asString().size(), maxBytes);
        out += value.asString();
        return;
    }
    if (value.isArray() || value.isObject())
        RenderLimits::checkPrintedSize(value, base + out.size());
    value.appendDescription(out);
    RenderLimits::checkBytes(base + out.size());
}
inline void appendPrintedAfter(std::string& out, std::size_t base, const Value& value) {
    appendPrintedAfter(out, base, value, RenderLimits::current().maxBytes);
}

// `operand | trim` the general way: through a function named trim in scope,
// or the built-in filter over a value that is no string.
[[gnu::noinline]] void appendFilteredTrim(const Expression& e, const Value& operand,
                                          const EnvPtr& env, std::string& out, std::size_t base) {
    static const Filters::FilterFunction trim = Filters::find("trim");
    const auto* f = &e.as<E::Filter>();
    ArgumentBuffer buffer;
    buffer.args().push_back(operand);
    appendPrintedAfter(out, base,
                       applyFilter(f->name, e.facts().nameHash, trim, buffer.args(),
                                   KeywordArguments{}, env, e.facts().globalName));
}

// `x | trim` with the built-in filter and no arguments, printed, its operand
// read already: the trimmed part of a string operand is appended where it
// stands, without building the filter's result. False when it ran the
// general way instead (a function named trim in scope, or no string), which
// may run template code.
// `builtIn`: whether no function named trim is in scope, when known already.
[[gnu::always_inline]] inline bool appendTrimmedValue(const Expression& e, const Value& operand,
                                                      const EnvPtr& env, std::string& out,
                                                      std::size_t base, std::size_t maxBytes,
                                                      bool builtIn = false) {
    if (!builtIn) {
        const Value* local =
            env->findFunction(e.as<E::Filter>().name, e.facts().nameHash, e.facts().globalName);
        builtIn = !(local && local->isFunction());
    }
    if (!operand.isString() || !builtIn) {
        appendFilteredTrim(e, operand, env, out, base);
        return false;
    }
    // The steps applyFilter charges: the operand scanned, the result built.
    RenderLimits::chargeValue(operand);
    // ASCII white space is stripped here; where an end then shows a byte
    // beyond ASCII, the rest is trimmed by code points (ASCII white space
    // would have been stripped there just the same).
    const std::string& whole = operand.asString();
    const char* begin = whole.data();
    const char* end = begin + whole.size();
    auto space = [](char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (begin != end && space(*begin))
        ++begin;
    while (end != begin && space(end[-1]))
        --end;
    std::string_view trimmed(begin, static_cast<std::size_t>(end - begin));
    if (!trimmed.empty() && (static_cast<unsigned char>(trimmed.front()) >= 0x80 ||
                             static_cast<unsigned char>(trimmed.back()) >= 0x80))
        trimmed = text::trimCodePoints(trimmed, text::isWhiteSpace);
    RenderLimits::chargeValueSize(trimmed.size(), true);
    RenderLimits::checkAppend(base + out.size(), trimmed.size(), maxBytes);
    out += trimmed;
    return true;
}

// appendTrimmedValue with the operand read here.
[[gnu::hot]] void appendTrimmedOperand(const Expression& e, const EnvPtr& env, std::string& out,
                                       std::size_t base, ReadMemo& memo) {
    Value scratch;
    const Value& operand = readRef(e.as<E::Filter>().operand, env, scratch, memo);
    if (!appendTrimmedValue(e, operand, env, out, base, RenderLimits::current().maxBytes))
        memo.clear();
}

// appendTrimmedOperand for an expression of that form; false (nothing done)
// for any other.
bool appendTrimmed(const Expression& e, const EnvPtr& env, std::string& out, std::size_t base,
                   ReadMemo& memo) {
    if (!isBuiltInTrim(e)) return false;
    appendTrimmedOperand(e, env, out, base, memo);
    return true;
}

// Appends the printed right operands of the steps below `i`, innermost first.
[[gnu::always_inline]] inline void appendSteps(const Chain& chain, std::size_t i, const EnvPtr& env,
                                               std::string& out, std::size_t base, ReadMemo& memo) {
    while (i > 0) {
        const E::Binary& b = chain.step(--i);
        if (const std::string* lit = stringLiteral(b.right)) {
            RenderLimits::checkAppend(base + out.size(), lit->size());
            out += *lit;
            continue;
        }
        if (b.right.kind() == E::Kind::filter && appendTrimmed(b.right, env, out, base, memo))
            continue;
        Value scratch;
        appendPrintedAfter(out, base, readRef(b.right, env, scratch, memo));
    }
}

// A chain flattened when it was built: its pieces in order.
[[gnu::hot]] void appendPieces(const PrintedChain& chain, const EnvPtr& env, std::string& out,
                               ReadMemo& memo) {
    using Kind = PrintedChain::Piece::Kind;
    const std::size_t start = out.size();
    if (start == 0) out.reserve(chain.pieces.front().text.size() + 64);
    const std::size_t maxBytes = RenderLimits::current().maxBytes;
    for (const PrintedChain::Piece& piece : chain.pieces) {
        switch (piece.kind) {
        case Kind::text:
            RenderLimits::checkAppend(out.size(), piece.text.size(), maxBytes);
            out += piece.text;
            break;
        case Kind::trimmed:
            appendTrimmedOperand(*piece.operand, env, out, 0, memo);
            break;
        case Kind::operand: {
            Value scratch;
            appendPrintedAfter(out, 0, readRef(*piece.operand, env, scratch, memo));
            break;
        }
        }
    }
    if (const std::size_t kib = (out.size() - start) / 1024) RenderLimits::chargeSteps(kib);
}

// `a + b + c ...` and `a ~ b ~ c ...`: once the running result is a string,
// every further step appends the printed operand, so the chain is built in
// one buffer instead of one new string per step. The string part goes to the
// end of `out`; until the running result is a string it is computed as
// values. Returns the result when it never became a string, else nothing.
std::optional<Value> appendChain(const Expression& e, const EnvPtr& env, std::string& out,
                                 ReadMemo& memo) {
    if (const PrintedChain* pieces = e.facts().chain.get()) {
        appendPieces(*pieces, env, out, memo);
        return std::nullopt;
    }
    const Chain chain(e);
    std::size_t i = chain.count;
    const std::size_t start = out.size();
    {
        Value scratch;
        const Value& first = readRef(*chain.leftmost, env, scratch, memo);
        const Value* text = &first;
        Value acc;
        if (!first.isString()) {
            memo.clear();
            acc = first;
            while (!acc.isString()) {
                if (i == 0) return acc;
                const E::Binary& b = chain.step(--i);
                Value right = evaluate(b.right, env);
                acc = Interpreter::evaluateBinaryValues(b.op, acc, right);
            }
            text = &acc;
        }
        const std::string& head = text->asString();
        RenderLimits::checkAppend(out.size(), head.size());
        if (start == 0) out.reserve(head.size() + 64);
        out += head;
    }
    appendSteps(chain, i, env, out, 0, memo);
    if (const std::size_t kib = (out.size() - start) / 1024) RenderLimits::chargeSteps(kib);
    return std::nullopt;
}

Value evaluateChain(const Expression& e, const EnvPtr& env) {
    std::string buffer;
    ReadMemo memo;
    if (std::optional<Value> value = appendChain(e, env, buffer, memo)) return std::move(*value);
    return Value(std::move(buffer));
}

// Whether two expressions name the same variable, or the same literal member
// of the same variable (`s`, `ns.s`).
bool sameTarget(const Expression& a, const Expression& b) noexcept {
    if (a.kind() != b.kind()) return false;
    if (const auto* x = a.getIf<E::Identifier>()) return x->name == b.as<E::Identifier>().name;
    const auto* x = a.getIf<E::Member>();
    const auto* y = b.getIf<E::Member>();
    if (!x || x->computed || y->computed) return false;
    const auto* xo = x->object.getIf<E::Identifier>();
    const auto* yo = y->object.getIf<E::Identifier>();
    const auto* xm = x->member.getIf<E::Identifier>();
    const auto* ym = y->member.getIf<E::Identifier>();
    return xo && yo && xm && ym && xo->name == yo->name && xm->name == ym->name;
}

// The value an assignment to `target` would replace: a variable of `env`
// itself, or an entry of an object held by the nearest scope defining the
// object's variable. Null when there is none.
Value* assignedSlot(const Expression& target, Environment& env) {
    if (const auto* id = target.getIf<E::Identifier>())
        return env.findOwn(id->name, target.facts().nameHash);
    const auto& m = target.as<E::Member>();
    const auto& object = m.object.as<E::Identifier>();
    Value* held = nullptr;
    for (Environment* scope = &env; scope && !held; scope = scope->parent().get())
        held = scope->findOwn(object.name, m.object.facts().nameHash);
    if (!held || !held->isObject()) return nullptr;
    // Only an object no other value shares may change in place.
    Object* entries = held->exclusiveObject();
    if (!entries) return nullptr;
    auto it = entries->find(std::string_view(m.member.as<E::Identifier>().name),
                            static_cast<std::size_t>(target.facts().nameHash));
    return it != entries->end() ? &it.value() : nullptr;
}

} // namespace

bool appendInPlace(const Expression& target, const Expression& value, const EnvPtr& env) {
    if (!isChainStep(value)) return false;
    if (target.kind() != E::Kind::identifier && target.kind() != E::Kind::member) return false;
    const Chain chain(value);
    if (!sameTarget(target, *chain.leftmost)) return false;
    Value* slot = assignedSlot(target, *env);
    if (!slot || !slot->isString()) return false;
    // `s = s + 'text'`: nothing runs between the read and the append, so a
    // string no other value shares takes the literal where it is.
    if (chain.count == 1) {
        const std::string* literal = stringLiteral(chain.step(0).right);
        std::string* text = literal ? slot->exclusiveString() : nullptr;
        if (text) {
            RenderLimits::checkAppend(text->size(), literal->size());
            RenderLimits::chargeSteps((text->size() + literal->size()) / 1024);
            text->append(*literal);
            return true;
        }
    }
    // The left operand as read now; holding it keeps it intact whatever the
    // other operands run.
    Value left = *slot;
    const std::size_t size = left.asString().size();
    std::string tail;
    ReadMemo memo;
    appendSteps(chain, chain.count, env, tail, size, memo);
    RenderLimits::chargeSteps((size + tail.size()) / 1024);
    slot = assignedSlot(target, *env);
    if (slot && slot->identity() == left.identity()) {
        left = Value();
        if (std::string* text = slot->exclusiveString()) {
            text->append(tail);
            return true;
        }
        left = *slot;
    }
    std::string result;
    result.reserve(size + tail.size());
    result += left.asString();
    result += tail;
    Interpreter::assign(target, Value(std::move(result)), env);
    return true;
}

namespace {

// A printed chain, flattened or walked: a failure (or a break leaving a
// macro called in the chain) leaves nothing of it in the output.
[[gnu::always_inline]] inline void emitChain(const Expression& e, const EnvPtr& env,
                                             std::string& out, ReadMemo& memo) {
    const std::size_t start = out.size();
    try {
        if (const PrintedChain* pieces = e.facts().chain.get())
            appendPieces(*pieces, env, out, memo);
        else if (std::optional<Value> value = appendChain(e, env, out, memo))
            RenderLimits::appendPrinted(out, *value);
    } catch (...) {
        out.resize(start);
        throw;
    }
}

// Any output that is no literal, path or chain.
[[gnu::noinline]] void emitEvaluated(const Expression& e, const EnvPtr& env, std::string& out,
                                     ReadMemo& memo) {
    if (e.kind() == E::Kind::filter && appendTrimmed(e, env, out, 0, memo)) return;
    memo.clear();
    RenderLimits::appendPrinted(out, evaluate(e, env));
}

} // namespace

[[gnu::hot]] void emit(const Expression& e, const EnvPtr& env, std::string& out, ReadMemo& memo) {
    if (e.facts().chain || isChainStep(e)) return emitChain(e, env, out, memo);
    const Value* v = peekRef(e, env, memo);
    if (!v) return emitEvaluated(e, env, out, memo);
    if (!v->isString()) return RenderLimits::appendPrinted(out, *v);
    RenderLimits::checkAppend(out.size(), v->asString().size());
    out += v->asString();
}

void emit(const Expression& e, const EnvPtr& env, std::string& out) {
    ReadMemo memo;
    emit(e, env, out, memo);
}

namespace {

// equalsLiteral past its quick answers.
[[gnu::noinline]] bool equalsLiteralSlowly(const std::string& v, const std::string& literal,
                                           bool asciiLiteral) {
    if (asciiLiteral) {
        // Up to their first difference both texts hold the same ASCII
        // characters. An ASCII character is its own canonical form and
        // never reorders with its neighbours, so when the text has one
        // there, or either text ends there, the two differ.
        const std::size_t n = std::min(v.size(), literal.size());
        std::size_t i = 0;
        while (i < n && v[i] == literal[i])
            ++i;
        if (i == n || static_cast<unsigned char>(v[i]) < 0x80) return false;
    }
    return text::canonicallyEqual(v, literal);
}

// Canonical equality with a literal; an ASCII literal equals an ASCII text
// only byte for byte.
[[gnu::always_inline]] inline bool equalsLiteral(const std::string& v, const std::string& literal,
                                                 bool asciiLiteral) {
    // Texts that differ from the first byte on, where the text holds an
    // ASCII character, differ (see below): the usual answer, at once.
    if (asciiLiteral && !v.empty() && !literal.empty() && v[0] != literal[0] &&
        static_cast<unsigned char>(v[0]) < 0x80)
        return false;
    if (sameBytes(v, literal)) return true;
    return equalsLiteralSlowly(v, literal, asciiLiteral);
}

// `x == 'text'` and `x != 'text'` without building a value for the literal.
[[gnu::always_inline]] inline bool equalsLiteral(const Value& v, const Expression& literal) {
    return v.isString() &&
           equalsLiteral(v.asString(), literal.as<E::String>().value, literal.facts().ascii);
}

void collectArguments(const ExpressionList& argExprs, const EnvPtr& env, Array& args) {
    args.reserve(argExprs.size());
    for (const Expression& a : argExprs) {
        const auto* u = a.getIf<E::Unary>();
        if (u && u->op == E::UnaryOp::splat) {
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

Value applyFilter(std::string_view name, std::uint64_t nameHash, Filters::FilterFunction builtIn,
                  const Array& args, const KeywordArguments& kwargs, const EnvPtr& env,
                  bool global) {
    // A filter scans its operand and builds its result.
    if (!args.empty()) RenderLimits::chargeValue(args[0]);
    const Value* local = env ? env->findFunction(name, nameHash, global) : nullptr;
    Value result;
    if (local && local->isFunction())
        result = local->asFunction()(args, kwargs, env);
    else if (builtIn)
        result = builtIn(args, kwargs, env);
    else
        throw JinjaError::runtime("Unknown filter: " + std::string(name));
    RenderLimits::chargeValue(result);
    return result;
}

bool applyTest(std::string_view name, std::uint64_t nameHash, Tests::TestFunction builtIn,
               const Array& args, const EnvPtr& env, bool global) {
    static const KeywordArguments noKeywords;
    const Value* local = env ? env->findFunction(name, nameHash, global) : nullptr;
    for (const Value& a : args)
        RenderLimits::chargeValue(a);
    if (local && local->isFunction()) {
        Value result = local->asFunction()(args, noKeywords, env);
        return result.isBoolean() ? result.asBool() : result.isTruthy();
    }
    if (builtIn) return builtIn(args, noKeywords, env);
    throw JinjaError::runtime("Unknown test: " + std::string(name));
}

namespace {

Value evaluateCall(const E::Call& c, const EnvPtr& env) {
    Value callee = evaluate(c.callee, env);
    ArgumentBuffer buffer;
    Array& args = buffer.args();
    collectArguments(c.args, env, args);
    KeywordArguments kwargs = collectKeywords(c.kwargs, env);
    return callValue(callee, args, kwargs, env);
}

Value evaluateMember(const E::Member& m, const EnvPtr& env) {
    Value scratch;
    const Value& object = readRef(m.object, env, scratch);
    if (m.computed) {
        if (isSimple(m.member)) {
            Value keyScratch;
            const Value& key = readRef(m.member, env, keyScratch);
            return Interpreter::evaluateComputedMember(object, key);
        }
        Value pinned = object; // the key's evaluation may run template code
        Value key = evaluate(m.member, env);
        return Interpreter::evaluateComputedMember(pinned, key);
    }
    const auto* id = m.member.getIf<E::Identifier>();
    if (!id) throw JinjaError::runtime("Property access requires identifier");
    return PropertyMembers::evaluate(object, id->name);
}

// The positional values of a filter or test: the operand, then the arguments.
void collectOperandAndArguments(const Expression& operand, const ExpressionList& argExprs,
                                const EnvPtr& env, Array& args) {
    args.reserve(argExprs.size() + 1);
    args.push_back(evaluate(operand, env));
    for (const Expression& a : argExprs)
        args.push_back(evaluate(a, env));
}

Value evaluateFilter(const Expression& e, const EnvPtr& env) {
    const auto& f = e.as<E::Filter>();
    ArgumentBuffer buffer;
    collectOperandAndArguments(f.operand, f.args, env, buffer.args());
    return applyFilter(f.name, e.facts().nameHash, builtInFilter(e), buffer.args(),
                       collectKeywords(f.kwargs, env), env, e.facts().globalName);
}

// Whether a test node of one of the forms ExpressionFacts::kindTest names
// runs the built-in test: no function of its name is in scope.
inline bool builtInKindTest(const Expression& e, const EnvPtr& env) {
    const Value* local =
        env->findFunction(e.as<E::Test>().name, e.facts().nameHash, e.facts().globalName);
    return !(local && local->isFunction());
}

// The answer of such a test over the operand's value.
inline bool kindTestAnswer(const Expression& e, const Value& operand) {
    using KindTest = ExpressionFacts::KindTest;
    RenderLimits::chargeValue(operand);
    const KindTest kind = e.facts().kindTest;
    const bool result = kind == KindTest::defined     ? !operand.isUndefined()
                        : kind == KindTest::undefined ? operand.isUndefined()
                                                      : operand.isNull();
    return e.as<E::Test>().negated ? !result : result;
}

// `x is defined`, `x is undefined` and `x is none` with the built-in tests,
// over an operand that only reads a value: the answer without an argument
// list. False when the test has another form; `answer` is then untouched.
bool kindTest(const Expression& e, const EnvPtr& env, bool& answer, ReadMemo& memo) {
    if (e.facts().kindTest == ExpressionFacts::KindTest::no || !builtInKindTest(e, env))
        return false;
    Value scratch;
    answer = kindTestAnswer(e, readRef(e.as<E::Test>().operand, env, scratch, memo));
    return true;
}

[[gnu::hot]] bool evaluateTestExpression(const Expression& e, const EnvPtr& env, ReadMemo& memo) {
    if (bool answer; kindTest(e, env, answer, memo)) return answer;
    memo.clear();
    const auto& t = e.as<E::Test>();
    ArgumentBuffer buffer;
    collectOperandAndArguments(t.operand, t.args, env, buffer.args());
    bool answer = applyTest(t.name, e.facts().nameHash, builtInTest(e), buffer.args(), env,
                            e.facts().globalName);
    return t.negated ? !answer : answer;
}

// `left in [...]` (or `not in`) over a literal list of ASCII texts, whose
// value is `list`.
[[gnu::always_inline]] inline bool inAsciiList(E::BinaryOp op, const Value& left,
                                               const Value& list) {
    if (!left.isString()) {
        Value pinned = left;
        return Interpreter::evaluateBinaryValues(op, pinned, list).asBool();
    }
    const Array& elements = list.asArray();
    // The size check and step charge of building and scanning the list
    // (its elements are all strings, so its size is its item count).
    if (elements.size() > RenderLimits::current().maxItems) RenderLimits::checkValueSize(list);
    RenderLimits::chargeValueSize(elements.size(), false);
    bool found = false;
    for (const Value& element : elements)
        if (equalsLiteral(left.asString(), element.asString(), true)) {
            found = true;
            break;
        }
    return op == E::BinaryOp::in ? found : !found;
}

// `x == 'text'`, `x != 'text'`, `x in [...]` and `x not in [...]` over a
// literal list of ASCII texts: the answer without building any value.
// False when the comparison has another form; `answer` is then untouched.
[[gnu::always_inline]] inline bool compareWithLiteral(const E::Binary& b, const EnvPtr& env,
                                                      bool& answer, ReadMemo& memo) {
    using Op = E::BinaryOp;
    switch (b.op) {
    case Op::equal:
    case Op::notEqual: {
        if (b.right.kind() != E::Kind::string) return false;
        Value scratch;
        const bool eq = equalsLiteral(readRef(b.left, env, scratch, memo), b.right);
        answer = b.op == Op::equal ? eq : !eq;
        return true;
    }
    case Op::in:
    case Op::notIn: {
        const ExpressionFacts& facts = b.right.facts();
        if (!facts.ascii || !facts.constant || !facts.constant->isArray()) return false;
        Value scratch;
        answer = inAsciiList(b.op, readRef(b.left, env, scratch, memo), *facts.constant);
        return true;
    }
    default:
        return false;
    }
}

Value evaluateBinary(const Expression& e, const EnvPtr& env) {
    using Op = E::BinaryOp;
    const auto& b = e.as<E::Binary>();
    ReadMemo memo;
    if (bool answer; compareWithLiteral(b, env, answer, memo)) return Value(answer);
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
    default:
        break;
    }
    Value scratch;
    const Value& leftRef = readRef(b.left, env, scratch);
    if (isSimple(b.right)) {
        Value rightScratch;
        const Value& right = readRef(b.right, env, rightScratch);
        return Interpreter::evaluateBinaryValues(b.op, leftRef, right);
    }
    Value left = leftRef; // the right side may run template code
    Value right = evaluate(b.right, env);
    return Interpreter::evaluateBinaryValues(b.op, left, right);
}

} // namespace

[[gnu::hot]] bool isTruthy(const Expression& e, const EnvPtr& env, ReadMemo& memo) {
    switch (e.kind()) {
    case E::Kind::test:
        return evaluateTestExpression(e, env, memo);
    case E::Kind::binary: {
        const auto& b = e.as<E::Binary>();
        if (b.op == E::BinaryOp::and_)
            return isTruthy(b.left, env, memo) && isTruthy(b.right, env, memo);
        if (b.op == E::BinaryOp::or_)
            return isTruthy(b.left, env, memo) || isTruthy(b.right, env, memo);
        if (bool answer; compareWithLiteral(b, env, answer, memo)) return answer;
        break;
    }
    case E::Kind::unary: {
        const auto& u = e.as<E::Unary>();
        if (u.op == E::UnaryOp::not_) return !isTruthy(u.operand, env, memo);
        break;
    }
    default:
        break;
    }
    Value scratch;
    return readRef(e, env, scratch, memo).isTruthy();
}

bool isTruthy(const Expression& e, const EnvPtr& env) {
    ReadMemo memo;
    return isTruthy(e, env, memo);
}

namespace {

// The value of the plan's read `i` in `env`: kept from before, or read now
// and kept. Null when the path needs full evaluation (a method, a character
// of a string).
[[gnu::always_inline]] inline const Value* planRead(const BodyPlan& plan, std::uint8_t i,
                                                    const Environment& env, PlanReads& reads) {
    if (reads.valid & (std::uint32_t{1} << i)) return reads.values[i];
    const BodyPlan::Read& read = plan.reads[i];
    const LiteralPath& path = *read.path;
    const Value* root;
    if (reads.rootId == path.rootId) {
        root = reads.root;
    } else {
        root = env.find(path.root, path.rootHash, path.rootHead, path.rootSlot);
        if (!root) root = &undefinedValue();
        reads.rootId = path.rootId;
        reads.root = root;
    }
    const Value* v;
    if (read.key && root->isObject()) {
        // One key of an object, the usual read.
        v = findKey(root->asObject(), *read.key);
        if (!v) v = &undefinedValue();
    } else {
        v = readSteps(path, root);
    }
    if (v) {
        reads.values[i] = v;
        reads.valid |= std::uint32_t{1} << i;
    }
    return v;
}

// A leaf condition whose path cannot be read in place, the general way.
[[gnu::noinline]] bool generalCondition(const Expression& e, const EnvPtr& env, PlanReads& reads) {
    reads.clear();
    return isTruthy(e, env);
}

} // namespace

// Tests run as a chain of comparisons rather than a jump table: the kinds
// vary from one condition to the next, and conditional branches are
// predicted from their history far better than one shared indirect jump.
// (GCC would turn the chain into a table; clang keeps it as written.)
#if defined(__clang__)
#define ZV_NO_JUMP_TABLES
#else
#define ZV_NO_JUMP_TABLES gnu::optimize("no-jump-tables")
#endif
[[gnu::hot, ZV_NO_JUMP_TABLES]] bool planCondition(const BodyPlan& plan, std::uint32_t index,
                                                   const EnvPtr& env, PlanReads& reads) {
    using Kind = BodyPlan::Condition::Kind;
    const BodyPlan::Condition& c = plan.conditions[index];
    const Kind kind = c.kind;
    if (kind == Kind::equals) {
        if (const Value* v = planRead(plan, c.read, *env, reads)) {
            const bool eq = v->isString() && equalsLiteral(v->asString(), *c.text, c.ascii);
            return c.negated ? !eq : eq;
        }
    } else if (kind == Kind::inList) {
        if (const Value* v = planRead(plan, c.read, *env, reads))
            return inAsciiList(c.negated ? E::BinaryOp::notIn : E::BinaryOp::in, *v, *c.list);
    } else if (kind == Kind::and_) {
        return planCondition(plan, c.left, env, reads) && planCondition(plan, c.right, env, reads);
    } else if (kind == Kind::kindTest) {
        if (reads.knowsBuiltIn(c.name) ||
            reads.learnBuiltIn(c.name, builtInKindTest(*c.node, env))) {
            if (const Value* v = planRead(plan, c.read, *env, reads))
                return kindTestAnswer(*c.node, *v);
        }
    } else if (kind == Kind::truthy) {
        if (const Value* v = planRead(plan, c.read, *env, reads)) return v->isTruthy();
    } else if (kind == Kind::or_) {
        return planCondition(plan, c.left, env, reads) || planCondition(plan, c.right, env, reads);
    } else if (kind == Kind::not_) {
        return !planCondition(plan, c.left, env, reads);
    }
    return generalCondition(*c.node, env, reads);
}

namespace {

// The printed pieces of a planned chain; as appendPieces.
[[gnu::hot]] void appendPlannedPieces(const BodyPlan& plan, const BodyPlan::Step& step,
                                      const EnvPtr& env, std::string& out, PlanReads& reads) {
    using Kind = BodyPlan::Piece::Kind;
    const BodyPlan::Piece* piece = &plan.pieces[step.firstPiece];
    const BodyPlan::Piece* const end = piece + step.pieceCount;
    const std::size_t start = out.size();
    if (start == 0) out.reserve((piece->text ? piece->text->size() : 0) + 64);
    const std::size_t maxBytes = reads.maxBytes;
    // A chain of comparisons, as in planCondition.
    for (; piece != end; ++piece) {
        const Kind kind = piece->kind;
        if (kind == Kind::text) {
            RenderLimits::checkAppend(out.size(), piece->text->size(), maxBytes);
            out += *piece->text;
            continue;
        }
        if (kind == Kind::read) {
            if (const Value* v = planRead(plan, piece->read, *env, reads)) {
                appendPrintedAfter(out, 0, *v, maxBytes);
                continue;
            }
        } else if (kind != Kind::general) {
            if (kind == Kind::trimmed) {
                if (const Value* v = planRead(plan, piece->read, *env, reads)) {
                    const bool known = reads.knowsBuiltIn(piece->name);
                    if (appendTrimmedValue(*piece->node, *v, env, out, 0, maxBytes, known)) {
                        // The built-in ran: no function named trim is in scope.
                        reads.learnBuiltIn(piece->name, true);
                    } else {
                        reads.clear();
                    }
                    continue;
                }
            }
            // A trimmed operand the general way.
            reads.clear();
            ReadMemo memo;
            appendTrimmedOperand(*piece->node, env, out, 0, memo);
            continue;
        }
        // An operand evaluated the general way.
        reads.clear();
        Value scratch;
        appendPrintedAfter(out, 0, readRef(*piece->node, env, scratch));
    }
    if (const std::size_t kib = (out.size() - start) / 1024) RenderLimits::chargeSteps(kib);
}

} // namespace

[[gnu::hot]] void planPrint(const BodyPlan& plan, const BodyPlan::Step& step, const EnvPtr& env,
                            std::string& out, PlanReads& reads) {
    using Kind = BodyPlan::Step::Kind;
    if (step.kind == Kind::printChain) {
        // A failure leaves nothing of the chain in the output, as emitChain.
        const std::size_t start = out.size();
        try {
            appendPlannedPieces(plan, step, env, out, reads);
        } catch (...) {
            out.resize(start);
            throw;
        }
        return;
    }
    if (step.kind == Kind::printRead) {
        if (const Value* v = planRead(plan, step.read, *env, reads)) {
            if (!v->isString()) return RenderLimits::appendPrinted(out, *v);
            RenderLimits::checkAppend(out.size(), v->asString().size(), reads.maxBytes);
            out += v->asString();
            return;
        }
    }
    reads.clear();
    emit(*step.expression, env, out);
}

Value evaluate(const Expression& e, const EnvPtr& env) {
    using K = E::Kind;
    switch (e.kind()) {
    case K::string:
        return *e.facts().constant;
    case K::number:
        return Value(e.as<E::Number>().value);
    case K::integer:
        return Value(e.as<E::Integer>().value);
    case K::boolean:
        return Value(e.as<E::Boolean>().value);
    case K::null:
        return Value();
    case K::array:
    case K::tuple: {
        if (const Value* constant = e.facts().constant.get()) {
            RenderLimits::checkValueSize(*constant);
            return *constant;
        }
        const ExpressionList& elements =
            e.kind() == K::array ? e.as<E::Array>().elements : e.as<E::Tuple>().elements;
        Array items;
        items.reserve(elements.size());
        for (const Expression& x : elements)
            items.push_back(evaluate(x, env));
        Value result(std::move(items));
        RenderLimits::checkValueSize(result);
        return result;
    }
    case K::object: {
        if (const Value* constant = e.facts().constant.get()) {
            RenderLimits::checkValueSize(*constant);
            return *constant;
        }
        Object object;
        for (const auto& [key, x] : e.as<E::Object>().entries)
            object.insert_or_assign(key, evaluate(x, env));
        Value result(std::move(object));
        RenderLimits::checkValueSize(result);
        return result;
    }
    case K::identifier: {
        const Value* v = env->find(e.as<E::Identifier>().name, e.facts().nameHash);
        return v ? *v : Value::undefined();
    }
    case K::unary: {
        const auto& u = e.as<E::Unary>();
        if (u.op == E::UnaryOp::not_) return Value(!isTruthy(u.operand, env));
        return Interpreter::evaluateUnaryValue(u.op, evaluate(u.operand, env));
    }
    case K::binary:
        return evaluateBinary(e, env);
    case K::ternary: {
        const auto& t = e.as<E::Ternary>();
        if (isTruthy(t.test, env)) return evaluate(t.value, env);
        return t.alternate ? evaluate(*t.alternate, env) : Value();
    }
    case K::call:
        return evaluateCall(e.as<E::Call>(), env);
    case K::member: {
        if (const Value* v = lookupPath(e, *env)) return *v;
        return evaluateMember(e.as<E::Member>(), env);
    }
    case K::slice: {
        const auto& s = e.as<E::Slice>();
        Value value = evaluate(s.object, env);
        return Interpreter::evaluateSlice(value, s.start, s.stop, s.step, env);
    }
    case K::filter:
        return evaluateFilter(e, env);
    case K::test: {
        ReadMemo memo;
        return Value(evaluateTestExpression(e, env, memo));
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

    if (stride == 1 && value.isArray()) {
        // A run of neighbours, copied in one go.
        const Array& a = value.asArray();
        const Wide from = std::max<Wide>(first, 0);
        const Wide end = std::min<Wide>(last, n);
        if (from >= end) return Value(Array{});
        return Value(Array(a.begin() + static_cast<std::ptrdiff_t>(from),
                           a.begin() + static_cast<std::ptrdiff_t>(end)));
    }

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
    return applyTest(name, ScopeVariables::hashName(name), Tests::find(name), args, env);
}

Value Interpreter::applyFilter(std::string_view name, const Array& args,
                               const KeywordArguments& kwargs,
                               const std::shared_ptr<Environment>& env) {
    return evaluation::applyFilter(name, ScopeVariables::hashName(name), Filters::find(name), args,
                                   kwargs, env);
}

} // namespace jinja
