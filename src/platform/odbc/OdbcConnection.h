#pragma once
// A connection through the unixODBC driver manager: to a real SQL Server with FreeTDS, or to any other
// driver (the tests use the SQLite driver). Results come back as text with the column's SQL type, which
// the caller turns into program values.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vopa::odbc {

// A failure with the driver's native error number (0 when it gives none), SQLSTATE and message.
class OdbcError : public std::runtime_error {
public:
    OdbcError(int nativeError, std::string sqlState, const std::string& message)
        : std::runtime_error(message), nativeError_(nativeError), sqlState_(std::move(sqlState)) {}
    int nativeError() const { return nativeError_; }
    const std::string& sqlState() const { return sqlState_; }

private:
    int nativeError_;
    std::string sqlState_;
};

struct Column {
    std::string name;
    short sqlType = 0;  // SQL_INTEGER, SQL_VARCHAR, ...
    std::uint64_t size = 0;
    short decimalDigits = 0;
    bool nullable = true;
};

struct Result {
    std::vector<Column> columns;                                  // empty: no rows (a count only)
    std::vector<std::vector<std::optional<std::string>>> rows;    // text of each value; nullopt = NULL
    std::int64_t rowCount = -1;
    std::optional<OdbcError> error;
};

struct TableEntry {
    std::string name;
    std::string type;  // "TABLE", "VIEW", "SYSTEM TABLE", "LINK", ...
};

class OdbcConnection {
public:
    // Connects with a complete ODBC connection string ("DRIVER={FreeTDS};SERVER=...;").
    explicit OdbcConnection(const std::string& connectionString);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Runs a statement text; each result (rows or count) in order, an error as its own result.
    std::vector<Result> execute(const std::string& text);
    // Runs a statement with text parameters (nullopt = NULL); throws OdbcError.
    Result executeWith(const std::string& text, const std::vector<std::optional<std::string>>& parameters);
    std::vector<TableEntry> tables();
    // The DBMS the driver talks to ("Microsoft SQL Server", "SQLite", ...).
    std::string dbmsName();

private:
    struct Handles;
    std::unique_ptr<Handles> h_;
};

}  // namespace vopa::odbc
