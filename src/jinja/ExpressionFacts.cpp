#include "jinja/ExpressionFacts.h"

#include "jinja/BodyPlan.h"
#include "jinja/Environment.h"
#include "jinja/Globals.h"
#include "jinja/PropertyMembers.h"
#include "jinja/filters/UnicodeText.h"

#include <atomic>

namespace jinja {

namespace {

using E = Expression;

constinit thread_local ReadIdentities* currentSession = nullptr;

// The value of a literal child, or null when the child computes something.
const Value* literalValue(const Expression& e, Value& scratch) {
    if (const auto& constant = e.facts().constant) return constant.get();
    switch (e.kind()) {
    case E::Kind::number:
        scratch = Value(e.as<E::Number>().value);
        return &scratch;
    case E::Kind::integer:
        scratch = Value(e.as<E::Integer>().value);
        return &scratch;
    case E::Kind::boolean:
        scratch = Value(e.as<E::Boolean>().value);
        return &scratch;
    case E::Kind::null:
        scratch = Value();
        return &scratch;
    default:
        return nullptr;
    }
}

std::shared_ptr<const Value> constantArray(const ExpressionList& elements) {
    Array items;
    items.reserve(elements.size());
    for (const Expression& x : elements) {
        Value scratch;
        const Value* v = literalValue(x, scratch);
        if (!v) return nullptr;
        items.push_back(*v);
    }
    return std::make_shared<const Value>(std::move(items));
}

std::shared_ptr<const Value> constantObject(const E::Object& p) {
    Object object;
    object.reserve(p.entries.size());
    for (const auto& [key, x] : p.entries) {
        Value scratch;
        const Value* v = literalValue(x, scratch);
        if (!v) return nullptr;
        object.insert_or_assign(key, *v);
    }
    return std::make_shared<const Value>(std::move(object));
}

bool allAsciiStrings(const ExpressionList& elements) {
    for (const Expression& x : elements)
        if (x.kind() != E::Kind::string || !x.facts().ascii) return false;
    return true;
}

// The read identity of a name read as the root of paths, the same as a path
// of that name alone would have: none for `loop` (the loop object is rebuilt
// as the loop goes on).
std::uint64_t readIdOfRoot(std::string_view name) {
    ReadIdentities* session = ReadIdentities::current();
    if (!session || name == "loop") return 0;
    return session->idFor(std::string(name));
}

// The path of a member expression whose object has a path and whose member
// is a literal step; null otherwise.
std::shared_ptr<const LiteralPath> extendPath(const E::Member& m) {
    const auto& base = m.object.facts().path;
    const auto* root = m.object.getIf<E::Identifier>();
    if (!base && !root) return nullptr;
    LiteralPath::Step step;
    if (!m.computed) {
        const auto* id = m.member.getIf<E::Identifier>();
        if (!id) return nullptr;
        step.kind = LiteralPath::Step::Kind::name;
        step.text = id->name;
        step.objectMethod = PropertyMembers::isObjectMethod(id->name);
        step.stringMethod = PropertyMembers::isStringMethod(id->name);
    } else if (const auto* key = m.member.getIf<E::String>()) {
        step.kind = LiteralPath::Step::Kind::key;
        step.text = key->value;
    } else if (const auto* index = m.member.getIf<E::Integer>()) {
        step.kind = LiteralPath::Step::Kind::index;
        step.index = index->value;
    } else {
        return nullptr;
    }
    step.hash = ObjectKeyHash{}(step.text);
    step.head = textHead(step.text);
    step.plainKey = step.kind != LiteralPath::Step::Kind::index && !step.objectMethod;
    std::shared_ptr<LiteralPath> path;
    if (base) {
        path = std::make_shared<LiteralPath>(*base);
    } else {
        path = std::make_shared<LiteralPath>();
        path->root = root->name;
        path->rootHash = m.object.facts().nameHash;
        path->rootHead = textHead(root->name);
        path->rootId = readIdOfRoot(root->name);
    }
    path->steps.push_back(step);
    return path;
}

// The read identity of a path: only paths of plain keys over a root with an
// identity have one. A name step and a key step of one text read the same
// entry of an object and give undefined alike on anything else, so they
// share it.
std::uint64_t readIdOf(const LiteralPath& path) {
    ReadIdentities* session = ReadIdentities::current();
    if (!session || path.rootId == 0) return 0;
    std::string key(path.root);
    for (const LiteralPath::Step& step : path.steps) {
        if (!step.plainKey) return 0;
        key += '\0';
        key += step.text;
    }
    return session->idFor(std::move(key));
}

// The pieces of a `+` or `~` chain up to this step: those of the left
// operand's chain, or its literal text, then the right operand. Null when
// the chain does not begin with a string literal or grows too long.
std::shared_ptr<const PrintedChain> extendChain(const E::Binary& b) {
    using Piece = PrintedChain::Piece;
    std::shared_ptr<PrintedChain> chain;
    if (const auto& base = b.left.facts().chain) {
        if (base->pieces.size() >= PrintedChain::maxPieces) return nullptr;
        chain = std::make_shared<PrintedChain>(*base);
    } else if (const auto* text = b.left.getIf<E::String>()) {
        chain = std::make_shared<PrintedChain>();
        chain->pieces.push_back(Piece{Piece::Kind::text, text->value, nullptr});
    } else {
        return nullptr;
    }
    if (const auto* text = b.right.getIf<E::String>()) {
        if (chain->pieces.back().kind == Piece::Kind::text)
            chain->pieces.back().text += text->value;
        else
            chain->pieces.push_back(Piece{Piece::Kind::text, text->value, nullptr});
    } else if (isBuiltInTrim(b.right)) {
        chain->pieces.push_back(Piece{Piece::Kind::trimmed, {}, &b.right});
    } else {
        chain->pieces.push_back(Piece{Piece::Kind::operand, {}, &b.right});
    }
    return chain;
}

// Which of `defined`, `undefined` and `none` a test is, when it has the
// built-in test, no arguments and an operand that only reads a value.
ExpressionFacts::KindTest kindTestOf(const E::Test& t, void (*builtIn)()) {
    using KindTest = ExpressionFacts::KindTest;
    static const auto defined = reinterpret_cast<void (*)()>(Tests::find("defined"));
    static const auto undefined = reinterpret_cast<void (*)()>(Tests::find("undefined"));
    static const auto none = reinterpret_cast<void (*)()>(Tests::find("none"));
    if (!builtIn || !t.args.empty() || (!isSimple(t.operand) && !t.operand.facts().path))
        return KindTest::no;
    if (builtIn == defined) return KindTest::defined;
    if (builtIn == undefined) return KindTest::undefined;
    if (builtIn == none) return KindTest::none;
    return KindTest::no;
}

bool isGlobalName(std::string_view name) {
    for (const auto& [global, function] : Globals::builtIn())
        if (global == name) return true;
    return false;
}

} // namespace

void computeFacts(Expression::Data& data) {
    ExpressionFacts& facts = data.facts;
    if (auto* p = std::get_if<E::String>(&data.payload)) {
        facts.constant = std::make_shared<const Value>(p->value);
        facts.ascii = text::isAscii(p->value);
    } else if (auto* p = std::get_if<E::Array>(&data.payload)) {
        facts.constant = constantArray(p->elements);
        facts.ascii = allAsciiStrings(p->elements);
    } else if (auto* p = std::get_if<E::Tuple>(&data.payload)) {
        facts.constant = constantArray(p->elements);
        facts.ascii = allAsciiStrings(p->elements);
    } else if (auto* p = std::get_if<E::Object>(&data.payload)) {
        facts.constant = constantObject(*p);
    } else if (auto* p = std::get_if<E::Identifier>(&data.payload)) {
        facts.nameHash = ScopeVariables::hashName(p->name);
    } else if (auto* p = std::get_if<E::Member>(&data.payload)) {
        facts.path = extendPath(*p);
        if (facts.path) facts.readId = readIdOf(*facts.path);
        if (!p->computed) {
            if (const auto* id = p->member.getIf<E::Identifier>()) {
                facts.nameHash = ObjectKeyHash{}(std::string_view(id->name));
                facts.objectMethod = PropertyMembers::isObjectMethod(id->name);
                facts.stringMethod = PropertyMembers::isStringMethod(id->name);
            }
        } else if (const auto* key = p->member.getIf<E::String>()) {
            facts.nameHash = ObjectKeyHash{}(std::string_view(key->value));
        }
    } else if (auto* p = std::get_if<E::Binary>(&data.payload)) {
        if (p->op == E::BinaryOp::add || p->op == E::BinaryOp::concat)
            facts.chain = extendChain(*p);
    } else if (auto* p = std::get_if<E::Filter>(&data.payload)) {
        facts.nameHash = ScopeVariables::hashName(p->name);
        facts.builtIn = reinterpret_cast<void (*)()>(Filters::find(p->name));
        facts.globalName = isGlobalName(p->name);
    } else if (auto* p = std::get_if<E::Test>(&data.payload)) {
        facts.nameHash = ScopeVariables::hashName(p->name);
        facts.builtIn = reinterpret_cast<void (*)()>(Tests::find(p->name));
        facts.globalName = isGlobalName(p->name);
        facts.kindTest = kindTestOf(*p, facts.builtIn);
    }
}

bool isSimple(const Expression& e) noexcept {
    switch (e.kind()) {
    case E::Kind::string:
    case E::Kind::number:
    case E::Kind::integer:
    case E::Kind::boolean:
    case E::Kind::null:
    case E::Kind::identifier:
        return true;
    case E::Kind::array:
    case E::Kind::tuple:
    case E::Kind::object:
        return e.facts().constant != nullptr;
    default:
        return false;
    }
}

bool isBuiltInTrim(const Expression& e) noexcept {
    static const Filters::FilterFunction trim = Filters::find("trim");
    const auto* f = e.getIf<E::Filter>();
    return f && builtInFilter(e) == trim && f->args.empty() && f->kwargs.empty();
}

void computeFacts(Statement::Data& data) {
    auto* loop = std::get_if<Statement::For>(&data.payload);
    if (!loop) return;
    const Statement::LoopVar& var = loop->loopVar;
    data.plan = planBody(loop->body, var.names, var.kind == Statement::LoopVar::Kind::single);
}

ReadIdentities::ReadIdentities() : previous_(currentSession) {
    currentSession = this;
}

ReadIdentities::~ReadIdentities() {
    currentSession = previous_;
}

ReadIdentities* ReadIdentities::current() noexcept {
    return currentSession;
}

std::uint64_t ReadIdentities::idFor(std::string key) {
    static std::atomic<std::uint64_t> next{1};
    auto [it, added] = ids_.try_emplace(std::move(key), 0);
    if (added) it->second = next.fetch_add(1, std::memory_order_relaxed);
    return it->second;
}

} // namespace jinja
