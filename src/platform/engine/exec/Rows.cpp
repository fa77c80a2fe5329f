// INSERT, UPDATE, DELETE, and the single-row operations of recordsets.

#include <algorithm>

#include "platform/engine/SessionImpl.h"
#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

[[noreturn]] void notSupported(const std::string& what) {
    throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
}

TableHandle writableTable(Session::Impl& session, const sql::QualifiedName& name) {
    return translate::writableTable(session.compileContext(), name);
}

bool identityInsertOn(const Session::Impl& session, const TableHandle& t) {
    return session.identityInsert && session.identityInsert->dbid == t.db.dbid &&
           session.identityInsert->objectId == t.table->objectId;
}

// The identity counter for rows the statement numbers itself. Its first value is read only once the
// statement holds the table's write lock (see startIdentity), so that two sessions never read the same
// current value.
int identitySlot(Session::Impl& session, const storage::ColumnInfo& id) {
    storage::FunctionContext::Identity slot;
    slot.increment = id.increment;
    slot.range = checked::rangeOf(id.type);
    session.functions.identities.push_back(slot);
    return static_cast<int>(session.functions.identities.size() - 1);
}

void startIdentity(Session::Impl& session, int slotIndex, const TableHandle& t) {
    if (slotIndex < 0) return;
    storage::FunctionContext::Identity& slot = session.functions.identities[static_cast<std::size_t>(slotIndex)];
    const std::int64_t current = session.currentIdentity(t);
    std::optional<std::int64_t> next = checked::add64(current, slot.increment);
    slot.next = next.value_or(0);
    slot.exhausted = !next;
    slot.last = current;
}

// SQL for the value a column gets when the statement does not give one: its default or NULL.
std::string omittedValue(Session::Impl& session, translate::Compiler& compiler, const storage::ColumnInfo& c,
                         const TableHandle& t) {
    translate::Scope none;
    translate::Compiled value;
    if (!c.defaultText.empty()) {
        value = compiler.expr(*sql::parseExpression(c.defaultText), none);
    } else {
        value.isNull = true;
        value.sql = "NULL";
        value.type = c.type;
    }
    (void)session;
    return compiler.store(value, c, t, false);
}

std::vector<const storage::ColumnInfo*> insertColumns(Session::Impl& session, const sql::InsertStatement& s,
                                                      const TableHandle& t) {
    const storage::ColumnInfo* identity = t.table->identityColumn();
    std::vector<const storage::ColumnInfo*> targets;
    auto identityRequired = [&] {
        return EngineError(err::IdentityValueRequired,
                           "Explicit value must be specified for identity column in table '" + t.table->name +
                               "' either when IDENTITY_INSERT is set to ON or when a replication user is "
                               "inserting into a NOT FOR REPLICATION identity column.");
    };
    if (s.source == sql::InsertStatement::Source::DefaultValues) {
        // Every column gets its default (the identity its next value, the others NULL).
        if (identity && identityInsertOn(session, t)) throw identityRequired();
        return targets;
    }
    if (s.columns.empty()) {
        if (identity && identityInsertOn(session, t))
            throw EngineError(err::IdentityNeedsColumnList, "An explicit value for the identity column in table '" +
                                                                t.displayName() +
                                                                "' can only be specified when a column list is used "
                                                                "and IDENTITY_INSERT is ON.");
        for (const storage::ColumnInfo& c : t.table->columns)
            if (!c.identity) targets.push_back(&c);
        return targets;
    }
    for (const std::string& name : s.columns) {
        const storage::ColumnInfo* c = t.table->findColumn(name);
        if (!c) throw EngineError(err::InvalidColumn, "Invalid column name '" + name + "'.");
        for (const storage::ColumnInfo* seen : targets)
            if (seen == c)
                throw EngineError(err::ColumnAssignedTwice,
                                  "The column name '" + c->name +
                                      "' is specified more than once in the SET clause or column list of an "
                                      "INSERT. A column cannot be assigned more than one value in the same clause. "
                                      "Modify the clause to make sure that a column is updated only once.");
        if (c->identity && !identityInsertOn(session, t))
            throw EngineError(err::IdentityInsertOff, "Cannot insert explicit value for identity column in table '" +
                                                          t.table->name + "' when IDENTITY_INSERT is set to OFF.");
        targets.push_back(c);
    }
    if (identity && identityInsertOn(session, t) && std::find(targets.begin(), targets.end(), identity) == targets.end())
        throw identityRequired();
    return targets;
}

// The scope of an UPDATE or DELETE: the target table alone, under a SQLite alias of its own.
translate::Scope targetScope(translate::Compiler& compiler, const TableHandle& t) {
    translate::Scope scope;
    scope.tables.push_back(compiler.bindTable(t, ""));
    return scope;
}

// A copy of every column of one table into a table of identical layout: SQLite moves it whole.
bool wholeTableCopy(const std::vector<const storage::ColumnInfo*>& targets, const TableHandle& t,
                    const translate::CompiledSelect& source) {
    if (!source.plain || !source.singleBase) return false;
    const storage::TableInfo& from = *source.singleBase->table;
    if (targets.size() != t.table->columns.size() || from.columns.size() != targets.size() ||
        source.columns.size() != targets.size() || from.objectId == t.table->objectId)
        return false;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const storage::ColumnInfo& to = t.table->columns[i];
        const storage::ColumnInfo& src = from.columns[i];
        if (targets[i] != &to || source.columns[i].baseColumnId != src.id || !(to.type == src.type) ||
            (!to.nullable && src.nullable))
            return false;
    }
    return true;
}

void bindCell(storage::Statement& st, int index, const Cell& c) {
    switch (c.kind) {
        case Cell::Kind::Null: st.bindNull(index); break;
        case Cell::Kind::Integer: st.bind(index, c.i); break;
        case Cell::Kind::Real: st.bind(index, c.r); break;
        case Cell::Kind::Text: st.bind(index, std::string_view(c.s)); break;
        case Cell::Kind::Blob: st.bindBlob(index, c.s); break;
    }
}

// Inserts rows of `width` values each through `statement`, prepared once; returns the rows inserted.
long long insertBound(storage::Connection& db, const std::string& statement, const std::vector<Cell>& values,
                      std::size_t width) {
    storage::Statement st = db.prepare(statement);
    long long rows = 0;
    for (std::size_t at = 0; at < values.size(); at += width, ++rows) {
        for (std::size_t i = 0; i < width; ++i) bindCell(st, static_cast<int>(i + 1), values[at + i]);
        st.run();
        st.reset();
    }
    return rows;
}

// The statement text of bound rows: `head` ("INSERT INTO t(columns) ") with each row's values as
// literals followed by `rest` (the values of the columns left out, and the closing parenthesis).
std::string withLiterals(const std::string& head, const std::string& rest, const std::vector<Cell>& values,
                         std::size_t width) {
    std::string text = head + "VALUES ";
    for (std::size_t at = 0; at < values.size(); at += width) {
        text += at ? ", (" : "(";
        for (std::size_t i = 0; i < width; ++i)
            text += (i ? ", " : "") + (values[at + i].isNull() ? std::string("NULL") : translate::Compiler::literal(values[at + i]));
        text += rest;
    }
    return text;
}

}  // namespace

void Session::Impl::execInsert(const sql::InsertStatement& s, StatementOutcome& out) {
    TableHandle t = writableTable(*this, s.table);
    const storage::ColumnInfo* identity = t.table->identityColumn();
    std::vector<const storage::ColumnInfo*> targets = insertColumns(*this, s, t);
    const bool explicitIdentity =
        identity && std::find(targets.begin(), targets.end(), identity) != targets.end();

    translate::Compiler compiler(compileContext());
    translate::Scope none;
    std::string columnList;
    auto appendColumn = [&](const storage::ColumnInfo& c) { columnList += (columnList.empty() ? "" : ", ") + c.storageName(); };
    for (const storage::ColumnInfo* c : targets) appendColumn(*c);
    // Columns the statement leaves out: identity numbers, defaults, NULL.
    std::vector<const storage::ColumnInfo*> omitted;
    for (const storage::ColumnInfo& c : t.table->columns)
        if (std::find(targets.begin(), targets.end(), &c) == targets.end()) omitted.push_back(&c);
    int slot = -1;
    std::vector<std::string> omittedSql;
    for (const storage::ColumnInfo* c : omitted) {
        appendColumn(*c);
        if (c->identity) {
            slot = identitySlot(*this, *c);
            omittedSql.push_back("vopa_identity(" + std::to_string(slot) + ")");
        } else {
            omittedSql.push_back(omittedValue(*this, compiler, *c, t));
        }
    }
    auto restOfRow = [&] {
        std::string r;
        for (const std::string& v : omittedSql) r += ", " + v;
        return r;
    };

    const std::string head = "INSERT INTO " + t.storageName() + "(" + columnList + ") ";
    std::string statement = head;
    std::vector<Cell> boundRows;  // the values of rows bound to `statement` (row by row), when not in its text
    switch (s.source) {
        case sql::InsertStatement::Source::Values: {
            if (s.rows.size() > 1000)
                throw EngineError(err::TooManyRowValues,
                                  "The number of row value expressions in the INSERT statement exceeds the "
                                  "maximum allowed number of 1000 row values.");
            std::vector<translate::Compiled> values;
            values.reserve(s.rows.size() * targets.size());
            bool constants = true;
            for (const auto& row : s.rows) {
                if (s.columns.empty() && row.size() != targets.size())
                    throw EngineError(err::ColumnCountMismatch,
                                      "Column name or number of supplied values does not match table definition.");
                if (row.size() < targets.size())
                    throw EngineError(err::InsertValuesTooFew,
                                      "There are more columns in the INSERT statement than values specified in "
                                      "the VALUES clause. The number of values in the VALUES clause must match "
                                      "the number of columns specified in the INSERT statement.");
                if (row.size() > targets.size())
                    throw EngineError(err::InsertValuesTooMany,
                                      "There are fewer columns in the INSERT statement than values specified in "
                                      "the VALUES clause. The number of values in the VALUES clause must match "
                                      "the number of columns specified in the INSERT statement.");
                for (std::size_t i = 0; i < row.size(); ++i) {
                    values.push_back(compiler.expr(*row[i], none));
                    constants = constants && (values.back().isNull || values.back().constant);
                }
            }
            // Rows of constants, the common case, are bound one by one to a single prepared row instead
            // of being written into a statement text SQLite would parse again.
            if (constants && !targets.empty() && s.rows.size() > 1) {
                boundRows.reserve(values.size());
                for (std::size_t k = 0; k < values.size(); ++k) {
                    std::optional<Cell> cell = compiler.storedConstant(values[k], *targets[k % targets.size()]);
                    if (!cell) {
                        boundRows.clear();
                        break;
                    }
                    boundRows.push_back(std::move(*cell));
                }
            }
            std::string rows;
            if (!boundRows.empty()) {
                for (std::size_t i = 0; i < targets.size(); ++i) rows += (i ? ", ?" : "VALUES (?") + std::to_string(i + 1);
                statement += rows + restOfRow() + ")";
                break;
            }
            for (std::size_t r = 0; r < s.rows.size(); ++r) {
                std::string row;
                for (std::size_t i = 0; i < targets.size(); ++i)
                    row += (i ? ", " : "") + compiler.store(values[r * targets.size() + i], *targets[i], t, false);
                if (targets.empty() && !omittedSql.empty()) row = restOfRow().substr(2);
                else row += restOfRow();
                rows += (rows.empty() ? "VALUES (" : ", (") + row + ")";
            }
            statement += rows;
            break;
        }
        case sql::InsertStatement::Source::DefaultValues: {
            std::string values = restOfRow();
            statement += values.empty() ? "DEFAULT VALUES" : "VALUES (" + values.substr(2) + ")";
            if (values.empty()) statement = "INSERT INTO " + t.storageName() + " DEFAULT VALUES";
            break;
        }
        case sql::InsertStatement::Source::Select: {
            translate::CompiledSelect source = compiler.select(*s.select, nullptr);
            if (source.columns.size() < targets.size())
                throw EngineError(err::InsertSelectTooFew,
                                  "The select list for the INSERT statement contains fewer items than the insert "
                                  "list. The number of SELECT values must match the number of INSERT columns.");
            if (source.columns.size() > targets.size())
                throw EngineError(err::InsertSelectTooMany,
                                  "The select list for the INSERT statement contains more items than the insert "
                                  "list. The number of SELECT values must match the number of INSERT columns.");
            if (omitted.empty() && wholeTableCopy(targets, t, source)) {
                statement = "INSERT INTO " + t.storageName() + " SELECT * FROM " + source.singleBase->storageName();
                break;
            }
            std::string items;
            bool direct = true;
            for (std::size_t i = 0; i < targets.size(); ++i) {
                translate::Compiled c;
                c.sql = "\"x" + std::to_string(i + 1) + "\"";
                c.type = source.columns[i].type;
                c.nullable = source.columns[i].nullable;
                std::string stored = compiler.store(c, *targets[i], t, false);
                direct = direct && stored == c.sql;
                items += (i ? ", " : "") + stored;
            }
            if (direct && omittedSql.empty())
                statement += "SELECT * FROM (" + source.sql + ")";
            else
                statement += "SELECT " + (items.empty() ? restOfRow().substr(2) : items + restOfRow()) + " FROM (" +
                             source.sql + ")";
            break;
        }
        case sql::InsertStatement::Source::Execute: notSupported("INSERT ... EXEC");
    }
    atomically([&] {
        startIdentity(*this, slot, t);
        try {
            if (boundRows.empty()) {
                db->exec(statement);
                out.rowsAffected = db->changes();
            } else {
                // The rows are inserted one by one: a refused row takes back those before it, so that
                // the duplicate's value is looked for among the table's rows as they were.
                db->inSavepoint("vopa_bound_rows", [&] { out.rowsAffected = insertBound(*db, statement, boundRows, targets.size()); });
            }
        } catch (const EngineError& e) {
            if (!isStorageDuplicate(e)) throw;
            // The duplicate's value is found by running the same rows again as one statement's text.
            std::string text = statement;
            if (!boundRows.empty()) text = withLiterals(head, restOfRow() + ")", boundRows, targets.size());
            throw duplicateKeyError(e.what(), &text, &t, false);
        }
        if (slot >= 0 && functions.identities[static_cast<std::size_t>(slot)].used) {
            std::int64_t last = functions.identities[static_cast<std::size_t>(slot)].last;
            storage::setIdentityCurrent(*db, t.db.alias, t.table->objectId, last);
            lastIdentity = last;
            lastIdentityTable.reset();
        }
        if (explicitIdentity && out.rowsAffected > 0) {
            storage::unsettleIdentity(*db, t.db.alias, t.table->objectId);
            lastIdentityTable = t;
        }
    });
}

void Session::Impl::execUpdate(const sql::UpdateStatement& s, StatementOutcome& out) {
    if (s.top) notSupported("UPDATE TOP");
    translate::Compiler compiler(compileContext());
    // Without FROM, the target alone. With FROM, the target is the table of the FROM clause that the
    // statement names (by alias, or by its name when it is there once); a target the FROM clause does
    // not hold is joined to its rows, as the server does.
    translate::Scope scope;
    std::string from;
    int target = -1;
    std::optional<TableHandle> named;
    if (!s.from.empty()) {
        compiler.bindFrom(s.from, scope, from);
        // The name the FROM clause exposes (an alias, or the table's own name), else the one reference
        // there to the same table under an alias.
        std::vector<std::size_t> matches;
        for (std::size_t i = 0; i < scope.tables.size(); ++i)
            if (text::equalsNoCase(scope.tables[i].alias, s.table.last())) matches.push_back(i);
        if (matches.empty()) {
            const TableHandle same = compileContext().table(s.table, true);
            for (std::size_t i = 0; i < scope.tables.size(); ++i) {
                const std::optional<TableHandle>& base = scope.tables[i].base;
                if (base && base->db.dbid == same.db.dbid && base->table->objectId == same.table->objectId)
                    matches.push_back(i);
            }
        }
        if (matches.size() > 1) throw EngineError(err::AmbiguousTable, "The table '" + s.table.last() + "' is ambiguous.");
        if (!matches.empty()) {
            target = static_cast<int>(matches[0]);
            const translate::ScopeTable& st = scope.tables[matches[0]];
            if (!st.base) notSupported("UPDATE of a derived table");
            translate::requireWritable(*st.base);
            named = st.base;
        }
    }
    TableHandle t = named ? *named : writableTable(*this, s.table);
    if (target < 0) scope.tables.insert(scope.tables.begin(), compiler.bindTable(t, ""));
    const std::string targetAlias = storage::quoteIdentifier(scope.tables[target < 0 ? 0 : static_cast<std::size_t>(target)].sqlAlias);
    std::vector<std::pair<const storage::ColumnInfo*, std::string>> assigned;
    for (const sql::Assignment& a : s.assignments) {
        const storage::ColumnInfo* c = t.table->findColumn(a.column.last());
        if (!c) throw EngineError(err::InvalidColumn, "Invalid column name '" + a.column.last() + "'.");
        if (std::any_of(assigned.begin(), assigned.end(), [&](const auto& done) { return done.first == c; }))
            throw EngineError(err::ColumnAssignedTwice,
                              "The column name '" + c->name +
                                  "' is specified more than once in the SET clause or column list of an INSERT. "
                                  "A column cannot be assigned more than one value in the same clause. Modify "
                                  "the clause to make sure that a column is updated only once.");
        if (c->identity)
            throw EngineError(err::UpdateIdentityColumn, "Cannot update identity column '" + c->name + "'.");
        if (translate::containsAggregate(*a.value))
            throw EngineError(err::AggregateInUpdateSet,
                              "An aggregate may not appear in the set list of an UPDATE statement.");
        assigned.emplace_back(c, compiler.store(compiler.expr(*a.value, scope), *c, t, true));
    }
    std::string where;
    if (s.where) {
        if (translate::containsAggregate(*s.where)) throw translate::aggregateInWhere();
        where = " WHERE " + compiler.expr(*s.where, scope).sql;
    }
    std::string sets;
    std::string statement;
    if (target < 0) {
        // The target with the FROM clause's tables beside it: SQLite's own UPDATE ... FROM.
        for (const auto& [c, value] : assigned) sets += (sets.empty() ? "" : ", ") + c->storageName() + " = " + value;
        statement = "UPDATE " + t.storageName() + " AS " + targetAlias + " SET " + sets + from + where;
    } else {
        // The target inside the FROM clause: the joined rows are computed first, with the target's rowid
        // and the new values, and each target row takes the values of one of its joined rows. (SQLite's
        // own UPDATE ... FROM does not show the rowids of its FROM clause.)
        std::string values;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            const std::string name = "\"x" + std::to_string(i + 1) + "\"";
            values += ", " + assigned[i].second + " AS " + name;
            sets += (i ? ", " : "") + assigned[i].first->storageName() + " = \"__joined\"." + name;
        }
        const std::string updated = storage::quoteIdentifier(compiler.freshAlias());
        statement = "UPDATE " + t.storageName() + " AS " + updated + " SET " + sets + " FROM (SELECT " + targetAlias +
                    ".rowid AS \"__row\"" + values + from + where + ") AS \"__joined\" WHERE " + updated +
                    ".rowid = \"__joined\".\"__row\"";
    }
    runChanging(statement, out, &t);
}

void Session::Impl::execDelete(const sql::DeleteStatement& s, StatementOutcome& out) {
    if (!s.from.empty()) notSupported("DELETE ... FROM with a second FROM clause");
    if (s.top) notSupported("DELETE TOP");
    TableHandle t = writableTable(*this, s.table);
    translate::Compiler compiler(compileContext());
    const translate::Scope scope = targetScope(compiler, t);
    std::string statement = "DELETE FROM " + t.storageName() + " AS " + storage::quoteIdentifier(scope.tables[0].sqlAlias);
    if (s.where) {
        if (translate::containsAggregate(*s.where)) throw translate::aggregateInWhere();
        statement += " WHERE " + compiler.expr(*s.where, scope).sql;
    }
    runChanging(statement, out);
}

void Session::Impl::runChanging(const std::string& sqliteStatement, StatementOutcome& out, const TableHandle* updated) {
    atomically([&] {
        try {
            db->exec(sqliteStatement);
        } catch (const EngineError& e) {
            if (updated && isStorageDuplicate(e)) throw duplicateKeyError(e.what(), &sqliteStatement, updated, true);
            throw;
        }
        out.rowsAffected = db->changes();
    });
}

// ---- single rows -------------------------------------------------------------------------------------

namespace {

TableHandle rowTable(Session::Impl& session, const std::string& database, const std::string& table) {
    sql::QualifiedName name;
    name.parts = {database, "dbo", table};
    return writableTable(session, name);
}

Cell checkedCell(const Value& v, const storage::ColumnInfo& c, const TableHandle& t, bool update) {
    Cell cell = valueToCell(v, c.type);
    if (cell.isNull() && !c.nullable)
        throw EngineError(err::NotNullViolation,
                          "Cannot insert the value NULL into column '" + c.name + "', table '" + t.displayName() +
                              "'; column does not allow nulls. " + (update ? "UPDATE" : "INSERT") + " fails.",
                          16, 2);
    return cell;
}

}  // namespace

std::int64_t Session::insertRow(const std::string& database, const std::string& table,
                                const std::vector<std::pair<std::string, Value>>& values) {
    Impl& s = *impl_;
    s.functions.clear();
    s.unpinAll();
    TableHandle t = rowTable(s, database, table);
    translate::Compiler compiler(s.compileContext());
    std::string columns, params;
    std::vector<std::pair<const storage::ColumnInfo*, Cell>> given;
    for (const auto& [name, value] : values) {
        const storage::ColumnInfo* c = t.table->findColumn(name);
        if (!c) throw EngineError(err::InvalidColumn, "Invalid column name '" + name + "'.");
        if (c->identity && !identityInsertOn(s, t))
            throw EngineError(err::IdentityInsertOff, "Cannot insert explicit value for identity column in table '" +
                                                          t.table->name + "' when IDENTITY_INSERT is set to OFF.");
        given.emplace_back(c, checkedCell(value, *c, t, false));
        columns += (columns.empty() ? "" : ", ") + c->storageName();
        params += (params.empty() ? "?" : ", ?") + std::to_string(given.size());
    }
    int slot = -1;
    for (const storage::ColumnInfo& c : t.table->columns) {
        bool isGiven = false;
        for (const auto& g : given) isGiven = isGiven || g.first == &c;
        if (isGiven) continue;
        columns += (columns.empty() ? "" : ", ") + c.storageName();
        std::string v;
        if (c.identity) {
            slot = identitySlot(s, c);
            v = "vopa_identity(" + std::to_string(slot) + ")";
        } else {
            v = omittedValue(s, compiler, c, t);
        }
        params += (params.empty() ? "" : ", ") + v;
    }
    std::int64_t rowId = 0;
    s.atomicallyNamingKeys([&] {
        startIdentity(s, slot, t);
        storage::Statement st = s.db->prepare("INSERT INTO " + t.storageName() + "(" + columns + ") VALUES (" + params + ")");
        for (std::size_t i = 0; i < given.size(); ++i) bindCell(st, static_cast<int>(i + 1), given[i].second);
        st.run();
        rowId = s.db->lastInsertRowId();
        if (slot >= 0) {
            std::int64_t last = s.functions.identities[static_cast<std::size_t>(slot)].last;
            storage::setIdentityCurrent(*s.db, t.db.alias, t.table->objectId, last);
            s.lastIdentity = last;
            s.lastIdentityTable.reset();
        }
    });
    return rowId;
}

void Session::updateRow(const std::string& database, const std::string& table, std::int64_t rowId,
                        const std::vector<std::pair<std::string, Value>>& values) {
    Impl& s = *impl_;
    s.functions.clear();
    s.unpinAll();
    TableHandle t = rowTable(s, database, table);
    if (values.empty()) return;
    std::string sets;
    std::vector<Cell> cells;
    for (const auto& [name, value] : values) {
        const storage::ColumnInfo* c = t.table->findColumn(name);
        if (!c) throw EngineError(err::InvalidColumn, "Invalid column name '" + name + "'.");
        if (c->identity)
            throw EngineError(err::UpdateIdentityColumn, "Cannot update identity column '" + c->name + "'.");
        cells.push_back(checkedCell(value, *c, t, true));
        sets += (sets.empty() ? "" : ", ") + c->storageName() + " = ?" + std::to_string(cells.size());
    }
    s.atomicallyNamingKeys([&] {
        storage::Statement st = s.db->prepare("UPDATE " + t.storageName() + " SET " + sets + " WHERE rowid = ?" +
                                              std::to_string(cells.size() + 1));
        for (std::size_t i = 0; i < cells.size(); ++i) bindCell(st, static_cast<int>(i + 1), cells[i]);
        st.bind(static_cast<int>(cells.size() + 1), rowId);
        st.run();
        if (s.db->changes() == 0)
            throw EngineError(err::RowChangedOutside,
                              "Optimistic concurrency check failed. The row was modified outside of this cursor.");
    });
}

void Session::deleteRow(const std::string& database, const std::string& table, std::int64_t rowId) {
    Impl& s = *impl_;
    s.unpinAll();
    TableHandle t = rowTable(s, database, table);
    s.atomically([&] {
        storage::Statement st = s.db->prepare("DELETE FROM " + t.storageName() + " WHERE rowid = ?1");
        st.bind(1, rowId).run();
    });
}

std::vector<Value> Session::readRow(const std::string& database, const std::string& table, std::int64_t rowId,
                                    const std::vector<ResultColumn>& like) {
    Impl& s = *impl_;
    s.unpinAll();
    TableHandle t = rowTable(s, database, table);
    std::string items;
    for (const ResultColumn& rc : like) {
        const storage::ColumnInfo* c = rc.baseColumnId ? t.table->columnById(rc.baseColumnId) : nullptr;
        items += (items.empty() ? "" : ", ") + (c ? c->storageName() : std::string("NULL"));
    }
    ResultSet rs = s.collect("SELECT " + items + " FROM " + t.storageName() + " WHERE rowid = " + std::to_string(rowId),
                             like, false);
    if (rs.rows.empty()) return {};
    return rs.rows.front();
}

}  // namespace vopa::engine
