// Queries: FROM clauses, scopes and SELECT.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "Compiler.h"
#include "CompilerSupport.h"
#include "platform/engine/sql/Parser.h"

namespace vopa::engine::translate {

using namespace detail;
using sql::Expr;

ScopeTable Compiler::bindTable(const TableHandle& t, const std::string& alias) {
    ScopeTable st;
    st.alias = alias.empty() ? t.table->name : alias;
    st.database = t.db.name;
    st.sqlAlias = freshAlias();
    st.base = t;
    return st;
}

std::string Compiler::bindRef(const sql::TableRef& ref, Scope& scope) {
    switch (ref.kind) {
        case sql::TableRef::Kind::Table: {
            TableHandle t = ctx_.table(ref.table, true);
            ScopeTable st = bindTable(t, ref.alias);
            if (t.table->type == storage::TableInfo::Type::View) {
                std::unique_ptr<sql::SelectStmt> view = sql::parseSelect(t.table->viewText);
                // A view's names are those of its own database, whichever database the reader is in.
                const std::string readerDatabase = ctx_.resolveNamesIn(t.db.name);
                CompiledSelect inner;
                try {
                    inner = select(*view, nullptr);
                } catch (...) {
                    ctx_.resolveNamesIn(readerDatabase);
                    throw;
                }
                ctx_.resolveNamesIn(readerDatabase);
                st.columns = inner.columns;
                for (std::size_t i = 0; i < st.columns.size() && i < t.table->columns.size(); ++i)
                    st.columns[i].name = t.table->columns[i].name;
                std::string text = "(" + inner.sql + ") AS " + storage::quoteIdentifier(st.sqlAlias);
                scope.tables.push_back(std::move(st));
                return text;
            }
            std::string text = t.storageName() + " AS " + storage::quoteIdentifier(st.sqlAlias);
            scope.tables.push_back(std::move(st));
            return text;
        }
        case sql::TableRef::Kind::Derived: {
            CompiledSelect inner = select(*ref.derived, scope.outer);
            ScopeTable st;
            st.alias = ref.alias;
            st.sqlAlias = freshAlias();
            st.columns = inner.columns;
            std::string text = "(" + inner.sql + ") AS " + storage::quoteIdentifier(st.sqlAlias);
            scope.tables.push_back(std::move(st));
            return text;
        }
        case sql::TableRef::Kind::Join: {
            std::string left = bindRef(*ref.left, scope);
            std::string right = bindRef(*ref.right, scope);
            const char* join = "JOIN";
            switch (ref.joinType) {
                case sql::TableRef::JoinType::Inner: join = "JOIN"; break;
                case sql::TableRef::JoinType::Left: join = "LEFT JOIN"; break;
                case sql::TableRef::JoinType::Right: join = "RIGHT JOIN"; break;
                case sql::TableRef::JoinType::Full: join = "FULL JOIN"; break;
                case sql::TableRef::JoinType::Cross: join = "CROSS JOIN"; break;
            }
            std::string text = left + " " + join + " " + right;
            if (ref.on) text += " ON " + expr(*ref.on, scope).sql;
            return text;
        }
    }
    return {};
}

void Compiler::bindFrom(const std::vector<sql::TableRefPtr>& refs, Scope& scope, std::string& from) {
    for (std::size_t i = 0; i < refs.size(); ++i) {
        from += i ? ", " : " FROM ";
        from += bindRef(*refs[i], scope);
    }
}

CompiledSelect Compiler::select(const sql::SelectStmt& s, const Scope* outer, bool withRowId, bool intoAllowed) {
    if (!s.into.empty() && !intoAllowed) notSupported("SELECT ... INTO inside another statement");
    Scope scope;
    scope.outer = outer;
    CompiledSelect out = selectTerm(s, scope, withRowId && !s.unionNext);
    if (s.unionNext) out = setOperation(s, std::move(out), outer);
    if (!s.orderBy.empty()) {
        // A single group is a single row: its order is checked but has nothing to sort (and its
        // aggregates are those of the query inside).
        const std::string order = orderBy(s, scope, out);
        if (!(out.oneGroup && !s.unionNext)) out.sql += order;
    }
    if (s.top && !s.unionNext) out.sql += topLimit(s, scope);
    return out;
}

std::string Compiler::topLimit(const sql::SelectStmt& s, const Scope& scope) {
    if (s.topPercent) notSupported("TOP ... PERCENT");
    Compiled n = expr(*s.top, scope);
    if (!n.constant || n.constant->kind != Cell::Kind::Integer) notSupported("TOP with an expression");
    return " LIMIT " + std::to_string(n.constant->i);
}

CompiledSelect Compiler::selectTerm(const sql::SelectStmt& s, Scope& scope, bool withRowId) {
    std::string from;
    bindFrom(s.from, scope, from);

    CompiledSelect out;
    std::string items;
    bool aggregate = false;
    auto addItem = [&](const std::string& sqlText, ResultColumn column) {
        if (!items.empty()) items += ", ";
        items += sqlText + " AS \"x" + std::to_string(out.columns.size() + 1) + "\"";
        out.columns.push_back(std::move(column));
        out.untyped.push_back(sqlText == "NULL");
    };
    for (const sql::SelectItem& item : s.items) {
        if (item.expr->kind == Expr::Kind::Star) {
            const std::vector<std::string>& q = item.expr->name.parts;
            bool any = false;
            for (const ScopeTable& t : scope.tables) {
                if (!q.empty() && !text::equalsNoCase(q.back(), t.alias)) continue;
                any = true;
                if (t.base && t.base->table->type != storage::TableInfo::Type::View) {
                    for (const storage::ColumnInfo& c : t.base->table->columns)
                        addItem(storage::quoteIdentifier(t.sqlAlias) + "." + c.storageName(),
                                {c.name, c.type, c.nullable, c.id});
                } else {
                    for (std::size_t i = 0; i < t.columns.size(); ++i) {
                        ResultColumn rc = t.columns[i];
                        rc.baseColumnId = 0;
                        addItem(storage::quoteIdentifier(t.sqlAlias) + ".\"x" + std::to_string(i + 1) + "\"", rc);
                    }
                }
            }
            if (!any) {
                if (q.empty()) throw EngineError(err::NoTableToSelectFrom, "Must specify table to select from.");
                throw EngineError(err::UnboundIdentifier,
                                  "The multi-part identifier \"" + item.expr->name.text() + "\" could not be bound.");
            }
            continue;
        }
        Compiled c = expr(*item.expr, scope);
        aggregate = aggregate || c.aggregate || containsAggregate(*item.expr);
        std::string name = item.alias;
        if (name.empty() && item.expr->kind == Expr::Kind::Column) name = item.expr->name.last();
        addItem(c.isNull ? "NULL" : c.sql, {name, c.type, c.nullable || c.isNull, c.baseColumnId});
    }
    // The server takes up to 4096 values in a select list, SQLite (as built) 2000.
    if (out.columns.size() > 4096)
        throw EngineError(err::SelectListTooLong,
                          "The number of elements in the select list exceeds the maximum allowed number of "
                          "4096 elements.");
    if (out.columns.size() > 2000) notSupported("more than 2000 values in a select list");
    const bool single = s.from.size() == 1 && s.from[0]->kind == sql::TableRef::Kind::Table &&
                        scope.tables.size() == 1 && scope.tables[0].base &&
                        scope.tables[0].base->table->type != storage::TableInfo::Type::View && !aggregate &&
                        s.groupBy.empty() && !s.distinct && !s.unionNext && !s.having;
    if (single) {
        out.singleBase = scope.tables[0].base;
        out.plain = !s.where && s.orderBy.empty() && !s.top;
        if (withRowId) items += ", " + storage::quoteIdentifier(scope.tables[0].sqlAlias) + ".rowid AS \"__rowid\"";
    }
    // HAVING without GROUP BY makes the whole result one group, which SQLite accepts only when the
    // select list holds an aggregate: then one count(*) more makes it one (a single row, also over no
    // rows), and a query around it leaves that column out again.
    const bool oneGroup = s.having && s.groupBy.empty() && !aggregate;
    std::string text = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + items +
                       (oneGroup ? ", count(*) AS \"__group\"" : "") + from;
    if (s.where) {
        if (containsAggregate(*s.where)) throw aggregateInWhere();
        text += " WHERE " + expr(*s.where, scope).sql;
    }
    if (!s.groupBy.empty()) {
        text += " GROUP BY ";
        for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
            if (containsAggregate(*s.groupBy[i]))
                throw EngineError(err::AggregateInGroupBy,
                                  "Cannot use an aggregate or a subquery in an expression used for the group by "
                                  "list of a GROUP BY clause.");
            // A constant would also be taken by SQLite for a position in the select list.
            int local = 0, outerColumns = 0;
            countColumns(*s.groupBy[i], scope, local, outerColumns);
            if (local == 0)
                throw EngineError(err::GroupByOuterReferenceOnly,
                                  "Each GROUP BY expression must contain at least one column that is not an outer "
                                  "reference.",
                                  15);
            Compiled g = expr(*s.groupBy[i], scope);
            text += (i ? ", " : "") + g.sql + (isCharacter(g.type) ? " COLLATE VOPA_CI" : "");
        }
    }
    if (s.having) text += " HAVING " + expr(*s.having, scope).sql;
    if (oneGroup) {
        std::string columns;
        for (std::size_t i = 1; i <= out.columns.size(); ++i)
            columns += (i > 1 ? ", " : "") + std::string("\"x") + std::to_string(i) + "\"";
        text = "SELECT " + columns + " FROM (" + text + ")";
        out.oneGroup = true;
    }
    out.sql = text;
    out.grouped = aggregate || !s.groupBy.empty() || s.having;
    if (out.grouped) {
        for (const sql::ExprPtr& g : s.groupBy) out.groupKeys.push_back(expr(*g, scope).sql);
        for (const sql::SelectItem& item : s.items) {
            if (item.expr->kind == Expr::Kind::Star) {
                // Every column the star stands for must be grouped.
                for (const ScopeTable& t : scope.tables) {
                    const std::vector<std::string>& q = item.expr->name.parts;
                    if (!q.empty() && !text::equalsNoCase(q.back(), t.alias)) continue;
                    std::vector<std::string> names;
                    if (t.base && t.base->table->type != storage::TableInfo::Type::View)
                        for (const storage::ColumnInfo& c : t.base->table->columns) names.push_back(c.name);
                    else
                        for (const ResultColumn& c : t.columns) names.push_back(c.name);
                    for (const std::string& n : names) {
                        Expr column;
                        column.kind = Expr::Kind::Column;
                        column.name.parts = {t.alias, n};
                        requireGrouped(column, scope, out.groupKeys, "select list");
                    }
                }
                continue;
            }
            requireGrouped(*item.expr, scope, out.groupKeys, "select list");
        }
        if (s.having) requireGrouped(*s.having, scope, out.groupKeys, "HAVING clause");
    }
    return out;
}

void Compiler::countColumns(const Expr& e, const Scope& scope, int& local, int& outer) {
    if (e.kind == Expr::Kind::Column) {
        (expr(e, scope).outerReference ? outer : local) += 1;
        return;
    }
    for (const sql::ExprPtr& a : e.args)
        if (a) countColumns(*a, scope, local, outer);
    if (e.caseOperand) countColumns(*e.caseOperand, scope, local, outer);
    for (const auto& [when, then] : e.whens) {
        if (when) countColumns(*when, scope, local, outer);
        if (then) countColumns(*then, scope, local, outer);
    }
    if (e.elseExpr) countColumns(*e.elseExpr, scope, local, outer);
}

EngineError aggregateInWhere() {
    return EngineError(err::AggregateInWhere,
                       "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in "
                       "a HAVING clause or a select list, and the column being aggregated is an outer reference.");
}

bool containsAggregate(const Expr& e) {
    if (e.kind == Expr::Kind::Function && e.name.parts.size() == 1 && isAggregateName(e.name.last())) return true;
    for (const sql::ExprPtr& a : e.args)
        if (a && containsAggregate(*a)) return true;
    if (e.caseOperand && containsAggregate(*e.caseOperand)) return true;
    for (const auto& [when, then] : e.whens)
        if ((when && containsAggregate(*when)) || (then && containsAggregate(*then))) return true;
    return e.elseExpr && containsAggregate(*e.elseExpr);
}

void Compiler::requireGrouped(const Expr& e, const Scope& scope, const std::vector<std::string>& keys,
                              const char* clause) {
    switch (e.kind) {
        case Expr::Kind::Literal:
        case Expr::Kind::Variable:
        case Expr::Kind::Star:
        case Expr::Kind::Subquery:
        case Expr::Kind::Exists:
            return;
        case Expr::Kind::Function:
            if (isAggregateName(e.name.last())) return;
            break;
        default: break;
    }
    const Compiled c = expr(e, scope);
    if (std::find(keys.begin(), keys.end(), c.sql) != keys.end()) return;
    if (e.kind == Expr::Kind::Column) {
        if (c.outerReference) return;
        throw EngineError(err::NotGrouped,
                          "Column '" + c.tableAlias + "." + e.name.last() + "' is invalid in the " + clause +
                              " because it is not contained in either an aggregate function or the GROUP BY clause.");
    }
    for (const sql::ExprPtr& a : e.args)
        if (a) requireGrouped(*a, scope, keys, clause);
    if (e.caseOperand) requireGrouped(*e.caseOperand, scope, keys, clause);
    for (const auto& [when, then] : e.whens) {
        if (when) requireGrouped(*when, scope, keys, clause);
        if (then) requireGrouped(*then, scope, keys, clause);
    }
    if (e.elseExpr) requireGrouped(*e.elseExpr, scope, keys, clause);
}

CompiledSelect Compiler::setOperation(const sql::SelectStmt& s, CompiledSelect first, const Scope* outer) {
    // Every query of the chain is compiled on its own (with its own TOP); the result columns take the
    // first query's names and, for each column, the type of highest precedence among the queries.
    std::vector<CompiledSelect> terms;
    std::vector<sql::SelectStmt::SetOperator> operators;
    if (s.top) first.sql += topLimit(s, Scope{});
    terms.push_back(std::move(first));
    for (const sql::SelectStmt* prev = &s, *next = s.unionNext.get(); next; prev = next, next = next->unionNext.get()) {
        if (!next->into.empty())
            throw EngineError(
                err::SelectIntoNotFirst,
                "SELECT INTO must be the first query in a statement containing a UNION, INTERSECT or EXCEPT operator.");
        Scope scope;
        scope.outer = outer;
        CompiledSelect term = selectTerm(*next, scope, false);
        if (next->top) term.sql += topLimit(*next, scope);
        if (term.columns.size() != terms.front().columns.size())
            throw EngineError(err::SetOperationColumnCount,
                              "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                              "equal number of expressions in their target lists.");
        terms.push_back(std::move(term));
        operators.push_back(prev->setOperator);
    }
    CompiledSelect out;
    out.columns = terms.front().columns;
    for (std::size_t i = 0; i < out.columns.size(); ++i) {
        ResultColumn& column = out.columns[i];
        column.baseColumnId = 0;
        Compiled acc;
        acc.isNull = true;  // a NULL of the select list adopts the other queries' type
        for (const CompiledSelect& t : terms) {
            Compiled c;
            c.type = t.columns[i].type;
            c.isNull = t.untyped[i];
            acc.type = commonType(acc, c);
            acc.isNull = acc.isNull && c.isNull;
            column.nullable = column.nullable || t.columns[i].nullable;
        }
        column.type = acc.type;
    }
    // Each query converted to the result types; text compares under the server's collation, so that
    // UNION, EXCEPT and INTERSECT find duplicates as DISTINCT does.
    auto operand = [&](const std::string& sqlText, const std::vector<ResultColumn>& columns) {
        std::string cols;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            Compiled c;
            c.sql = "\"x" + std::to_string(i + 1) + "\"";
            c.type = columns[i].type;
            std::string value = convert(c, out.columns[i].type, ConversionMode::Implicit);
            if (isCharacter(out.columns[i].type)) value += " COLLATE VOPA_CI";
            cols += (i ? ", " : "") + value + " AS \"x" + std::to_string(i + 1) + "\"";
        }
        return "SELECT " + cols + " FROM (" + sqlText + ")";
    };
    // INTERSECT binds more tightly than UNION and EXCEPT; those combine left to right.
    std::vector<std::string> groups;
    std::vector<sql::SelectStmt::SetOperator> groupOperators;
    std::string group = operand(terms[0].sql, terms[0].columns);
    bool compound = false;
    for (std::size_t k = 0; k < operators.size(); ++k) {
        const CompiledSelect& next = terms[k + 1];
        if (operators[k] == sql::SelectStmt::SetOperator::Intersect) {
            group += " INTERSECT " + operand(next.sql, next.columns);
            compound = true;
            continue;
        }
        groups.push_back(compound ? operand(group, out.columns) : group);
        groupOperators.push_back(operators[k]);
        group = operand(next.sql, next.columns);
        compound = false;
    }
    groups.push_back(compound && !groups.empty() ? operand(group, out.columns) : group);
    std::string combined = groups[0];
    for (std::size_t k = 0; k < groupOperators.size(); ++k) {
        const char* op = groupOperators[k] == sql::SelectStmt::SetOperator::UnionAll ? " UNION ALL "
                         : groupOperators[k] == sql::SelectStmt::SetOperator::Except  ? " EXCEPT "
                                                                                       : " UNION ";
        combined += op + groups[k + 1];
    }
    out.sql = "SELECT * FROM (" + combined + ")";
    return out;
}

std::string Compiler::orderBy(const sql::SelectStmt& s, const Scope& scope, const CompiledSelect& out) {
    std::string text = " ORDER BY ";
    for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
        const sql::OrderItem& o = s.orderBy[i];
        std::string key;
        bool character = false;
        auto byPosition = [&](std::size_t k) {
            key = "\"x" + std::to_string(k + 1) + "\"";
            character = isCharacter(out.columns[k].type);
        };
        if (o.expr->kind == Expr::Kind::Literal && o.expr->literalKind == Expr::LiteralKind::Integer) {
            std::size_t n = 0;
            for (char c : o.expr->text) n = n > out.columns.size() ? n : n * 10 + static_cast<std::size_t>(c - '0');
            if (n < 1 || n > out.columns.size())
                throw EngineError(err::OrderByPositionOutOfRange,
                                  "The ORDER BY position number " + o.expr->text +
                                      " is out of range of the number of items in the select list.");
            byPosition(n - 1);
        } else if (o.expr->kind == Expr::Kind::Literal) {
            throw EngineError(
                err::OrderByConstant,
                "A constant expression was encountered in the ORDER BY list, position " + std::to_string(i + 1) + ".");
        } else {
            // A name of the select list first (after a UNION only those), then any expression over the
            // FROM clause.
            const bool named = o.expr->kind == Expr::Kind::Column && !o.expr->name.parts.empty();
            int byName = -1;
            if (named && o.expr->name.parts.size() == 1)
                for (std::size_t k = 0; k < s.items.size() && k < out.columns.size(); ++k)
                    if (!s.items[k].alias.empty() && text::equalsNoCase(s.items[k].alias, o.expr->name.last()))
                        byName = static_cast<int>(k);
            if (byName < 0 && named && s.unionNext)
                for (std::size_t k = 0; k < out.columns.size() && byName < 0; ++k)
                    if (text::equalsNoCase(out.columns[k].name, o.expr->name.last())) byName = static_cast<int>(k);
            if (byName >= 0) {
                byPosition(static_cast<std::size_t>(byName));
            } else if (s.unionNext) {
                throw EngineError(err::OrderByNotInSelectList,
                                  "ORDER BY items must appear in the select list if the statement contains a "
                                  "UNION, INTERSECT or EXCEPT operator.");
            } else {
                Compiled c = expr(*o.expr, scope);
                // A constant (1 + 1) orders nothing, and SQLite would take a folded integer for a
                // column position: refused as the server refuses it.
                if (c.constant || c.isNull)
                    throw EngineError(err::OrderByConstant,
                                      "A constant expression was encountered in the ORDER BY list, position " +
                                          std::to_string(i + 1) + ".");
                if (out.grouped) {
                    requireGrouped(*o.expr, scope, out.groupKeys, "ORDER BY clause");
                } else if (c.aggregate || containsAggregate(*o.expr)) {
                    // An aggregate in ORDER BY groups the whole query: its select list must be grouped.
                    for (const sql::SelectItem& item : s.items)
                        requireGrouped(*item.expr, scope, {}, "select list");
                }
                key = c.sql;
                character = isCharacter(c.type);
            }
        }
        text += (i ? ", " : "") + key + (character ? " COLLATE VOPA_CI" : "") + (o.descending ? " DESC" : "");
    }
    return text;
}
}  // namespace vopa::engine::translate
