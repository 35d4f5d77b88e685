#pragma once

#include "jinja/ObjectKey.h"
#include "jinja/PositionHint.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The syntax tree of a compiled template: Node, Expression and Statement.
// All three are immutable handles over shared payloads, so copying a node
// copies a pointer, never a subtree. Each has a Kind that names its case and
// as<Payload>() to read the case's fields (the caller checks kind() first).

namespace jinja {

class Expression;
class Statement;
class Node;
class Value;
struct ExpressionFacts;
struct BodyPlan;

using NodeList = std::vector<Node>;
using ExpressionList = std::vector<Expression>;

class Expression {
public:
    enum class Kind : std::uint8_t {
        string,
        number,
        integer,
        boolean,
        null,
        array,
        tuple,
        object,
        identifier,
        unary,
        binary,
        ternary,
        call,
        member,
        slice,
        filter,
        test,
    };
    enum class UnaryOp : std::uint8_t { not_, minus, plus, splat };
    enum class BinaryOp : std::uint8_t {
        add,
        subtract,
        multiply,
        divide,
        floorDivide,
        power,
        modulo,
        concat,
        equal,
        notEqual,
        less,
        lessEqual,
        greater,
        greaterEqual,
        and_,
        or_,
        in,
        notIn,
    };

    struct String;
    struct Number;
    struct Integer;
    struct Boolean;
    struct Null;
    struct Array;
    struct Tuple;
    struct Object;
    struct Identifier;
    struct Unary;
    struct Binary;
    struct Ternary;
    struct Call;
    struct Member;
    struct Slice;
    struct Filter;
    struct Test;

    // The null literal.
    Expression();
    Expression(String payload);
    Expression(Number payload);
    Expression(Integer payload);
    Expression(Boolean payload);
    Expression(Null payload);
    Expression(Array payload);
    Expression(Tuple payload);
    Expression(Object payload);
    Expression(Identifier payload);
    Expression(Unary payload);
    Expression(Binary payload);
    Expression(Ternary payload);
    Expression(Call payload);
    Expression(Member payload);
    Expression(Slice payload);
    Expression(Filter payload);
    Expression(Test payload);

    Kind kind() const noexcept;
    template <class T> const T& as() const noexcept;
    template <class T> const T* getIf() const noexcept;

    // Height of the tree below and including this node (a literal has depth 1).
    std::uint32_t depth() const noexcept;
    const ExpressionFacts& facts() const noexcept;

    std::size_t hash() const noexcept;
    friend bool operator==(const Expression& a, const Expression& b) noexcept;

    // Names of the cases as used in the JSON form ("string", "binary", ...).
    static std::string_view kindName(Kind kind) noexcept;
    // Operator texts ("not", "-", "+", "*"; "+", "-", ..., "not in").
    static std::string_view rawValue(UnaryOp op) noexcept;
    static std::string_view rawValue(BinaryOp op) noexcept;
    static std::optional<UnaryOp> unaryOpFromRawValue(std::string_view text) noexcept;
    static std::optional<BinaryOp> binaryOpFromRawValue(std::string_view text) noexcept;
    static const std::vector<UnaryOp>& allUnaryOps();
    static const std::vector<BinaryOp>& allBinaryOps();

    // JSON form: one key naming the case, holding an object with the payload.
    std::string toJson() const;
    static Expression fromJson(std::string_view json); // throws CodingError

    struct Data;

private:
    std::shared_ptr<const Data> data_;
};

// Keyword arguments of calls and filters (names unique, kept in the order
// first written, compared as an unordered set) and macro defaults (compared
// in order).
using ExpressionMap = std::vector<std::pair<std::string, Expression>>;

struct Expression::String {
    std::string value;
};
struct Expression::Number {
    double value = 0.0;
};
struct Expression::Integer {
    std::int64_t value = 0;
};
struct Expression::Boolean {
    bool value = false;
};
struct Expression::Null {};
struct Expression::Array {
    ExpressionList elements;
};
struct Expression::Tuple {
    ExpressionList elements;
};
// Pairs of an object literal: keys unique, in the order first written.
struct Expression::Object {
    std::vector<std::pair<ObjectKey, Expression>> entries;
};
struct Expression::Identifier {
    std::string name;
};
struct Expression::Unary {
    UnaryOp op;
    Expression operand;
};
struct Expression::Binary {
    BinaryOp op;
    Expression left;
    Expression right;
};
// `value if test else alternate`; alternate absent when no else was written.
struct Expression::Ternary {
    Expression value;
    Expression test;
    std::optional<Expression> alternate;
};
struct Expression::Call {
    Expression callee;
    ExpressionList args;
    ExpressionMap kwargs;
};
// `object.name` (computed false, member is an Identifier) or `object[member]`.
struct Expression::Member {
    Expression object;
    Expression member;
    bool computed = false;
};
struct Expression::Slice {
    Expression object;
    std::optional<Expression> start;
    std::optional<Expression> stop;
    std::optional<Expression> step;
};
struct Expression::Filter {
    Expression operand;
    std::string name;
    ExpressionList args;
    ExpressionMap kwargs;
};
struct Expression::Test {
    Expression operand;
    std::string name;
    ExpressionList args;
    bool negated = false;
};

// A variable followed by literal steps: member names, string keys and
// integer indexes (`message.role`, `m['content']`, `xs[0]`), flattened so
// that reading it walks a list instead of the tree. The texts point into the
// expression's own nodes.
struct LiteralPath {
    struct Step {
        enum class Kind : std::uint8_t { name, key, index };
        Kind kind = Kind::name;
        // A name that is also an object or string method (name steps only).
        bool objectMethod = false;
        bool stringMethod = false;
        // A name or key step that reads an object's entry (not a method).
        bool plainKey = false;
        std::string_view text;  // name or key
        std::uint64_t hash = 0; // object-key hash of the text
        std::uint64_t head = 0; // textHead of the text
        std::int64_t index = 0;
        // Where the key stood in the object the step read last (name and
        // key steps): objects of one kind keep their keys in the same order.
        PositionHint slot;
    };
    std::string_view root;
    std::uint64_t rootHash = 0; // scope hash of the root name
    std::uint64_t rootHead = 0; // textHead of the root name
    // Where the root stood among the variables of the scope it was read in.
    PositionHint rootSlot;
    // The read identity of the root name alone (as ExpressionFacts::readId),
    // or 0.
    std::uint64_t rootId = 0;
    std::vector<Step> steps;
};

// A chain of `+` or `~` whose leftmost operand is a string literal, as the
// pieces of its printed form in order: the running result is a string from
// the start, so every step appends its printed operand. Neighbouring literal
// texts are joined into one piece. The operands point into the chain's own
// nodes.
struct PrintedChain {
    struct Piece {
        enum class Kind : std::uint8_t {
            text,    // literal text
            trimmed, // `x | trim` with the built-in filter and no arguments
            operand  // any other operand
        };
        Kind kind = Kind::text;
        std::string text;
        const Expression* operand = nullptr; // the operand, or the filter expression
    };
    // Longer chains are not flattened (each node of a chain holds the pieces
    // up to it, so that bounds what a long chain costs to build).
    static constexpr std::size_t maxPieces = 32;

    std::vector<Piece> pieces;
};

// What evaluating an expression would otherwise work out again every time,
// worked out once when the node is built (ExpressionFacts.cpp). Equality,
// hashing and coding look at the payload only.
struct ExpressionFacts {
    // Identifier, filter and test: the scope hash of the name. Member with a
    // literal name or string key: the object-key hash of that key.
    std::uint64_t nameHash = 0;
    // Filter: the built-in filter of that name; test: the built-in test
    // (each a function pointer of its table's type), or null.
    void (*builtIn)() = nullptr;
    // Member with a literal name: whether the name is an object method
    // (items, get, keys, values) or a string method.
    bool objectMethod = false;
    bool stringMethod = false;
    // Filter and test: a global function has the same name.
    bool globalName = false;
    // Test: `x is defined`, `x is undefined` or `x is none` with the built-in
    // test and no arguments, over an operand that only reads a value. (Kept
    // among the flags: the facts stay within the size the nodes are
    // allocated in.)
    enum class KindTest : std::uint8_t { no, defined, undefined, none };
    KindTest kindTest = KindTest::no;
    // A string literal, or an array, tuple or object of literals: its value.
    std::shared_ptr<const Value> constant;
    // The constant is an ASCII string, or an array or tuple of ASCII strings
    // only (such texts equal another text only when its bytes are the same
    // or it is not all ASCII).
    bool ascii = false;
    // A member chain of literal steps over an identifier.
    std::shared_ptr<const LiteralPath> path;
    // Nonzero for a path of plain keys (names that are no object method, or
    // string keys) built while a ReadIdentities lived: paths of one template
    // that read the same keys from the same name share it, whether written
    // `m.role` or `m['role']` (ExpressionFacts.h).
    std::uint64_t readId = 0;
    // A `+` or `~` chain over a leading string literal, flattened.
    std::shared_ptr<const PrintedChain> chain;
};

struct Expression::Data {
    std::variant<String, Number, Integer, Boolean, Null, Array, Tuple, Object, Identifier, Unary,
                 Binary, Ternary, Call, Member, Slice, Filter, Test>
        payload;
    std::uint32_t depth = 1;
    ExpressionFacts facts;
};

inline Expression::Kind Expression::kind() const noexcept {
    return static_cast<Kind>(data_->payload.index());
}
template <class T> const T& Expression::as() const noexcept {
    return *std::get_if<T>(&data_->payload);
}
template <class T> const T* Expression::getIf() const noexcept {
    return std::get_if<T>(&data_->payload);
}
inline std::uint32_t Expression::depth() const noexcept {
    return data_->depth;
}
inline const ExpressionFacts& Expression::facts() const noexcept {
    return data_->facts;
}

class Statement {
public:
    enum class Kind : std::uint8_t {
        program,
        set,
        if_,
        for_,
        macro,
        break_,
        continue_,
        call,
        filter,
        generation
    };

    // Loop target of a for statement: one name, or two or more names to unpack.
    struct LoopVar {
        enum class Kind : std::uint8_t { single, tuple };
        Kind kind = Kind::single;
        std::vector<std::string> names;
        // Names compare by canonical equivalence.
        friend bool operator==(const LoopVar& a, const LoopVar& b) noexcept;
    };

    struct Program;
    struct Set;
    struct If;
    struct For;
    struct Macro;
    struct Break;
    struct Continue;
    struct Call;
    struct Filter;
    struct Generation;

    Statement(Program payload);
    Statement(Set payload);
    Statement(If payload);
    Statement(For payload);
    Statement(Macro payload);
    Statement(Break payload);
    Statement(Continue payload);
    Statement(Call payload);
    Statement(Filter payload);
    Statement(Generation payload);

    Kind kind() const noexcept;
    template <class T> const T& as() const noexcept;
    template <class T> const T* getIf() const noexcept;
    // A for statement's body plan, or null.
    const BodyPlan* plan() const noexcept;

    std::size_t hash() const noexcept;
    friend bool operator==(const Statement& a, const Statement& b) noexcept;

    static std::string_view kindName(Kind kind) noexcept;

    std::string toJson() const;
    static Statement fromJson(std::string_view json); // throws CodingError

    struct Data;

private:
    std::shared_ptr<const Data> data_;
};

struct Statement::Program {
    NodeList body;
};
// Inline form `set target = value` (value present, body empty) or block form
// `set target` ... `endset` (value absent, body holds the block).
struct Statement::Set {
    Expression target;
    std::optional<Expression> value;
    NodeList body;
};
// An elif chain nests: the alternate holds one statement node with the next If.
struct Statement::If {
    Expression test;
    NodeList body;
    NodeList alternate;
};
struct Statement::For {
    LoopVar loopVar;
    Expression iterable;
    NodeList body;
    NodeList alternate;
    std::optional<Expression> test;
};
struct Statement::Macro {
    std::string name;
    std::vector<std::string> parameters;
    ExpressionMap defaults;
    NodeList body;
};
struct Statement::Break {};
struct Statement::Continue {};
// callerArgs absent when `call` is not followed by a parenthesised list.
struct Statement::Call {
    Expression callable;
    std::optional<ExpressionList> callerArgs;
    NodeList body;
};
struct Statement::Filter {
    Expression filterExpr;
    NodeList body;
};
struct Statement::Generation {
    NodeList body;
};

struct Statement::Data {
    std::variant<Program, Set, If, For, Macro, Break, Continue, Call, Filter, Generation> payload;
    // For: the plan of the body (BodyPlan.h), or null. Equality, hashing and
    // coding look at the payload only.
    std::shared_ptr<const BodyPlan> plan;
};

inline Statement::Kind Statement::kind() const noexcept {
    return static_cast<Kind>(data_->payload.index());
}
template <class T> const T& Statement::as() const noexcept {
    return *std::get_if<T>(&data_->payload);
}
inline const BodyPlan* Statement::plan() const noexcept {
    return data_->plan.get();
}
template <class T> const T* Statement::getIf() const noexcept {
    return std::get_if<T>(&data_->payload);
}

class Node {
public:
    enum class Kind : std::uint8_t { text, expression, statement, comment };

    static Node text(std::string text);
    static Node comment(std::string text);
    Node(Expression expression);
    Node(Statement statement);

    Kind kind() const noexcept { return kind_; }
    // The literal text of a text node, or the text of a comment node.
    const std::string& text() const noexcept { return *text_; }
    const Expression& expression() const noexcept { return *expression_; }
    const Statement& statement() const noexcept { return *statement_; }

    std::size_t hash() const noexcept;
    friend bool operator==(const Node& a, const Node& b) noexcept;

    static std::string_view kindName(Kind kind) noexcept;

    std::string toJson() const;
    static Node fromJson(std::string_view json); // throws CodingError

private:
    Node(Kind kind, std::string text);

    Kind kind_;
    std::shared_ptr<const std::string> text_;
    std::optional<Expression> expression_;
    std::optional<Statement> statement_;
};

std::size_t hashNodes(const NodeList& nodes) noexcept;

} // namespace jinja
