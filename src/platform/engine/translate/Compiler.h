#pragma once
// Translation of T-SQL expressions and queries into SQLite SQL over the engine's storage, with the
// server's typing: every compiled expression knows its SQL Server type, numbers and dates are
// converted to a common representation before they meet, text compares case-insensitively, and
// conversions that can fail go through vopa_conv so that they fail with the server's error.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/engine/Convert.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/ResultColumn.h"
#include "platform/engine/storage/Sqlite.h"
#include "platform/engine/translate/CompileContext.h"

namespace vopa::engine::translate {

struct Compiled {
    std::string sql;
    SqlType type;
    bool isNull = false;  // the NULL literal: adopts the type it meets
    bool nullable = true;
    std::optional<Cell> constant;  // known at compile time
    int baseColumnId = 0;          // a plain column of a base table
    bool aggregate = false;
    // A column: the table that holds it, as the statement names it, and whether it belongs to an
    // enclosing query (an outer reference).
    std::string tableAlias;
    bool outerReference = false;
    // A chain of one operator (AND, OR; ISNULL as "coalesce"): its operands joined without the outer
    // parentheses, so that a long chain stays flat in SQLite text instead of nesting one level each.
    std::string chainOp;
    std::string chain;
};

// One table of a FROM clause as expressions see it.
struct ScopeTable {
    std::string alias;     // how the statement names it: its alias, or the table's own name
    std::string database;  // the database of a base table (to match three-part names)
    std::string sqlAlias;  // its alias in the SQLite text
    std::optional<TableHandle> base;      // a base table
    std::vector<ResultColumn> columns;    // a derived table's or view's columns, named x1.. in SQL
};

struct Scope {
    std::vector<ScopeTable> tables;
    const Scope* outer = nullptr;
};

struct CompiledSelect {
    std::string sql;                     // columns named "x1", "x2", ...
    std::vector<ResultColumn> columns;
    std::optional<TableHandle> singleBase;  // rows straight from one base table (rowid as "__rowid" when asked)
    bool plain = false;  // moreover no WHERE, ORDER BY or TOP: every row of that table
    std::vector<bool> untyped;  // per column: the NULL literal, which adopts the type it meets
    // A grouped query (GROUP BY, or an aggregate in its select list or HAVING): the SQL of its grouping
    // expressions, which alone (with aggregates) may appear in its select list, HAVING and ORDER BY.
    bool grouped = false;
    std::vector<std::string> groupKeys;
    // HAVING without GROUP BY or aggregates in the select list: the rows are one group, made in a
    // query of its own.
    bool oneGroup = false;
};

class Compiler {
public:
    explicit Compiler(CompileContext& context) : ctx_(context) {}

    Compiled expr(const sql::Expr& e, const Scope& scope);
    // `intoAllowed`: the caller handles SELECT ... INTO itself (the outermost query of a statement).
    CompiledSelect select(const sql::SelectStmt& s, const Scope* outer, bool withRowId = false,
                          bool intoAllowed = false);

    // SQL for `c` converted to `to` (pure SQL where the representations agree, vopa_conv otherwise).
    std::string convert(const Compiled& c, const SqlType& to, ConversionMode mode, int style = -1);
    // SQL for `c` assigned to a column: the server's implicit conversion, NOT NULL check and length rule.
    std::string store(const Compiled& c, const storage::ColumnInfo& column, const TableHandle& table, bool forUpdate);
    // The value `c` stores in `column` when it is known at compile time (a constant, or NULL into a
    // nullable column): what store() would write as a literal. Empty otherwise.
    std::optional<Cell> storedConstant(const Compiled& c, const storage::ColumnInfo& column);
    // SQL literal of a constant cell.
    static std::string literal(const Cell& c);

    // Scope for a FROM clause; appends "FROM ..." text to `from`.
    void bindFrom(const std::vector<sql::TableRefPtr>& refs, Scope& scope, std::string& from);
    ScopeTable bindTable(const TableHandle& t, const std::string& alias);

    std::string freshAlias() { return "a" + std::to_string(++aliasCounter_); }

private:
    friend struct FunctionCall;  // a built-in function's translation

    CompileContext& ctx_;
    int aliasCounter_ = 0;

    // One query of a chain: SELECT ... FROM ... WHERE ... GROUP BY ... HAVING (no ORDER BY, no TOP).
    CompiledSelect selectTerm(const sql::SelectStmt& s, Scope& scope, bool withRowId);
    // The chain that starts at `s` (whose own query is `first`) combined by UNION, EXCEPT, INTERSECT.
    CompiledSelect setOperation(const sql::SelectStmt& s, CompiledSelect first, const Scope* outer);
    std::string orderBy(const sql::SelectStmt& s, const Scope& scope, const CompiledSelect& out);
    std::string topLimit(const sql::SelectStmt& s, const Scope& scope);
    // 8120 unless every column of `e` of this query is inside an aggregate or a grouping expression.
    void requireGrouped(const sql::Expr& e, const Scope& scope, const std::vector<std::string>& keys,
                        const char* clause);
    // Counts the columns `e` names outside its subqueries: those of this query and those of enclosing
    // ones (outer references).
    void countColumns(const sql::Expr& e, const Scope& scope, int& local, int& outer);
    Compiled literalExpr(const sql::Expr& e);
    Compiled column(const sql::Expr& e, const Scope& scope);
    Compiled unary(const sql::Expr& e, const Scope& scope);
    Compiled binary(const sql::Expr& e, const Scope& scope);
    Compiled comparison(const std::string& op, const Compiled& a, const Compiled& b);
    Compiled arithmetic(const std::string& op, Compiled a, Compiled b);
    Compiled function(const sql::Expr& e, const Scope& scope);
    Compiled cast(const sql::Expr& e, const Scope& scope);
    Compiled caseExpr(const sql::Expr& e, const Scope& scope);
    Compiled inList(const sql::Expr& e, const Scope& scope);
    Compiled subqueryValue(const sql::SelectStmt& s, const Scope& scope);
    std::string bindRef(const sql::TableRef& ref, Scope& scope);
    // The comparison type of two operands (the one of higher precedence; NULL adopts the other).
    static SqlType commonType(const Compiled& a, const Compiled& b);
};

// Compiles a statement without running it, so that a column missing from an existing table (207) or a
// variable not declared (137) is found before any statement of the batch runs. Only the statements
// that read or change rows, and conditions and values of variables, are compiled.
void compileStatement(CompileContext& context, const sql::Statement& statement);
// The local variables of a batch, by upper-case name. A variable exists from its DECLARE to the end of
// the batch, in the order of the text: it is known to every statement written after its declaration
// (also when the DECLARE does not run) and unknown before it.
using Variables = std::map<std::string, BatchVariable>;
// Declares every variable of the batch, NULL until assigned; throws 134 (declared twice), 2715 (unknown
// type) or 2739 (text, ntext, image).
Variables declareVariables(const std::vector<sql::StatementPtr>& statements);
// The variable a name written at `usedAt` designates; throws 137 when none is declared before it.
BatchVariable& findVariable(Variables& variables, const std::string& name, std::size_t usedAt);

// The table an INSERT, UPDATE or DELETE changes: 259 for the server's own catalog, 40000 for a view.
TableHandle writableTable(CompileContext& context, const sql::QualifiedName& name);
// Throws when rows of `t` may not be changed (a catalog view, a view).
void requireWritable(const TableHandle& t);

// 147: an aggregate in a WHERE clause (or in the WHERE of an UPDATE or DELETE).
EngineError aggregateInWhere();

// True when `name` (any case) is a built-in aggregate function of the server.
bool isAggregateName(const std::string& name);
// True when `e` calls an aggregate function outside any subquery of its own.
bool containsAggregate(const sql::Expr& e);

// True when values of `from` can be stored as `to` without any conversion or check.
bool sameRepresentation(const SqlType& from, const SqlType& to);

}  // namespace vopa::engine::translate
