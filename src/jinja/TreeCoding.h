#pragma once

#include "jinja/Ast.h"
#include "jinja/Macro.h"
#include "jinja/Token.h"
#include "jinja/Value.h"

// The JSON forms of tokens, syntax trees and macro records, built as values
// so that one writer and one reader serve every type. Decoding throws
// CodingError.
namespace jinja::coding {

Value encode(const Token& token);
Value encode(const Expression& expression);
Value encode(const Statement& statement);
Value encode(const Node& node);
Value encode(const Macro& macro);

Token decodeToken(const Value& value);
Expression decodeExpression(const Value& value);
Statement decodeStatement(const Value& value);
Node decodeNode(const Value& value);
Macro decodeMacro(const Value& value);

} // namespace jinja::coding
