#include "EngineProvider.h"

#include <iterator>
#include <utility>

namespace vopa::data {
namespace {

using engine::BaseType;
using Kind = ColumnType::Kind;

// The type kinds of both sides, pair by pair.
constexpr std::pair<BaseType, Kind> kKinds[] = {
    {BaseType::Bit, Kind::Bit},
    {BaseType::TinyInt, Kind::TinyInt},
    {BaseType::SmallInt, Kind::SmallInt},
    {BaseType::Int, Kind::Int},
    {BaseType::BigInt, Kind::BigInt},
    {BaseType::Real, Kind::Real},
    {BaseType::Float, Kind::Float},
    {BaseType::SmallMoney, Kind::SmallMoney},
    {BaseType::Money, Kind::Money},
    {BaseType::Decimal, Kind::Decimal},
    {BaseType::Numeric, Kind::Numeric},
    {BaseType::SmallDateTime, Kind::SmallDateTime},
    {BaseType::DateTime, Kind::DateTime},
    {BaseType::Date, Kind::Date},
    {BaseType::Char, Kind::Char},
    {BaseType::VarChar, Kind::VarChar},
    {BaseType::Text, Kind::Text},
    {BaseType::NChar, Kind::NChar},
    {BaseType::NVarChar, Kind::NVarChar},
    {BaseType::NText, Kind::NText},
    {BaseType::Binary, Kind::Binary},
    {BaseType::VarBinary, Kind::VarBinary},
    {BaseType::Image, Kind::Image},
    {BaseType::UniqueIdentifier, Kind::UniqueIdentifier},
};
static_assert(std::size(kKinds) == static_cast<std::size_t>(Kind::UniqueIdentifier) + 1);

ColumnType toData(const engine::SqlType& t) {
    Kind kind = Kind::Int;
    for (const auto& [base, k] : kKinds)
        if (base == t.base) kind = k;
    return ColumnType{kind, t.length, t.precision, t.scale};
}

Column toData(const engine::ResultColumn& c) { return Column{c.name, toData(c.type), c.nullable, c.baseColumnId}; }

ResultSet toData(engine::ResultSet&& rs) {
    ResultSet out;
    out.columns.reserve(rs.columns.size());
    for (const engine::ResultColumn& c : rs.columns) out.columns.push_back(toData(c));
    out.rows = std::move(rs.rows);
    out.baseDatabase = std::move(rs.baseDatabase);
    out.baseTable = std::move(rs.baseTable);
    out.rowIds = std::move(rs.rowIds);
    return out;
}

ServerError toData(const engine::EngineError& e) { return ServerError{e.number(), e.severity(), e.state(), e.what()}; }

StatementOutcome toData(engine::StatementOutcome&& o) {
    StatementOutcome out;
    out.offset = o.offset;
    if (o.resultSet) out.resultSet = toData(std::move(*o.resultSet));
    out.rowsAffected = o.rowsAffected;
    out.messages = std::move(o.messages);
    if (o.error) out.error = toData(*o.error);
    for (const engine::EngineError& e : o.followingErrors) out.followingErrors.push_back(toData(e));
    return out;
}

engine::ResultColumn toEngine(const Column& c) {
    return engine::ResultColumn{c.name, engineTypeOf(c.type), c.nullable, c.baseColumnId};
}

// Runs a call into the engine, reporting its failure as the data layer's error.
template <typename Call>
auto engineCall(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const engine::EngineError& e) {
        throw fromServer(toData(e));
    }
}

}  // namespace

engine::SqlType engineTypeOf(const ColumnType& type) {
    engine::SqlType t;
    for (const auto& [base, k] : kKinds)
        if (k == type.kind) t.base = base;
    t.length = type.length;
    t.precision = type.precision;
    t.scale = type.scale;
    return t;
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

std::vector<StatementOutcome> EngineProvider::executeBatch(const std::string& batch) {
    std::vector<engine::StatementOutcome> outcomes = engineCall([&] { return session_->executeBatch(batch); });
    std::vector<StatementOutcome> out;
    out.reserve(outcomes.size());
    for (engine::StatementOutcome& o : outcomes) out.push_back(toData(std::move(o)));
    return out;
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
    std::vector<engine::ResultColumn> columns;
    columns.reserve(like.columns.size());
    for (const Column& c : like.columns) columns.push_back(toEngine(c));
    return engineCall([&] { return session_->readRow(like.baseDatabase, like.baseTable, rowId, columns); });
}

std::vector<TableEntry> EngineProvider::listTables() {
    std::optional<engine::ResultSet> rs = engineCall([&] {
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
