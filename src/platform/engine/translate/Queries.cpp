// Queries: FROM clauses, scopes and SELECT.

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
            TableHandle t = s_.table(ref.table);
            ScopeTable st = bindTable(t, ref.alias);
            if (t.table->type == storage::TableInfo::Type::View) {
                std::unique_ptr<sql::SelectStmt> view = sql::parseSelect(t.table->viewText);
                // A view's names are those of its own database, whichever database the reader is in.
                const std::string readerDatabase = s_.currentDatabase;
                s_.currentDatabase = t.db.name;
                CompiledSelect inner;
                try {
                    inner = select(*view, nullptr);
                } catch (...) {
                    s_.currentDatabase = readerDatabase;
                    throw;
                }
                s_.currentDatabase = readerDatabase;
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
    std::string from;
    bindFrom(s.from, scope, from);

    CompiledSelect out;
    std::string items;
    bool aggregate = false;
    auto addItem = [&](const std::string& sqlText, ResultColumn column) {
        if (!items.empty()) items += ", ";
        items += sqlText + " AS \"x" + std::to_string(out.columns.size() + 1) + "\"";
        out.columns.push_back(std::move(column));
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
                if (q.empty()) throw EngineError(263, "Must specify table to select from.");
                throw EngineError(4104, "The multi-part identifier \"" + item.expr->name.text() + "\" could not be bound.");
            }
            continue;
        }
        Compiled c = expr(*item.expr, scope);
        aggregate = aggregate || c.aggregate;
        std::string name = item.alias;
        if (name.empty() && item.expr->kind == Expr::Kind::Column) name = item.expr->name.last();
        addItem(c.isNull ? "NULL" : c.sql, {name, c.type, c.nullable || c.isNull, c.baseColumnId});
    }
    const bool single = s.from.size() == 1 && s.from[0]->kind == sql::TableRef::Kind::Table &&
                        scope.tables.size() == 1 && scope.tables[0].base &&
                        scope.tables[0].base->table->type != storage::TableInfo::Type::View && !aggregate &&
                        s.groupBy.empty() && !s.distinct && !s.unionNext && !s.having;
    if (single) {
        out.singleBase = scope.tables[0].base;
        out.plain = !s.where && s.orderBy.empty() && !s.top;
        if (withRowId) items += ", " + storage::quoteIdentifier(scope.tables[0].sqlAlias) + ".rowid AS \"__rowid\"";
    }
    std::string text = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + items + from;
    if (s.where) text += " WHERE " + expr(*s.where, scope).sql;
    if (!s.groupBy.empty()) {
        text += " GROUP BY ";
        for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
            Compiled g = expr(*s.groupBy[i], scope);
            text += (i ? ", " : "") + g.sql + (isCharacter(g.type) ? " COLLATE VOPA_CI" : "");
        }
    }
    if (s.having) text += " HAVING " + expr(*s.having, scope).sql;

    if (s.unionNext) {
        // Every branch of the UNION yields the first branch's columns, converted where they differ.
        std::string combined = text;
        for (const sql::SelectStmt* next = s.unionNext.get(), *prev = &s; next; prev = next, next = next->unionNext.get()) {
            CompiledSelect branch = select(*next, outer);
            if (branch.columns.size() != out.columns.size())
                throw EngineError(205, "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                                       "equal number of expressions in their target lists.");
            std::string cols;
            for (std::size_t i = 0; i < branch.columns.size(); ++i) {
                Compiled c;
                c.sql = "\"x" + std::to_string(i + 1) + "\"";
                c.type = branch.columns[i].type;
                cols += (i ? ", " : "") + convert(c, out.columns[i].type, ConversionMode::Implicit) + " AS \"x" +
                        std::to_string(i + 1) + "\"";
            }
            combined += std::string(prev->unionAll ? " UNION ALL " : " UNION ") + "SELECT " + cols + " FROM (" +
                        branch.sql + ")";
        }
        text = "SELECT * FROM (" + combined + ")";
    }
    if (!s.orderBy.empty()) {
        text += " ORDER BY ";
        for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
            const sql::OrderItem& o = s.orderBy[i];
            std::string key;
            bool character = false;
            if (o.expr->kind == Expr::Kind::Literal && o.expr->literalKind == Expr::LiteralKind::Integer) {
                std::size_t n = std::stoul(o.expr->text);
                if (n < 1 || n > out.columns.size())
                    throw EngineError(108, "The ORDER BY position number " + o.expr->text +
                                               " is out of range of the number of items in the select list.");
                key = "\"x" + std::to_string(n) + "\"";
                character = isCharacter(out.columns[n - 1].type);
            } else {
                // A name of the select list first, then any expression over the FROM clause.
                int byAlias = -1;
                if (o.expr->kind == Expr::Kind::Column && o.expr->name.parts.size() == 1)
                    for (std::size_t k = 0; k < s.items.size() && k < out.columns.size(); ++k)
                        if (!s.items[k].alias.empty() && text::equalsNoCase(s.items[k].alias, o.expr->name.last()))
                            byAlias = static_cast<int>(k);
                if (byAlias >= 0 || s.unionNext) {
                    if (byAlias < 0)
                        for (std::size_t k = 0; k < out.columns.size(); ++k)
                            if (text::equalsNoCase(out.columns[k].name, o.expr->name.last())) byAlias = static_cast<int>(k);
                    if (byAlias < 0) notSupported("ORDER BY an expression of a UNION");
                    key = "\"x" + std::to_string(byAlias + 1) + "\"";
                    character = isCharacter(out.columns[static_cast<std::size_t>(byAlias)].type);
                } else {
                    Compiled c = expr(*o.expr, scope);
                    key = c.sql;
                    character = isCharacter(c.type);
                }
            }
            text += (i ? ", " : "") + key + (character ? " COLLATE VOPA_CI" : "") + (o.descending ? " DESC" : "");
        }
    }
    if (s.top) {
        if (s.topPercent) notSupported("TOP ... PERCENT");
        Compiled n = expr(*s.top, scope);
        if (!n.constant || n.constant->kind != Cell::Kind::Integer) notSupported("TOP with an expression");
        text += " LIMIT " + std::to_string(n.constant->i);
    }
    out.sql = text;
    return out;
}
}  // namespace vopa::engine::translate
