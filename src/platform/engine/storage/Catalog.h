#pragma once
// What a database holds, as the engine keeps it inside the database file: its tables and views with
// their columns (SQL Server type, nullability, identity, default) and indexes. Each table's rows live in
// the SQLite table "t<object_id>" whose columns are "c<column_id>", so that any name the server accepts
// (accents, blanks, quotes, "rowid") is safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/engine/SqlType.h"

namespace vopa::engine::storage {

class Connection;

struct ColumnInfo {
    int id = 0;  // column_id, 1-based, never reused
    std::string name;
    SqlType type;
    bool nullable = true;
    bool identity = false;
    std::int64_t seed = 1;
    std::int64_t increment = 1;
    std::string defaultText;  // as the server shows it, e.g. "((0))"; empty: no default
    std::string defaultName;
    std::string collation;

    std::string storageName() const { return "c" + std::to_string(id); }
};

struct IndexInfo {
    int id = 0;
    std::string name;
    bool unique = false;
    bool primaryKey = false;
    bool uniqueConstraint = false;  // a UNIQUE constraint (stored as is_unique = 2), not a plain unique index
    bool clustered = false;
    int fillFactor = 0;
    std::vector<int> columnIds;
    std::vector<bool> descending;

    std::string storageName(std::int64_t objectId) const {
        return "i" + std::to_string(objectId) + "_" + std::to_string(id);
    }
};

struct TableInfo {
    enum class Type { Table, View, System };
    std::int64_t objectId = 0;
    std::string name;
    Type type = Type::Table;
    std::vector<ColumnInfo> columns;
    std::vector<IndexInfo> indexes;
    std::string viewText;  // a view's SELECT

    std::string storageName() const { return "t" + std::to_string(objectId); }
    const ColumnInfo* findColumn(std::string_view name) const;
    const ColumnInfo* columnById(int id) const;
    const ColumnInfo* identityColumn() const;
    const IndexInfo* findIndex(std::string_view name) const;
    int nextColumnId() const;
    int nextIndexId() const;
};

// The catalog of one database as read at one moment.
class DatabaseCatalog {
public:
    std::string databaseName;
    std::int64_t schemaVersion = -1;

    const TableInfo* find(std::string_view name) const;
    const TableInfo* findById(std::int64_t objectId) const;
    const std::vector<TableInfo>& tables() const { return tables_; }

    // Reads the catalog of the database attached as `schema` ("main" or an attached name). With a
    // previous catalog of the same database, only the objects changed since are read again.
    static std::shared_ptr<const DatabaseCatalog> load(Connection& db, const std::string& schema,
                                                       const DatabaseCatalog* previous = nullptr);
    // A catalog held in memory only (a database no file holds, for compiling without storage).
    static std::shared_ptr<const DatabaseCatalog> of(const std::string& databaseName, std::vector<TableInfo> tables);

private:
    std::vector<TableInfo> tables_;
    std::vector<std::int64_t> versions_;  // per table: the object's version when read
    std::unordered_map<std::string, std::size_t> byName_;  // upper-cased name -> index
};

// ---- Writing the catalog (always inside the caller's transaction) -----------------------------------

// Lays out the catalog tables in a new, empty database file.
void initialiseDatabase(Connection& db, const std::string& schema, const std::string& databaseName);

// SQLite indexes over text keep the collation's order in the file. A file whose indexes were written
// under an earlier order of the collation has them rebuilt: `markCollationOrder` inside the caller's
// write transaction (new files and master), `upgradeCollationOrder` on a file about to be attached
// (once per file and process, with a connection of its own).
void markCollationOrder(Connection& db, const std::string& schema);
void upgradeCollationOrder(const std::string& file);

std::int64_t nextObjectId(Connection& db, const std::string& schema);
// Records the table and creates its row table (the SQLite table with one column per column).
void createTable(Connection& db, const std::string& schema, const TableInfo& table);
// Records the view.
void createView(Connection& db, const std::string& schema, const TableInfo& view);
// Removes the object and its rows.
void dropObject(Connection& db, const std::string& schema, const TableInfo& table);
// Adds a column to the record and to the row table (empty: NULL in every row).
void addColumn(Connection& db, const std::string& schema, const TableInfo& table, const ColumnInfo& column);
// Removes a column from the record and from the row table.
void dropColumn(Connection& db, const std::string& schema, const TableInfo& table, const ColumnInfo& column);
void addIndex(Connection& db, const std::string& schema, const TableInfo& table, const IndexInfo& index);
void dropIndex(Connection& db, const std::string& schema, const TableInfo& table, const IndexInfo& index);

// Marks the object changed, so that catalogs read before read it again.
void touchObject(Connection& db, const std::string& schema, std::int64_t objectId);

// The identity value last given out for the table (the seed minus the increment before the first
// row), and whether rows with explicit identity values were written since it was settled: then the
// largest value in the column may be past it (see Session's currentIdentity).
struct IdentityState {
    std::optional<std::int64_t> current;
    bool unsettled = false;
};
IdentityState identityState(Connection& db, const std::string& schema, std::int64_t objectId);
// Sets the current value (and settles it).
void setIdentityCurrent(Connection& db, const std::string& schema, std::int64_t objectId, std::int64_t value);
// No identity value handed out yet (a new table, or after TRUNCATE TABLE): the next is the seed.
void resetIdentity(Connection& db, const std::string& schema, std::int64_t objectId);
// Notes that explicit identity values were written.
void unsettleIdentity(Connection& db, const std::string& schema, std::int64_t objectId);

// The SQLite column declaration of a column: its storage class and, for text, the server's collation.
std::string storageDeclaration(const ColumnInfo& column);

// The default as the server shows it: "((0))", "('abc')", "(getdate())".
std::string normaliseDefault(std::string_view written);

}  // namespace vopa::engine::storage
