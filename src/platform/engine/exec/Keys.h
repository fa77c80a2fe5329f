#pragma once
// Primary keys, unique constraints, defaults and indexes, with the server's checks and errors. The
// keys and indexes are real SQLite indexes, so lookups on them are fast.

#include <string>

#include "platform/engine/SessionImpl.h"

namespace vopa::engine::exec {

// ADD CONSTRAINT (primary key, unique, default); other kinds are refused as not supported.
void addConstraint(Session::Impl& session, const TableHandle& table, const sql::TableConstraint& constraint);
void dropConstraint(Session::Impl& session, const TableHandle& table, const std::string& name);

struct IndexRequest {
    std::string name;
    bool unique = false;
    bool primaryKey = false;
    bool uniqueConstraint = false;
    bool clustered = false;
    int fillFactor = 0;
    std::vector<sql::IndexColumn> columns;
};
// The key value of the current row of `q` (one result column per key column), as the server's
// duplicate-key messages show it: "1, abc", NULL as <NULL>.
std::string keyValueText(storage::Statement& q, const storage::TableInfo& table, const std::vector<int>& columnIds);

// Builds an index over the table's rows (1911 missing column, 1913 name taken, 1505 duplicates).
void createIndex(Session::Impl& session, const TableHandle& table, const IndexRequest& request);

}  // namespace vopa::engine::exec
