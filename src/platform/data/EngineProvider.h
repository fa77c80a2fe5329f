#pragma once
// The embedded SQL Server engine as a provider. It converts the engine's results, types and errors
// into the data layer's own.

#include "ConnectionString.h"
#include "Provider.h"
#include "platform/engine/Session.h"

namespace vopa::data {

class EngineProvider final : public Provider {
public:
    EngineProvider(const ConnectionString& cs, const std::string& user, const std::string& password);

    std::vector<StatementOutcome> executeBatch(const std::string& batch) override;
    std::int64_t insertRow(const ResultSet& like, const std::vector<std::pair<std::string, Value>>& values) override;
    void updateRow(const ResultSet& like, std::int64_t rowId,
                   const std::vector<std::pair<std::string, Value>>& values) override;
    void deleteRow(const ResultSet& like, std::int64_t rowId) override;
    std::vector<Value> readRow(const ResultSet& like, std::int64_t rowId) override;
    std::vector<TableEntry> listTables() override;

    engine::Session& session() { return *session_; }

private:
    std::unique_ptr<engine::Session> session_;
};

// The engine's type of a column of the data layer, for the engine's display of its values.
engine::SqlType engineTypeOf(const ColumnType& type);

}  // namespace vopa::data
