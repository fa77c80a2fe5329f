#pragma once
// A database and a table as one statement sees them: the alias the database has on the session's
// SQLite connection and the catalog it was read with.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/engine/storage/Catalog.h"

namespace vopa::engine {

// A database as one statement sees it: its alias on the SQLite connection and its catalog.
struct DatabaseHandle {
    std::string alias;  // "d<dbid>"
    std::int64_t dbid = 0;
    std::string name;
    std::shared_ptr<const storage::DatabaseCatalog> catalog;
};

// A table or view resolved from a name.
struct TableHandle {
    DatabaseHandle db;
    const storage::TableInfo* table = nullptr;

    // "db.dbo.table", as the server names it in messages.
    std::string displayName() const { return db.name + ".dbo." + table->name; }
    // The SQLite name of its rows: "d5"."t100003".
    std::string storageName() const;
};

}  // namespace vopa::engine
