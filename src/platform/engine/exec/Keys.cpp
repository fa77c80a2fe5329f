#include "Keys.h"

#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine::exec {
namespace {

// Any key or index of the database that already carries `name` as a constraint (object) name.
bool constraintNameTaken(const DatabaseHandle& db, const std::string& name) {
    for (const storage::TableInfo& t : db.catalog->tables()) {
        if (text::equalsNoCase(t.name, name)) return true;
        for (const storage::IndexInfo& i : t.indexes)
            if ((i.primaryKey || i.uniqueConstraint) && text::equalsNoCase(i.name, name)) return true;
        for (const storage::ColumnInfo& c : t.columns)
            if (!c.defaultName.empty() && text::equalsNoCase(c.defaultName, name)) return true;
    }
    return false;
}

// A key value two rows share; with `onlyWithNull`, only among rows whose key has a NULL (SQLite's unique
// index lets those repeat, the server counts NULLs as equal). Empty when there is none.
std::string duplicateValue(Session::Impl& session, const TableHandle& t, const std::vector<int>& columnIds,
                           bool onlyWithNull = false) {
    std::string cols, nulls;
    for (int id : columnIds) {
        const std::string c = "c" + std::to_string(id);
        cols += (cols.empty() ? "" : ", ") + c;
        const storage::ColumnInfo* info = t.table->columnById(id);
        if (!info || info->nullable) nulls += (nulls.empty() ? "" : " OR ") + c + " IS NULL";
    }
    if (onlyWithNull && nulls.empty()) return {};
    storage::Statement q = session.db->prepare("SELECT " + cols + " FROM " + t.storageName() +
                                               (onlyWithNull ? " WHERE " + nulls : std::string()) + " GROUP BY " + cols +
                                               " HAVING count(*) > 1 LIMIT 1");
    if (!q.step()) return {};
    return keyValueText(q, *t.table, columnIds);
}

}  // namespace

std::string keyValueText(storage::Statement& q, const storage::TableInfo& table, const std::vector<int>& columnIds) {
    std::string value;
    for (std::size_t i = 0; i < columnIds.size(); ++i) {
        const storage::ColumnInfo* c = table.columnById(columnIds[i]);
        Cell cell;
        switch (q.columnType(static_cast<int>(i))) {
            case 1: cell = Cell::integer(q.columnInt(static_cast<int>(i))); break;
            case 2: cell = Cell::real(q.columnDouble(static_cast<int>(i))); break;
            case 5: break;
            default: cell = Cell::text(q.columnText(static_cast<int>(i))); break;
        }
        value += (i ? ", " : "") + (cell.isNull() ? std::string("<NULL>") : cellToValue(cell, c->type).toString());
    }
    return value.empty() ? std::string("<NULL>") : value;
}

void createIndex(Session::Impl& session, const TableHandle& t, const IndexRequest& request) {
    storage::IndexInfo index;
    index.id = t.table->nextIndexId();
    index.name = request.name;
    index.unique = request.unique || request.primaryKey;
    index.primaryKey = request.primaryKey;
    index.uniqueConstraint = request.uniqueConstraint;
    index.clustered = request.clustered;
    index.fillFactor = request.fillFactor;
    if (request.clustered)
        for (const storage::IndexInfo& i : t.table->indexes)
            if (i.clustered)
                throw EngineError(err::SecondClusteredIndex,
                                  "Cannot create more than one clustered index on table '" + t.table->name +
                                      "'. Drop the existing clustered index '" + i.name + "' before creating another.");
    for (const sql::IndexColumn& ic : request.columns) {
        const storage::ColumnInfo* c = t.table->findColumn(ic.name);
        if (!c)
            throw EngineError(err::IndexColumnMissing,
                              "Column name '" + ic.name + "' does not exist in the target table or view.");
        if (c->type.isLob())
            throw EngineError(err::InvalidKeyColumnType,
                              "Column '" + c->name + "' in table '" + t.table->name +
                                  "' is of a type that is invalid for use as a key column in an index.");
        index.columnIds.push_back(c->id);
        index.descending.push_back(ic.descending);
    }
    if (!index.unique) {
        storage::addIndex(*session.db, t.db.alias, *t.table, index);
        return;
    }
    const auto refuse = [&](const std::string& dup) {
        return EngineError(err::DuplicateKeyOnCreateIndex,
                           "The CREATE UNIQUE INDEX statement terminated because a duplicate key was found for "
                           "the object name 'dbo." +
                               t.table->name + "' and the index name '" + request.name +
                               "'. The duplicate key value is (" + dup + ").");
    };
    // The index is built first and the duplicate looked for only when it is refused: on a large table
    // a search beforehand would cost as much as the index itself.
    try {
        storage::addIndex(*session.db, t.db.alias, *t.table, index);
    } catch (const EngineError& e) {
        if (!Session::Impl::isStorageDuplicate(e)) throw;
        const std::string dup = duplicateValue(session, t, index.columnIds);
        throw refuse(dup.empty() ? std::string("<NULL>") : dup);
    }
    if (const std::string dup = duplicateValue(session, t, index.columnIds, true); !dup.empty()) throw refuse(dup);
}

void addConstraint(Session::Impl& session, const TableHandle& t, const sql::TableConstraint& k) {
    using Kind = sql::TableConstraint::Kind;
    switch (k.kind) {
        case Kind::PrimaryKey:
        case Kind::Unique: {
            const bool primary = k.kind == Kind::PrimaryKey;
            std::string name = k.name;
            if (name.empty()) name = std::string(primary ? "PK__" : "UQ__") + t.table->name;
            if (primary)
                for (const storage::IndexInfo& i : t.table->indexes)
                    if (i.primaryKey)
                        throw EngineError(err::PrimaryKeyExists,
                                          "Table '" + t.table->name + "' already has a primary key defined on it.");
            if (constraintNameTaken(t.db, name))
                throw EngineError(err::ObjectExists, "There is already an object named '" + name + "' in the database.");
            if (primary)
                for (const sql::IndexColumn& ic : k.columns) {
                    const storage::ColumnInfo* c = t.table->findColumn(ic.name);
                    if (c && c->nullable)
                        throw EngineError(err::PrimaryKeyOnNullable,
                                          "Cannot define PRIMARY KEY constraint on nullable column '" + c->name +
                                              "' in table '" + t.table->name + "'.");
                }
            IndexRequest r;
            r.name = name;
            r.unique = true;
            r.primaryKey = primary;
            r.uniqueConstraint = !primary;
            r.clustered = k.clustered.value_or(primary);
            r.fillFactor = k.indexOptions.fillFactor.value_or(0);
            r.columns = k.columns;
            createIndex(session, t, r);
            return;
        }
        case Kind::Default: {
            if (k.columns.empty() || !k.expression)
                throw EngineError(err::SyntaxNear, "Incorrect syntax near 'DEFAULT'.");
            const storage::ColumnInfo* c = t.table->findColumn(k.columns[0].name);
            if (!c)
                throw EngineError(err::IndexColumnMissing, "Column name '" + k.columns[0].name +
                                                               "' does not exist in the target table or view.");
            if (!c->defaultText.empty())
                throw EngineError(err::DefaultExists, "Column already has a DEFAULT bound to it.");
            if (!k.name.empty() && constraintNameTaken(t.db, k.name))
                throw EngineError(err::ObjectExists, "There is already an object named '" + k.name + "' in the database.");
            translate::Compiler compiler(session.compileContext());
            translate::Scope scope;
            compiler.expr(*k.expression, scope);
            storage::Statement put = session.db->prepare(
                "UPDATE " + storage::quoteIdentifier(t.db.alias) +
                ".__vopa_columns SET default_text = ?1, default_name = ?2 WHERE object_id = ?3 AND column_id = ?4");
            // The expression's own text is not kept by the parser here; rebuild it from the constant.
            translate::Compiled value = compiler.expr(*k.expression, scope);
            std::string textValue = value.constant ? translate::Compiler::literal(*value.constant) : value.sql;
            put.bind(1, storage::normaliseDefault(textValue)).bind(2, k.name).bind(3, t.table->objectId)
                .bind(4, static_cast<std::int64_t>(c->id)).run();
            storage::touchObject(*session.db, t.db.alias, t.table->objectId);
            return;
        }
        case Kind::ForeignKey:
            throw EngineError(err::NotSupported, "The embedded engine does not support FOREIGN KEY constraints.");
        case Kind::Check:
            throw EngineError(err::NotSupported, "The embedded engine does not support CHECK constraints.");
    }
}

void dropConstraint(Session::Impl& session, const TableHandle& t, const std::string& name) {
    if (const storage::IndexInfo* i = t.table->findIndex(name); i && (i->primaryKey || i->uniqueConstraint)) {
        storage::dropIndex(*session.db, t.db.alias, *t.table, *i);
        return;
    }
    for (const storage::ColumnInfo& c : t.table->columns)
        if (!c.defaultName.empty() && text::equalsNoCase(c.defaultName, name)) {
            storage::Statement put = session.db->prepare(
                "UPDATE " + storage::quoteIdentifier(t.db.alias) +
                ".__vopa_columns SET default_text = '', default_name = '' WHERE object_id = ?1 AND column_id = ?2");
            put.bind(1, t.table->objectId).bind(2, static_cast<std::int64_t>(c.id)).run();
            storage::touchObject(*session.db, t.db.alias, t.table->objectId);
            return;
        }
    throw EngineError(err::NotAConstraint, "'" + name + "' is not a constraint.");
}

}  // namespace vopa::engine::exec
