#include "OdbcConnection.h"

#include <sql.h>
#include <sqlext.h>

namespace vopa::odbc {
namespace {

OdbcError diagnostic(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& fallback) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[2048] = {};
    SQLSMALLINT length = 0;
    std::string text;
    std::string firstState;
    int firstNative = 0;
    for (SQLSMALLINT record = 1;
         SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length) == SQL_SUCCESS;
         ++record) {
        if (record == 1) {
            firstState = reinterpret_cast<char*>(state);
            firstNative = static_cast<int>(native);
        }
        if (!text.empty()) text += "\n";
        text += reinterpret_cast<char*>(message);
    }
    return OdbcError(firstNative, firstState, text.empty() ? fallback : text);
}

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Reads the pending result of a statement: its columns and rows, or its row count.
Result readResult(SQLHSTMT stmt) {
    Result r;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    if (columns == 0) {
        SQLLEN count = -1;
        SQLRowCount(stmt, &count);
        r.rowCount = static_cast<std::int64_t>(count);
        return r;
    }
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columns); ++i) {
        SQLCHAR name[512] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(stmt, i, name, sizeof name, &nameLength, &type, &size, &digits, &nullable);
        r.columns.push_back({reinterpret_cast<char*>(name), type, static_cast<std::uint64_t>(size), digits,
                             nullable != SQL_NO_NULLS});
    }
    while (true) {
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        if (!ok(rc)) throw diagnostic(SQL_HANDLE_STMT, stmt, "fetch failed");
        std::vector<std::optional<std::string>> row;
        for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columns); ++i) {
            std::string value;
            char buffer[4096];
            SQLLEN indicator = 0;
            bool isNull = false;
            while (true) {
                rc = SQLGetData(stmt, i, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
                if (rc == SQL_NO_DATA) break;
                if (!ok(rc)) throw diagnostic(SQL_HANDLE_STMT, stmt, "reading a value failed");
                if (indicator == SQL_NULL_DATA) {
                    isNull = true;
                    break;
                }
                std::size_t got = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer)
                                      ? sizeof buffer - 1
                                      : static_cast<std::size_t>(indicator);
                value.append(buffer, got);
                if (rc == SQL_SUCCESS) break;
            }
            row.push_back(isNull ? std::nullopt : std::optional<std::string>(value));
        }
        r.rows.push_back(std::move(row));
    }
    return r;
}

}  // namespace

struct OdbcConnection::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;

    ~Handles() {
        if (connected) SQLDisconnect(dbc);
        if (dbc) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    // A statement handle freed when it goes out of scope.
    struct Statement {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        explicit Statement(SQLHDBC dbc) {
            if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) throw diagnostic(SQL_HANDLE_DBC, dbc, "no statement handle");
        }
        ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
    };
};

OdbcConnection::OdbcConnection(const std::string& connectionString) : h_(std::make_unique<Handles>()) {
    if (!ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h_->env)))
        throw OdbcError(0, "HY001", "The ODBC driver manager could not be initialised.");
    SQLSetEnvAttr(h_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!ok(SQLAllocHandle(SQL_HANDLE_DBC, h_->env, &h_->dbc)))
        throw diagnostic(SQL_HANDLE_ENV, h_->env, "no connection handle");
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    std::string text = connectionString;
    SQLRETURN rc = SQLDriverConnect(h_->dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                    static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &outLength,
                                    SQL_DRIVER_NOPROMPT);
    if (!ok(rc)) throw diagnostic(SQL_HANDLE_DBC, h_->dbc, "The connection could not be opened.");
    h_->connected = true;
}

OdbcConnection::~OdbcConnection() = default;

std::vector<Result> OdbcConnection::execute(const std::string& text) {
    Handles::Statement s(h_->dbc);
    std::vector<Result> results;
    std::string sql = text;
    SQLRETURN rc = SQLExecDirect(s.stmt, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
    while (true) {
        if (rc == SQL_NO_DATA) {
            // A statement that touched no row still reports its count.
            if (results.empty()) results.push_back(Result{{}, {}, 0, std::nullopt});
        } else if (!ok(rc)) {
            Result failed;
            failed.error = diagnostic(SQL_HANDLE_STMT, s.stmt, "The statement failed.");
            results.push_back(std::move(failed));
        } else {
            try {
                results.push_back(readResult(s.stmt));
            } catch (const OdbcError& e) {
                Result failed;
                failed.error = e;
                results.push_back(std::move(failed));
            }
        }
        rc = SQLMoreResults(s.stmt);
        if (rc == SQL_NO_DATA) break;
    }
    return results;
}

Result OdbcConnection::executeWith(const std::string& text, const std::vector<std::optional<std::string>>& parameters) {
    Handles::Statement s(h_->dbc);
    std::string sql = text;
    if (!ok(SQLPrepare(s.stmt, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()))))
        throw diagnostic(SQL_HANDLE_STMT, s.stmt, "The statement could not be prepared.");
    std::vector<std::string> values(parameters.size());
    std::vector<SQLLEN> indicators(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        values[i] = parameters[i].value_or("");
        indicators[i] = parameters[i] ? static_cast<SQLLEN>(values[i].size()) : SQL_NULL_DATA;
        SQLBindParameter(s.stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         std::max<SQLULEN>(1, values[i].size()), 0, values[i].data(),
                         static_cast<SQLLEN>(values[i].size()), &indicators[i]);
    }
    SQLRETURN rc = SQLExecute(s.stmt);
    if (rc == SQL_NO_DATA) return Result{{}, {}, 0, std::nullopt};
    if (!ok(rc)) throw diagnostic(SQL_HANDLE_STMT, s.stmt, "The statement failed.");
    return readResult(s.stmt);
}

std::vector<TableEntry> OdbcConnection::tables() {
    Handles::Statement s(h_->dbc);
    if (!ok(SQLTables(s.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)))
        throw diagnostic(SQL_HANDLE_STMT, s.stmt, "The table list could not be read.");
    Result r = readResult(s.stmt);
    std::vector<TableEntry> out;
    for (const auto& row : r.rows)
        if (row.size() >= 4 && row[2]) out.push_back({*row[2], row[3].value_or("")});
    return out;
}

std::string OdbcConnection::dbmsName() {
    SQLCHAR name[256] = {};
    SQLSMALLINT length = 0;
    SQLGetInfo(h_->dbc, SQL_DBMS_NAME, name, sizeof name, &length);
    return reinterpret_cast<char*>(name);
}

}  // namespace vopa::odbc
