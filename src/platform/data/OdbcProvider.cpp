#include "OdbcProvider.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "StatementShape.h"
#include "platform/text/Text.h"

namespace vopa::data {
namespace {

using Kind = ColumnType::Kind;

ColumnType typeOf(const odbc::Column& c) {
    const int n = static_cast<int>(std::min<std::uint64_t>(c.size, 8000));
    auto plain = [](Kind k, int length = 0) { return ColumnType{k, length, 0, 0}; };
    auto sized = [&](Kind k) { return plain(k, n > 0 ? n : ColumnType::kMax); };
    switch (c.sqlType) {
        case -7: return plain(Kind::Bit);                       // SQL_BIT
        case -6: return plain(Kind::TinyInt);                   // SQL_TINYINT
        case 5: return plain(Kind::SmallInt);                   // SQL_SMALLINT
        case 4: return plain(Kind::Int);                        // SQL_INTEGER
        case -5: return plain(Kind::BigInt);                    // SQL_BIGINT
        case 7: return plain(Kind::Real);                       // SQL_REAL
        case 6:                                                 // SQL_FLOAT
        case 8: return plain(Kind::Float);                      // SQL_DOUBLE
        case 2:                                                 // SQL_NUMERIC
        case 3: {                                               // SQL_DECIMAL
            const int precision = std::clamp<int>(n, 1, 38);
            return ColumnType{Kind::Decimal, 0, precision, std::clamp<int>(c.decimalDigits, 0, precision)};
        }
        case 91: return plain(Kind::Date);                      // SQL_TYPE_DATE
        case 11:                                                // SQL_TIMESTAMP
        case 93:                                                // SQL_TYPE_TIMESTAMP
            // A smalldatetime is described as sixteen characters without fractions of a second.
            return plain(c.size == 16 && c.decimalDigits == 0 ? Kind::SmallDateTime : Kind::DateTime);
        case 1: return sized(Kind::Char);                       // SQL_CHAR
        case 12: return sized(Kind::VarChar);                   // SQL_VARCHAR
        case -1: return plain(Kind::Text, 2147483647);          // SQL_LONGVARCHAR
        case -8: return sized(Kind::NChar);                     // SQL_WCHAR
        case -9: return sized(Kind::NVarChar);                  // SQL_WVARCHAR
        case -10: return plain(Kind::NText, 1073741823);        // SQL_WLONGVARCHAR
        case -11: return plain(Kind::UniqueIdentifier, 36);     // SQL_GUID
        case -2:                                                // SQL_BINARY
        case -3:                                                // SQL_VARBINARY
        case -4: return plain(Kind::Image, 2147483647);         // SQL_LONGVARBINARY
        default: return plain(Kind::NVarChar, ColumnType::kMax);
    }
}

std::string_view trimmedSpaces(std::string_view t) {
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    return t;
}

// A whole number written with an optional sign, within [low, high].
bool wholeNumber(std::string_view t, std::int64_t low, std::int64_t high, std::int64_t& out) {
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return false;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
    return ec == std::errc() && end == t.data() + t.size() && out >= low && out <= high;
}

bool realNumber(std::string_view t, double& out) {
    if (t.empty()) return false;
    const std::string text(t);
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// A datetime keeps the server's 1/300 s ticks (.000, .003, .007), a date its day.
std::int64_t roundedToType(std::int64_t ms, Kind kind) {
    constexpr std::int64_t kMillisPerDay = 86'400'000;
    const std::int64_t day = ms / kMillisPerDay - (ms % kMillisPerDay < 0 ? 1 : 0);
    const std::int64_t inDay = ms - day * kMillisPerDay;
    if (kind == Kind::Date) return day * kMillisPerDay;
    const std::int64_t ticks = (inDay * 3 + 5) / 10;
    return day * kMillisPerDay + (ticks * 10 + 1) / 3;
}

// The driver's text of a value of the column's type as the program's value: numbers, dates and bits in
// the forms drivers write them ("12", "10.50", "2009-03-05 00:00:00", "1"), a GUID in capitals.
std::optional<Value> typedValue(std::string_view text, const ColumnType& type) {
    const std::string_view t = trimmedSpaces(text);
    std::int64_t n = 0;
    double r = 0;
    switch (type.kind) {
        case Kind::Bit:
            if (text::equalsNoCase(t, "true")) return Value::boolean(true);
            if (text::equalsNoCase(t, "false")) return Value::boolean(false);
            if (wholeNumber(t, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), n))
                return Value::boolean(n != 0);
            return std::nullopt;
        case Kind::TinyInt:
            if (wholeNumber(t, 0, 255, n)) return Value::byte(static_cast<std::uint8_t>(n));
            return std::nullopt;
        case Kind::SmallInt:
            if (wholeNumber(t, -32768, 32767, n)) return Value::integer(static_cast<std::int16_t>(n));
            return std::nullopt;
        case Kind::Int:
            if (wholeNumber(t, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), n))
                return Value::longInt(static_cast<std::int32_t>(n));
            return std::nullopt;
        case Kind::BigInt:
            if (wholeNumber(t, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), n))
                return Value::bigInt(n);
            return std::nullopt;
        case Kind::Real:
            if (realNumber(t, r)) return Value::single(static_cast<float>(r));
            return std::nullopt;
        case Kind::Float:
            if (realNumber(t, r)) return Value::dbl(r);
            return std::nullopt;
        case Kind::Decimal:
        case Kind::Numeric: {
            Decimal d;
            if (Decimal::parse(t.starts_with('+') ? t.substr(1) : t, d)) return Value::decimal(d.rescaled(type.scale));
            return std::nullopt;
        }
        case Kind::Date:
        case Kind::SmallDateTime:
        case Kind::DateTime: {
            DateTime d;
            if (DateTime::parse(t, d)) return Value::date(DateTime{roundedToType(d.millis, type.kind)});
            return std::nullopt;
        }
        case Kind::UniqueIdentifier: {
            bool ok = t.size() == 36;
            for (std::size_t i = 0; ok && i < t.size(); ++i)
                ok = (i == 8 || i == 13 || i == 18 || i == 23) ? t[i] == '-'
                                                               : std::isxdigit(static_cast<unsigned char>(t[i])) != 0;
            if (ok) return Value::string(text::toUpper(std::string(t)));
            return std::nullopt;
        }
        default:
            return Value::string(std::string(text));
    }
}

Value valueOf(const std::optional<std::string>& text, const ColumnType& type) {
    if (!text) return Value::null();
    // A value this side cannot read as its type is shown as the driver gave it.
    return typedValue(*text, type).value_or(Value::string(*text));
}

// The text of a value as a statement parameter.
std::optional<std::string> parameterOf(const Value& v) {
    if (v.isNull() || v.isEmpty()) return std::nullopt;
    switch (v.kind()) {
        case Value::Kind::Boolean: return std::string(v.asBoolean() ? "1" : "0");
        case Value::Kind::Date: return v.asDate().toIsoString();
        default: return v.toString();
    }
}

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    return out + "\"";
}

// A value of the driver's connection text: braced (a "}" inside doubled) when it holds what would end
// it or start another keyword, so that a password such as "a;Port=1" stays one value.
std::string odbcValue(const std::string& value) {
    const bool plain = value.find_first_of(";{}=") == std::string::npos && value.front() != ' ' && value.back() != ' ';
    return plain ? value : text::enclosed(value, '{', '}');
}

// The data layer's error for a driver failure: the driver's native number when it gives one.
DataError fromOdbc(const odbc::OdbcError& e, int fallback = 50000) {
    return DataError(e.nativeError() ? e.nativeError() : fallback, e.what());
}

}  // namespace

OdbcProvider::OdbcProvider(const std::string& driver, const ConnectionString& cs, const std::string& user,
                           const std::string& password) {
    std::string text = driver.find('/') != std::string::npos ? "DRIVER=" + driver + ";" : "DRIVER={" + driver + "};";
    if (!cs.server().empty()) text += "SERVER=" + odbcValue(cs.server()) + ";";
    if (!cs.database().empty()) text += "DATABASE=" + odbcValue(cs.database()) + ";";
    std::string u = user.empty() ? cs.user() : user, p = password.empty() ? cs.password() : password;
    if (!u.empty()) text += "UID=" + odbcValue(u) + ";";
    if (!p.empty()) text += "PWD=" + odbcValue(p) + ";";
    if (const char* extra = std::getenv("VOPA_ODBC_OPTIONS"); extra && *extra) text += extra;
    try {
        connection_ = std::make_unique<odbc::OdbcConnection>(text);
        sqlite_ = text::toLower(connection_->dbmsName()).find("sqlite") != std::string::npos;
    } catch (const odbc::OdbcError& e) {
        throw fromOdbc(e, errors::DataSourceNotFound);
    }
}

OdbcProvider::~OdbcProvider() = default;

ResultSet OdbcProvider::toResultSet(const odbc::Result& r, const std::string& statement) {
    ResultSet rs;
    for (const odbc::Column& c : r.columns) rs.columns.push_back({c.name, typeOf(c), c.nullable, 0});
    for (const auto& row : r.rows) {
        std::vector<Value> values;
        for (std::size_t i = 0; i < row.size(); ++i) values.push_back(valueOf(row[i], rs.columns[i].type));
        rs.rows.push_back(std::move(values));
    }
    rs.baseTable = singleTableOf(statement);
    if (!rs.baseTable.empty()) {
        // Columns read as they stand can be written back; their row is found by its values.
        for (std::size_t i = 0; i < rs.columns.size(); ++i) rs.columns[i].baseColumnId = static_cast<int>(i + 1);
        for (std::size_t i = 0; i < rs.rows.size(); ++i) rs.rowIds.push_back(static_cast<std::int64_t>(i));
    }
    return rs;
}

std::vector<StatementOutcome> OdbcProvider::executeBatch(const std::string& batch) {
    std::vector<StatementOutcome> outcomes;
    for (const odbc::Result& r : connection_->execute(batch)) {
        StatementOutcome o;
        if (r.error) {
            o.error = ServerError{r.error->nativeError() ? r.error->nativeError() : 50000, 16, 1, r.error->what()};
        } else if (!r.columns.empty()) {
            o.resultSet = toResultSet(r, batch);
            o.rowsAffected = static_cast<std::int64_t>(o.resultSet->rows.size());
        } else {
            o.rowsAffected = r.rowCount;
        }
        outcomes.push_back(std::move(o));
    }
    return outcomes;
}

std::string OdbcProvider::matchClause(const ResultSet& like, const std::vector<Value>& row,
                                      std::vector<std::optional<std::string>>& parameters) const {
    std::string where;
    for (std::size_t i = 0; i < like.columns.size(); ++i) {
        if (like.columns[i].type.isLob()) continue;  // long texts cannot be compared on the server
        where += where.empty() ? "" : " AND ";
        std::optional<std::string> p = parameterOf(row[i]);
        if (!p) {
            where += quoted(like.columns[i].name) + " IS NULL";
        } else {
            where += quoted(like.columns[i].name) + " = ?";
            parameters.push_back(p);
        }
    }
    return where.empty() ? "1 = 1" : where;
}

// Changes one row found by its values: exactly one, even when another row holds the same values.
odbc::Result OdbcProvider::changeOne(const std::string& verbAndSet, const std::string& table, const std::string& where,
                                     std::vector<std::optional<std::string>> parameters) {
    std::string sql;
    if (sqlite_)
        sql = verbAndSet + " WHERE rowid = (SELECT rowid FROM " + quoted(table) + " WHERE " + where + " LIMIT 1)";
    else
        sql = verbAndSet.substr(0, 6) + " TOP (1)" + verbAndSet.substr(6) + " WHERE " + where;
    return connection_->executeWith(sql, parameters);
}

std::int64_t OdbcProvider::insertRow(const ResultSet& like, const std::vector<std::pair<std::string, Value>>& values) {
    std::string columns, marks;
    std::vector<std::optional<std::string>> parameters;
    for (const auto& [name, value] : values) {
        columns += (columns.empty() ? "" : ", ") + quoted(name);
        marks += marks.empty() ? "?" : ", ?";
        parameters.push_back(parameterOf(value));
    }
    try {
        connection_->executeWith("INSERT INTO " + quoted(like.baseTable) + " (" + columns + ") VALUES (" + marks + ")",
                                 parameters);
        // Read the new row back: by its row id on SQLite, by the identity just given on SQL Server, or by
        // the values written.
        odbc::Result back;
        if (sqlite_) {
            back = connection_->executeWith("SELECT * FROM " + quoted(like.baseTable) + " WHERE rowid = last_insert_rowid()", {});
        } else {
            std::vector<std::optional<std::string>> match;
            std::string where;
            for (const auto& [name, value] : values) {
                std::optional<std::string> p = parameterOf(value);
                where += (where.empty() ? "" : " AND ") + quoted(name) + (p ? " = ?" : " IS NULL");
                if (p) match.push_back(p);
            }
            back = connection_->executeWith("SELECT TOP (1) * FROM " + quoted(like.baseTable) +
                                                (where.empty() ? "" : " WHERE " + where) + " ORDER BY 1 DESC",
                                            match);
        }
        const std::int64_t rowId = static_cast<std::int64_t>(like.rows.size());
        ResultSet fresh = toResultSet(back, "");
        written_[rowId] = fresh.rows.empty() ? std::vector<Value>() : fresh.rows.front();
        return rowId;
    } catch (const odbc::OdbcError& e) {
        throw fromOdbc(e);
    }
}

void OdbcProvider::updateRow(const ResultSet& like, std::int64_t rowId,
                             const std::vector<std::pair<std::string, Value>>& values) {
    std::vector<Value> row = currentRow(like, rowId);
    std::string set;
    std::vector<std::optional<std::string>> parameters;
    for (const auto& [name, value] : values) {
        set += (set.empty() ? "" : ", ") + quoted(name) + " = ?";
        parameters.push_back(parameterOf(value));
    }
    std::string where = matchClause(like, row, parameters);
    try {
        odbc::Result r = changeOne("UPDATE " + quoted(like.baseTable) + " SET " + set, like.baseTable, where, parameters);
        if (r.rowCount == 0)
            throw DataError(-2147217864, "Row cannot be located for updating. Some values may have been changed since "
                                         "it was last read.");
    } catch (const odbc::OdbcError& e) {
        throw fromOdbc(e);
    }
    for (const auto& [name, value] : values) {
        int i = like.columnIndex(name);
        if (i >= 0) row[static_cast<std::size_t>(i)] = value;
    }
    written_[rowId] = row;
}

void OdbcProvider::deleteRow(const ResultSet& like, std::int64_t rowId) {
    std::vector<std::optional<std::string>> parameters;
    std::string where = matchClause(like, currentRow(like, rowId), parameters);
    try {
        changeOne("DELETE FROM " + quoted(like.baseTable), like.baseTable, where, parameters);
    } catch (const odbc::OdbcError& e) {
        throw fromOdbc(e);
    }
    written_.erase(rowId);
}

std::vector<Value> OdbcProvider::readRow(const ResultSet& like, std::int64_t rowId) { return currentRow(like, rowId); }

std::vector<Value> OdbcProvider::currentRow(const ResultSet& like, std::int64_t rowId) const {
    auto it = written_.find(rowId);
    if (it != written_.end() && !it->second.empty()) return it->second;
    if (rowId >= 0 && static_cast<std::size_t>(rowId) < like.rows.size()) return like.rows[static_cast<std::size_t>(rowId)];
    return std::vector<Value>(like.columns.size(), Value::null());
}

std::vector<TableEntry> OdbcProvider::listTables() {
    std::vector<TableEntry> out;
    try {
        for (const odbc::TableEntry& t : connection_->tables()) out.push_back({t.name, t.type});
    } catch (const odbc::OdbcError& e) {
        throw fromOdbc(e);
    }
    return out;
}

}  // namespace vopa::data
