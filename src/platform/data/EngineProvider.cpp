#include "EngineProvider.h"

namespace vopa::data {
namespace {

// Runs a call into the engine, reporting its failure as the data layer's error.
template <typename Call>
auto engineCall(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const engine::EngineError& e) {
        throw fromEngine(e);
    }
}

}  // namespace

DataError fromEngine(const engine::EngineError& e) {
    if (e.number() == engine::err::CannotConnect) return DataError(e.number(), e.what());
    return DataError(e.number(), std::string(kServerErrorPrefix) + e.what());
}

EngineProvider::EngineProvider(const ConnectionString& cs, const std::string& user, const std::string& password) {
    engine::ConnectOptions options;
    options.server = cs.server();
    options.database = cs.database();
    options.user = user.empty() ? cs.user() : user;
    options.password = password.empty() ? cs.password() : password;
    if (options.server.empty()) options.server = "(local)";
    session_ = engineCall([&] { return std::make_unique<engine::Session>(options); });
}

std::vector<engine::StatementOutcome> EngineProvider::executeBatch(const std::string& batch) {
    return engineCall([&] { return session_->executeBatch(batch); });
}

Provider::BatchResult Provider::execute(const std::string& batch) {
    BatchResult result;
    std::optional<engine::EngineError> first;
    for (engine::StatementOutcome& o : executeBatch(batch)) {
        if (o.error && !first) first = o.error;
        if (o.resultSet && !result.rows) result.rows = std::move(o.resultSet);
        if (o.rowsAffected >= 0 && !o.resultSet) result.recordsAffected = o.rowsAffected;
    }
    if (first) throw fromEngine(*first);
    return result;
}

std::int64_t EngineProvider::insertRow(const ResultSet& like, const std::vector<std::pair<std::string, Value>>& values) {
    return engineCall([&] { return session_->insertRow(like.baseDatabase, like.baseTable, values); });
}

void EngineProvider::updateRow(const ResultSet& like, std::int64_t rowId,
                               const std::vector<std::pair<std::string, Value>>& values) {
    engineCall([&] { session_->updateRow(like.baseDatabase, like.baseTable, rowId, values); });
}

void EngineProvider::deleteRow(const ResultSet& like, std::int64_t rowId) {
    engineCall([&] { session_->deleteRow(like.baseDatabase, like.baseTable, rowId); });
}

std::vector<Value> EngineProvider::readRow(const ResultSet& like, std::int64_t rowId) {
    return engineCall([&] { return session_->readRow(like.baseDatabase, like.baseTable, rowId, like.columns); });
}

}  // namespace vopa::data

namespace vopa::data {

std::vector<TableEntry> EngineProvider::listTables() {
    std::optional<ResultSet> rs = engineCall([&] {
        return session_->execute("SELECT name, type FROM sys.objects WHERE type IN ('U', 'V', 'S') ORDER BY name");
    });
    std::vector<TableEntry> out;
    for (const auto& row : rs->rows) {
        std::string type = row[1].toString();
        out.push_back({row[0].toString(), type[0] == 'V' ? "VIEW" : type[0] == 'S' ? "SYSTEM TABLE" : "TABLE"});
    }
    return out;
}

}  // namespace vopa::data
