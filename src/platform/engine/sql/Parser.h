#pragma once
// T-SQL parser: a batch of statements (with or without ";" between them) -> syntax trees.
// Syntax errors are thrown as EngineError 102 ("Incorrect syntax near 'x'.") or 156 ("Incorrect syntax
// near the keyword 'x'."); constructs the engine does not support as EngineError err::NotSupported with a
// message naming the construct. GO lines are not T-SQL: the tools split batches on them before parsing.

#include <string_view>
#include <vector>

#include "Ast.h"

namespace vopa::engine::sql {

std::vector<StatementPtr> parseBatch(std::string_view batch);

// Parses one expression (a column default as stored in the catalog, e.g. "((2884 + 919) / 100)").
ExprPtr parseExpression(std::string_view text);

// Parses one SELECT statement (a view's text).
std::unique_ptr<SelectStmt> parseSelect(std::string_view text);

}  // namespace vopa::engine::sql
