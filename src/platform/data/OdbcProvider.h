#pragma once
// A real server (or any ODBC data source) through unixODBC, used when VOPA_ODBC_DRIVER names the
// driver. Rows of a single-table query can be changed: the row is found again by the values it was
// read with, and exactly one row is changed even when another row holds the same values.

#include <map>
#include <memory>

#include "ConnectionString.h"
#include "Provider.h"
#include "platform/odbc/OdbcConnection.h"

namespace vopa::data {

class OdbcProvider final : public Provider {
public:
    // `driver`: a registered driver name ("FreeTDS") or the path of a driver library.
    OdbcProvider(const std::string& driver, const ConnectionString& cs, const std::string& user,
                 const std::string& password);
    ~OdbcProvider() override;

    std::vector<StatementOutcome> executeBatch(const std::string& batch) override;
    std::int64_t insertRow(const ResultSet& like, const std::vector<std::pair<std::string, Value>>& values) override;
    void updateRow(const ResultSet& like, std::int64_t rowId,
                   const std::vector<std::pair<std::string, Value>>& values) override;
    void deleteRow(const ResultSet& like, std::int64_t rowId) override;
    std::vector<Value> readRow(const ResultSet& like, std::int64_t rowId) override;
    std::vector<TableEntry> listTables() override;

private:
    ResultSet toResultSet(const odbc::Result& r, const std::string& statement);
    std::string matchClause(const ResultSet& like, const std::vector<Value>& row,
                            std::vector<std::optional<std::string>>& parameters) const;
    odbc::Result changeOne(const std::string& verbAndSet, const std::string& table, const std::string& where,
                           std::vector<std::optional<std::string>> parameters);
    std::vector<Value> currentRow(const ResultSet& like, std::int64_t rowId) const;

    std::unique_ptr<odbc::OdbcConnection> connection_;
    bool sqlite_ = false;  // the SQLite driver: rows are found by rowid, not with TOP (1)
    std::map<std::int64_t, std::vector<Value>> written_;  // rows as this provider last wrote them
};

}  // namespace vopa::data
