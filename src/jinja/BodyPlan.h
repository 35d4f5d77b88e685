#pragma once
// A loop body prepared once, when its loop is built, for running every
// iteration without the tree walk's general calls. Conditions and outputs
// that only read paths of plain keys (`message.role`, `m['content']`) and
// compare them with literals become steps over numbered reads: each path is
// read at most once between two steps that run anything else, and the
// comparisons, kind tests and printed pieces work on the values read. Every
// other node stays as it is and runs the general way.

#include "jinja/Ast.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jinja {

struct BodyPlan {
    // Reads of more distinct paths than this are left to the general way.
    static constexpr std::size_t maxReads = 16;
    // The names of the filters and tests the plan runs built in (`trim`,
    // `defined`), numbered so that a loop's run can keep knowing that no
    // function in scope has one of them; names past this many, or named
    // like a variable the loop binds, are looked for every time (noName).
    static constexpr std::uint8_t maxNames = 32;
    static constexpr std::uint8_t noName = 0xFF;

    // A condition's tree: leaves that test one read, `and`, `or`, `not`, and
    // any other expression (run the general way).
    struct Condition {
        enum class Kind : std::uint8_t {
            truthy,   // `path`
            equals,   // `path == 'text'`, `path != 'text'` (negated)
            inList,   // `path in [...]`, `path not in [...]` (negated), ASCII texts
            kindTest, // `path is defined` and the like (ExpressionFacts::kindTest)
            and_,
            or_,
            not_,
            general,
        };
        Kind kind = Kind::general;
        bool negated = false;
        std::uint8_t read = 0;
        // kindTest: the number of the test's name.
        std::uint8_t name = noName;
        // equals: whether the literal is ASCII.
        bool ascii = false;
        // The condition's own node: the leaf run the general way when its
        // path cannot be read in place, or the general expression.
        const Expression* node = nullptr;
        // equals: the literal's text; inList: the list's value. (Held here
        // so that a test needs no walk through its node.)
        const std::string* text = nullptr;
        const Value* list = nullptr;
        // and, or: both operands; not: left (indexes into `conditions`).
        std::uint32_t left = 0;
        std::uint32_t right = 0;
    };

    // A piece of a printed chain (PrintedChain), with reads numbered.
    struct Piece {
        enum class Kind : std::uint8_t {
            text,           // literal text
            read,           // a path's printed value
            trimmed,        // `path | trim` with the built-in filter
            general,        // any other operand, evaluated
            generalTrimmed, // `x | trim` over anything but a path
        };
        Kind kind = Kind::text;
        std::uint8_t read = 0;
        // trimmed: the number of the filter's name.
        std::uint8_t name = noName;
        const std::string* text = nullptr;
        // The operand; for a trimmed piece, the filter expression.
        const Expression* node = nullptr;
    };

    struct Step {
        enum class Kind : std::uint8_t {
            text,      // literal text, or an output of a string literal
            printRead, // an output of a path
            printChain,
            print,  // any other output, the general way
            branch, // if / elif / else
            other,  // any other statement, the general way
        };
        Kind kind = Kind::text;
        std::uint8_t read = 0;
        std::uint32_t condition = 0;
        // branch: the step lists of the two branches (indexes into `lists`).
        std::uint32_t then = 0;
        std::uint32_t otherwise = 0;
        // printChain: its pieces in `pieces`.
        std::uint32_t firstPiece = 0;
        std::uint32_t pieceCount = 0;
        const std::string* text = nullptr;
        const Expression* expression = nullptr; // outputs
        const Statement* statement = nullptr;   // other
    };

    struct Read {
        const LiteralPath* path = nullptr;
        // The step of a path that reads one key (of an object), or null.
        const LiteralPath::Step* key = nullptr;
    };
    // The paths read, by number.
    std::vector<Read> reads;
    // The root identity (LiteralPath::rootId) of the paths that start from
    // the loop's variable, or 0 when none does.
    std::uint64_t itemRootId = 0;
    std::vector<Condition> conditions;
    std::vector<Piece> pieces;
    // Step lists: lists[0] is the body itself.
    std::vector<std::vector<Step>> lists;
};

// The plan of a loop body whose loop binds `names` (one variable when
// `single`, else the parts of each item), or null when no condition or output
// in it would gain from one. The plan points into `body`, which must stay
// where it is.
std::shared_ptr<const BodyPlan> planBody(const NodeList& body,
                                         const std::vector<std::string>& names, bool single);

} // namespace jinja
