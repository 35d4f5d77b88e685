// Builds the plan of a loop body (BodyPlan.h).

#include "jinja/BodyPlan.h"

#include "jinja/Value.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace jinja {

namespace {

using E = Expression;
using Condition = BodyPlan::Condition;
using Piece = BodyPlan::Piece;
using Step = BodyPlan::Step;

class Builder {
public:
    Builder(const std::vector<std::string>& names, bool single)
        : item_(single && !names.empty() ? std::string_view(names[0]) : std::string_view()),
          bound_(names) {}

    BodyPlan plan;
    // Whether some condition or output reads a path in place.
    bool gains = false;

    // Adds the step list of `nodes`; its index in plan.lists.
    std::uint32_t list(const NodeList& nodes) {
        const auto index = static_cast<std::uint32_t>(plan.lists.size());
        plan.lists.emplace_back();
        std::vector<Step> steps;
        steps.reserve(nodes.size());
        for (const Node& node : nodes) {
            switch (node.kind()) {
            case Node::Kind::text: {
                Step step;
                step.kind = Step::Kind::text;
                step.text = &node.text();
                steps.push_back(step);
                break;
            }
            case Node::Kind::expression:
                steps.push_back(output(node.expression()));
                break;
            case Node::Kind::statement:
                steps.push_back(statement(node.statement()));
                break;
            case Node::Kind::comment:
                break;
            }
        }
        // The lists of nested branches were added meanwhile: index, not reference.
        plan.lists[index] = std::move(steps);
        return index;
    }

private:
    // The number of the read of `e`, when `e` is a path of plain keys and
    // there is room for it.
    std::optional<std::uint8_t> read(const Expression& e) {
        const ExpressionFacts& facts = e.facts();
        if (!facts.path || facts.readId == 0) return std::nullopt;
        auto known = std::find(readIds_.begin(), readIds_.end(), facts.readId);
        if (known != readIds_.end()) {
            gains = true;
            return static_cast<std::uint8_t>(known - readIds_.begin());
        }
        if (readIds_.size() == BodyPlan::maxReads) return std::nullopt;
        readIds_.push_back(facts.readId);
        const LiteralPath& path = *facts.path;
        const bool oneKey = path.steps.size() == 1 && path.steps[0].plainKey;
        plan.reads.push_back({&path, oneKey ? &path.steps[0] : nullptr});
        if (!item_.empty() && facts.path->root == item_) plan.itemRootId = facts.path->rootId;
        gains = true;
        return static_cast<std::uint8_t>(readIds_.size() - 1);
    }

    // The number of a filter's or test's name.
    std::uint8_t name(std::string_view text) {
        // A loop variable of that name may be a function, bound anew at
        // every iteration: looked for every time.
        if (std::find(bound_.begin(), bound_.end(), text) != bound_.end()) return BodyPlan::noName;
        auto known = std::find(names_.begin(), names_.end(), text);
        if (known != names_.end()) return static_cast<std::uint8_t>(known - names_.begin());
        if (names_.size() == BodyPlan::maxNames) return BodyPlan::noName;
        names_.push_back(text);
        return static_cast<std::uint8_t>(names_.size() - 1);
    }

    std::uint32_t condition(const Expression& e) {
        Condition c;
        c.node = &e;
        switch (e.kind()) {
        case E::Kind::binary: {
            const auto& b = e.as<E::Binary>();
            using Op = E::BinaryOp;
            if (b.op == Op::and_ || b.op == Op::or_) {
                c.kind = b.op == Op::and_ ? Condition::Kind::and_ : Condition::Kind::or_;
                c.left = condition(b.left);
                c.right = condition(b.right);
            } else if ((b.op == Op::equal || b.op == Op::notEqual) &&
                       b.right.kind() == E::Kind::string) {
                if (auto r = read(b.left)) {
                    c.kind = Condition::Kind::equals;
                    c.read = *r;
                    c.negated = b.op == Op::notEqual;
                    c.text = &b.right.as<E::String>().value;
                    c.ascii = b.right.facts().ascii;
                }
            } else if (b.op == Op::in || b.op == Op::notIn) {
                const ExpressionFacts& list = b.right.facts();
                if (list.ascii && list.constant && list.constant->isArray()) {
                    if (auto r = read(b.left)) {
                        c.kind = Condition::Kind::inList;
                        c.read = *r;
                        c.negated = b.op == Op::notIn;
                        c.list = list.constant.get();
                    }
                }
            }
            break;
        }
        case E::Kind::unary:
            if (e.as<E::Unary>().op == E::UnaryOp::not_) {
                c.kind = Condition::Kind::not_;
                c.left = condition(e.as<E::Unary>().operand);
            }
            break;
        case E::Kind::test:
            if (e.facts().kindTest != ExpressionFacts::KindTest::no) {
                if (auto r = read(e.as<E::Test>().operand)) {
                    c.kind = Condition::Kind::kindTest;
                    c.read = *r;
                    c.name = name(e.as<E::Test>().name);
                }
            }
            break;
        default:
            if (auto r = read(e)) {
                c.kind = Condition::Kind::truthy;
                c.read = *r;
            }
            break;
        }
        plan.conditions.push_back(c);
        return static_cast<std::uint32_t>(plan.conditions.size() - 1);
    }

    Step output(const Expression& e) {
        Step step;
        step.expression = &e;
        if (const auto* s = e.getIf<E::String>()) {
            step.kind = Step::Kind::text;
            step.text = &s->value;
        } else if (const PrintedChain* chain = e.facts().chain.get()) {
            step.kind = Step::Kind::printChain;
            step.firstPiece = static_cast<std::uint32_t>(plan.pieces.size());
            for (const PrintedChain::Piece& p : chain->pieces)
                plan.pieces.push_back(piece(p));
            step.pieceCount = static_cast<std::uint32_t>(chain->pieces.size());
        } else if (auto r = read(e)) {
            step.kind = Step::Kind::printRead;
            step.read = *r;
        } else {
            step.kind = Step::Kind::print;
        }
        return step;
    }

    Piece piece(const PrintedChain::Piece& p) {
        using Kind = PrintedChain::Piece::Kind;
        Piece piece;
        piece.node = p.operand;
        switch (p.kind) {
        case Kind::text:
            piece.kind = Piece::Kind::text;
            piece.text = &p.text;
            break;
        case Kind::trimmed:
            if (auto r = read(p.operand->as<E::Filter>().operand)) {
                piece.kind = Piece::Kind::trimmed;
                piece.read = *r;
                piece.name = name(p.operand->as<E::Filter>().name);
            } else {
                piece.kind = Piece::Kind::generalTrimmed;
            }
            break;
        case Kind::operand:
            if (auto r = read(*p.operand)) {
                piece.kind = Piece::Kind::read;
                piece.read = *r;
            } else {
                piece.kind = Piece::Kind::general;
            }
            break;
        }
        return piece;
    }

    Step statement(const Statement& s) {
        Step step;
        if (const auto* i = s.getIf<Statement::If>()) {
            step.kind = Step::Kind::branch;
            step.condition = condition(i->test);
            step.then = list(i->body);
            step.otherwise = list(i->alternate);
        } else {
            step.kind = Step::Kind::other;
            step.statement = &s;
        }
        return step;
    }

    std::string_view item_;
    const std::vector<std::string>& bound_;
    std::vector<std::uint64_t> readIds_;
    std::vector<std::string_view> names_;
};

} // namespace

std::shared_ptr<const BodyPlan> planBody(const NodeList& body,
                                         const std::vector<std::string>& names, bool single) {
    Builder builder(names, single);
    builder.list(body);
    if (!builder.gains) return nullptr;
    return std::make_shared<const BodyPlan>(std::move(builder.plan));
}

} // namespace jinja
