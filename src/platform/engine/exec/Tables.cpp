// CREATE TABLE, ALTER TABLE, DROP TABLE and TRUNCATE TABLE.

#include "platform/engine/SessionImpl.h"
#include "platform/engine/exec/Keys.h"
#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

[[noreturn]] void notSupported(const std::string& what) {
    throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
}

constexpr std::size_t kMaxColumns = 1024;  // columns of one table, as on the server

bool identityType(const SqlType& t) {
    return (t.isInteger() && t.base != BaseType::Bit) ||
           ((t.base == BaseType::Decimal || t.base == BaseType::Numeric) && t.scale == 0);
}

// A column definition checked against the server's rules and turned into the catalog's record.
storage::ColumnInfo defineColumn(Session::Impl& session, const sql::ColumnDef& def, int id, int position,
                                 const std::string& tableName) {
    storage::ColumnInfo c;
    c.id = id;
    c.name = def.name;
    try {
        c.type = SqlType::fromName(def.type.name, def.type.length, def.type.precision, def.type.scale);
    } catch (const EngineError& e) {
        if (e.number() != err::UnknownType) throw;
        throw EngineError(err::UnknownType, "Column, parameter, or variable #" + std::to_string(position) +
                                                ": Cannot find data type " + def.type.name + ".");
    }
    c.identity = def.identity;
    c.seed = def.identitySeed;
    c.increment = def.identityIncrement;
    c.collation = def.collation;
    if (def.identity) {
        if (!identityType(c.type))
            throw EngineError(
                err::InvalidIdentityType,
                "Identity column '" + def.name +
                    "' must be of data type int, bigint, smallint, "
                    "tinyint, or decimal or numeric with a scale of 0, and constrained to be nonnullable.");
        if (def.nullable && *def.nullable)
            throw EngineError(err::IdentityOnNullable, "Could not create IDENTITY attribute on nullable column '" +
                                                           def.name + "', table '" + tableName + "'.");
        if (def.defaultValue)
            throw EngineError(err::DefaultOnIdentity,
                              "Defaults cannot be created on columns with an IDENTITY attribute. Table '" + tableName +
                                  "', column '" + def.name + "'.");
    }
    c.nullable = def.identity ? false : def.nullable.value_or(true);
    if (def.defaultValue) {
        // The default must be a constant expression; compiling it checks that it is one.
        translate::Compiler compiler(session.compileContext());
        translate::Scope scope;
        translate::Compiled value;
        try {
            value = compiler.expr(*def.defaultValue, scope);
        } catch (const EngineError& e) {
            if (e.number() != err::InvalidColumn && e.number() != err::UnboundIdentifier) throw;
            throw EngineError(err::NameNotPermitted,
                              "The name \"" + def.name +
                                  "\" is not permitted in this context. Valid expressions are constants, constant "
                                  "expressions, and (in some contexts) variables. Column names are not permitted.");
        }
        c.defaultText = storage::normaliseDefault(def.defaultText);
        c.defaultName = def.defaultName;
    }
    return c;
}

// A key declared by CREATE TABLE or ALTER TABLE ADD CONSTRAINT; when it cannot be made, the server
// follows the error with 1750.
void addDeclaredConstraint(Session::Impl& session, const TableHandle& t, const sql::TableConstraint& k) {
    try {
        exec::addConstraint(session, t, k);
    } catch (const EngineError& e) {
        switch (e.number()) {
            case err::PrimaryKeyOnNullable:
            case err::DuplicateKeyOnCreateIndex:
            case err::ObjectExists:
            case err::PrimaryKeyExists:
            case err::IndexColumnMissing:
            case err::InvalidKeyColumnType:
            case err::SecondClusteredIndex:
                session.constraintRefused = true;
                break;
            default: break;
        }
        throw;
    }
}

}  // namespace

void Session::Impl::execCreateTable(const sql::CreateTableStatement& s, StatementOutcome&) {
    const std::pair<std::string, std::string> names = splitName(s.table);
    const std::string& databaseName = names.first;
    const std::string& tableName = names.second;
    DatabaseHandle target = database(databaseName);
    if (target.catalog->find(tableName))
        throw EngineError(err::ObjectExists, "There is already an object named '" + tableName + "' in the database.", 16,
                          6);
    if (tableName.size() > 0 && tableName[0] == '#') notSupported("temporary tables");
    storage::TableInfo info;
    info.name = tableName;
    // A primary key declared in CREATE TABLE makes its columns NOT NULL unless they say NULL
    // themselves; an explicit NULL is refused (8111) as in ALTER TABLE.
    auto inPrimaryKey = [&](const sql::ColumnDef& def) {
        for (const sql::TableConstraint& k : def.constraints)
            if (k.kind == sql::TableConstraint::Kind::PrimaryKey) return true;
        for (const sql::TableConstraint& k : s.constraints)
            if (k.kind == sql::TableConstraint::Kind::PrimaryKey)
                for (const sql::IndexColumn& ic : k.columns)
                    if (text::equalsNoCase(ic.name, def.name)) return true;
        return false;
    };
    // Constraints alone make no table: the server wants at least one column definition.
    if (s.columns.empty()) throw EngineError(err::SyntaxNear, "Incorrect syntax near ')'.");
    if (s.columns.size() > kMaxColumns)
        throw EngineError(err::TooManyColumns, "CREATE TABLE failed because column '" + s.columns[kMaxColumns].name +
                                                   "' in table '" + tableName +
                                                   "' exceeds the maximum of 1024 columns.");
    int position = 0;
    for (const sql::ColumnDef& def : s.columns) {
        ++position;
        for (const storage::ColumnInfo& existing : info.columns)
            if (text::equalsNoCase(existing.name, def.name))
                throw EngineError(err::DuplicateColumn, "Column names in each table must be unique. Column name '" +
                                                            def.name + "' in table '" + tableName +
                                                            "' is specified more than once.");
        storage::ColumnInfo c = defineColumn(*this, def, position, position, tableName);
        if (!def.nullable && inPrimaryKey(def)) c.nullable = false;
        if (c.identity && info.identityColumn())
            throw EngineError(err::MultipleIdentity, "Multiple identity columns specified for table '" + tableName +
                                                         "'. Only one identity column per table is allowed.");
        info.columns.push_back(std::move(c));
    }
    atomically([&] {
        info.objectId = storage::nextObjectId(*db, target.alias);
        storage::createTable(*db, target.alias, info);
        catalogChanged(target);
        TableHandle t{database(databaseName), nullptr};
        t.table = t.db.catalog->find(tableName);
        // Keys declared with the columns or after them.
        for (const sql::ColumnDef& def : s.columns)
            for (const sql::TableConstraint& k : def.constraints) {
                sql::TableConstraint withColumn;
                withColumn.kind = k.kind;
                withColumn.name = k.name;
                withColumn.clustered = k.clustered;
                withColumn.columns = {sql::IndexColumn{def.name, false}};
                withColumn.indexOptions = k.indexOptions;
                addDeclaredConstraint(*this, t, withColumn);
                catalogChanged(t.db);
                t = TableHandle{database(databaseName), nullptr};
                t.table = t.db.catalog->find(tableName);
            }
        for (const sql::TableConstraint& k : s.constraints) {
            addDeclaredConstraint(*this, t, k);
            catalogChanged(t.db);
            t = TableHandle{database(databaseName), nullptr};
            t.table = t.db.catalog->find(tableName);
        }
    });
    catalogChanged(target);
}

void Session::Impl::execAlterTable(const sql::AlterTableStatement& s, StatementOutcome&) {
    TableHandle t = table(s.table);
    if (t.table->type != storage::TableInfo::Type::Table)
        throw EngineError(err::AlterNotATable,
                          "Cannot alter the table '" + t.table->name + "' because it is not a table.");
    using Action = sql::AlterTableStatement::Action;
    switch (s.action) {
        case Action::AddColumns: {
            atomically([&] {
                TableHandle current = t;
                int nextId = current.table->nextColumnId();
                for (const sql::ColumnDef& def : s.columns) {
                    if (current.table->columns.size() >= kMaxColumns)
                        throw EngineError(err::TooManyColumns, "ALTER TABLE failed because column '" + def.name +
                                                                   "' in table '" + current.table->name +
                                                                   "' exceeds the maximum of 1024 columns.");
                    if (current.table->findColumn(def.name))
                        throw EngineError(err::DuplicateColumn,
                                          "Column names in each table must be unique. Column name '" + def.name +
                                              "' in table '" + current.table->name + "' is specified more than once.");
                    storage::ColumnInfo c = defineColumn(*this, def, nextId++, static_cast<int>(current.table->columns.size()) + 1,
                                                         current.table->name);
                    if (c.identity && current.table->identityColumn())
                        throw EngineError(err::MultipleIdentity,
                                          "Multiple identity columns specified for table '" + current.table->name +
                                              "'. Only one identity column per table is allowed.");
                    bool hasRows = false;
                    {
                        storage::Statement q = db->prepare("SELECT 1 FROM " + current.storageName() + " LIMIT 1");
                        hasRows = q.step();
                    }
                    if (!c.nullable && !c.identity && c.defaultText.empty() && hasRows)
                        throw EngineError(err::NonEmptyNotNullColumn,
                                          "ALTER TABLE only allows columns to be added that can contain nulls, or have a "
                                          "DEFAULT definition specified, or the column being added is an identity or "
                                          "timestamp column, or alternatively if none of the previous conditions are "
                                          "satisfied the table must be empty to allow addition of this column. Column '" +
                                              c.name + "' cannot be added to non-empty table '" + current.table->name +
                                              "' because it does not satisfy these conditions.");
                    storage::addColumn(*db, current.db.alias, *current.table, c);
                    if (hasRows && c.identity) {
                        // Existing rows are numbered in their storage order.
                        db->exec("UPDATE " + current.storageName() + " SET " + c.storageName() + " = " +
                                 std::to_string(c.seed) + " + (SELECT count(*) FROM " + current.storageName() +
                                 " AS older WHERE older.rowid < " + current.storageName() + ".rowid) * " +
                                 std::to_string(c.increment));
                        storage::Statement q = db->prepare("SELECT count(*) FROM " + current.storageName());
                        q.step();
                        storage::setIdentityCurrent(*db, current.db.alias, current.table->objectId,
                                                    c.seed + (q.columnInt(0) - 1) * c.increment);
                    } else if (hasRows && !c.nullable && !c.defaultText.empty()) {
                        // A NOT NULL column with a default gets the default in every existing row.
                        translate::Compiler compiler(compileContext());
                        translate::Scope scope;
                        translate::Compiled value = compiler.expr(*sql::parseExpression(c.defaultText), scope);
                        db->exec("UPDATE " + current.storageName() + " SET " + c.storageName() + " = " +
                                 compiler.store(value, c, current, true));
                    }
                    catalogChanged(current.db);
                    current = table(s.table);
                }
            });
            return;
        }
        case Action::AddConstraints:
            atomically([&] {
                for (const sql::TableConstraint& k : s.constraints) {
                    addDeclaredConstraint(*this, table(s.table), k);
                    catalogChanged(t.db);
                }
            });
            return;
        case Action::DropConstraints:
            atomically([&] {
                for (const std::string& name : s.names) {
                    TableHandle current = table(s.table);
                    exec::dropConstraint(*this, current, name);
                    catalogChanged(current.db);
                }
            });
            return;
        case Action::DropColumns:
            atomically([&] {
                for (const std::string& name : s.names) {
                    TableHandle current = table(s.table);
                    const storage::ColumnInfo* c = current.table->findColumn(name);
                    if (!c)
                        throw EngineError(err::DropColumnMissing, "ALTER TABLE DROP COLUMN failed because column '" +
                                                                      name + "' does not exist in table '" +
                                                                      current.table->name + "'.");
                    // Like the server, a column that a default or an index depends on stays.
                    std::string dependent;
                    if (!c->defaultText.empty())
                        dependent = c->defaultName.empty() ? "DF__" + current.table->name + "__" + c->name : c->defaultName;
                    for (const storage::IndexInfo& i : current.table->indexes)
                        for (int id : i.columnIds)
                            if (id == c->id && dependent.empty()) dependent = i.name;
                    if (!dependent.empty())
                        throw EngineError(err::ColumnHasDependents,
                                          "The object '" + dependent + "' is dependent on column '" + c->name +
                                              "'. ALTER TABLE DROP COLUMN " + c->name +
                                              " failed because one or more objects access this column.");
                    if (current.table->columns.size() == 1)
                        throw EngineError(err::DropOnlyColumn, "ALTER TABLE DROP COLUMN failed because '" + c->name +
                                                                   "' is the only data column in table '" +
                                                                   current.table->name +
                                                                   "'. A table must have at least one data column.");
                    storage::dropColumn(*db, current.db.alias, *current.table, *c);
                    catalogChanged(current.db);
                }
            });
            return;
        case Action::AlterColumn: notSupported("ALTER TABLE ... ALTER COLUMN");
    }
}

void Session::Impl::execDropTable(const sql::DropTableStatement& s, StatementOutcome&) {
    for (const sql::QualifiedName& name : s.tables) {
        TableHandle t = table(name, false);
        if (!t.table) {
            if (s.ifExists) continue;
            throw EngineError(err::CannotDropMissing,
                              "Cannot drop the table '" + name.text() +
                                  "', because it does not exist or you do not have permission.");
        }
        if (t.table->type == storage::TableInfo::Type::View)
            throw EngineError(err::DropTableOfView, "Cannot use DROP TABLE with '" + name.text() + "' because '" +
                                                        name.text() + "' is a view. Use DROP VIEW.");
        if (t.table->type == storage::TableInfo::Type::System)
            throw EngineError(err::CannotDropMissing,
                              "Cannot drop the table '" + name.text() +
                                  "', because it does not exist or you do not have permission.");
        atomically([&] { storage::dropObject(*db, t.db.alias, *t.table); });
        if (identityInsert && identityInsert->dbid == t.db.dbid && identityInsert->objectId == t.table->objectId)
            identityInsert.reset();
        catalogChanged(t.db);
    }
}

void Session::Impl::execTruncate(const sql::TruncateStatement& s, StatementOutcome&) {
    TableHandle t = table(s.table);
    if (t.table->type != storage::TableInfo::Type::Table)
        throw EngineError(err::TruncateNotATable,
                          "Could not truncate object '" + t.table->name + "' because it is not a table.");
    atomically([&] {
        db->exec("DELETE FROM " + t.storageName());
        if (t.table->identityColumn()) storage::resetIdentity(*db, t.db.alias, t.table->objectId);
    });
}

}  // namespace vopa::engine
