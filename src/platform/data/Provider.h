#pragma once
// What a connection talks to: the embedded engine, a real SQL Server through ODBC, or the Jet stand-in.
// Providers report failures as DataError with the provider's description.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DataError.h"
#include "Results.h"

namespace vopa::data {

// A table of the database as its catalog lists it: type "TABLE", "VIEW", "SYSTEM TABLE" or "LINK".
struct TableEntry {
    std::string name;
    std::string type;
};

class Provider {
public:
    virtual ~Provider() = default;

    // Runs a batch as far as the server runs it; each statement's rows, count and error are in its
    // outcome. Throws DataError only when the batch cannot be sent at all.
    virtual std::vector<StatementOutcome> executeBatch(const std::string& batch) = 0;

    // Runs a batch and throws its first error as a DataError. Returns the first result set the batch
    // produced, if any, and the rows the last changing statement changed.
    struct BatchResult {
        std::optional<ResultSet> rows;
        std::int64_t recordsAffected = -1;
    };
    BatchResult execute(const std::string& batch);

    // Single-row changes behind an updatable recordset.
    virtual std::int64_t insertRow(const ResultSet& like, const std::vector<std::pair<std::string, Value>>& values) = 0;
    virtual void updateRow(const ResultSet& like, std::int64_t rowId,
                           const std::vector<std::pair<std::string, Value>>& values) = 0;
    virtual void deleteRow(const ResultSet& like, std::int64_t rowId) = 0;
    virtual std::vector<Value> readRow(const ResultSet& like, std::int64_t rowId) = 0;

    // The tables, views and system tables of the database.
    virtual std::vector<TableEntry> listTables() = 0;
};

// The provider a connection text asks for. Throws DataError when none fits or it cannot connect.
std::unique_ptr<Provider> openProvider(const std::string& connectionString, const std::string& user,
                                       const std::string& password);

// Prefix of the descriptions of server errors, as the suite's users know them.
inline constexpr const char* kServerErrorPrefix = "[SQL Server]";

// The data layer's form of a server error: the server's number, the description after the prefix
// (a failed connection's description stands alone).
DataError fromServer(const ServerError& e);

}  // namespace vopa::data
