#pragma once
// One connection to the embedded SQL Server engine: it executes T-SQL batches with the server's
// semantics over SQLite files and reads and writes single rows for recordsets.
//
// Every database of the instance is attached to one SQLite connection on demand (at most nine at a
// time; the least recently used ones are detached). Each statement runs atomically: a failing
// statement leaves nothing behind, and the batch goes on or stops as the server's error class says.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "EngineError.h"
#include "ResultColumn.h"
#include "Server.h"
#include "SqlType.h"
#include "platform/value/Value.h"

namespace vopa::engine {

struct ResultSet {
    std::vector<ResultColumn> columns;
    std::vector<std::vector<Value>> rows;

    // Set when the rows come straight from one table (no join, grouping or DISTINCT): the table and
    // each row's identity in it, so that a row can be updated or deleted exactly.
    std::string baseDatabase;
    std::string baseTable;
    std::vector<std::int64_t> rowIds;

    bool updatable() const { return !baseTable.empty(); }
    int columnIndex(std::string_view name) const;  // case-insensitive; -1 when absent
};

struct StatementOutcome {
    std::size_t offset = 0;                // where the statement starts in the batch
    std::optional<ResultSet> resultSet;    // a SELECT's rows
    std::int64_t rowsAffected = -1;        // INSERT/UPDATE/DELETE; -1 for other statements
    std::vector<std::string> messages;     // informational messages (e.g. sp_configure's)
    std::optional<EngineError> error;
    // What the server sends after the error: "The statement has been terminated." (3621, severity 0,
    // printed as plain text) and errors that follow the first (1750 after a refused key or index).
    std::vector<EngineError> followingErrors;
};

struct ConnectOptions {
    std::string server;
    std::string database;  // empty: master (for a login: its default database)
    std::string user;
    std::string password;
};

// Who opens a session. The program's own sessions run in-process without a login and may do
// everything; the network server opens sessions for a login, whose password is checked (or, when it
// makes its connection's session again, was checked at the connection's login). A session of a
// login other than sa may not create, alter or drop logins, only change its own password.
enum class SignIn {
    InProcess,       // no login: user and password are not looked at
    CheckPassword,   // the user's login must exist, be enabled and have this password
    AlreadyChecked,  // the user's login must exist and be enabled; the password is not checked again
};

class Session {
public:
    // Connects; throws EngineError 17 (no such server), 18456 (a login refused: the message gives the
    // reason, which the server keeps to itself), 4060 (no such database), 4064 (the login's default
    // database is gone).
    explicit Session(const ConnectOptions& options, SignIn signIn = SignIn::InProcess);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs a batch. Errors are reported in the outcomes (a syntax error: one outcome and nothing run).
    std::vector<StatementOutcome> executeBatch(std::string_view batch);
    // Runs a batch and throws the first error; returns the last result set, if any.
    std::optional<ResultSet> execute(std::string_view batch);

    // Row operations on a base table (recordsets). Values are converted to the column types with the
    // server's rules; identity columns and defaults behave as in INSERT and UPDATE.
    std::int64_t insertRow(const std::string& database, const std::string& table,
                           const std::vector<std::pair<std::string, Value>>& values);
    void updateRow(const std::string& database, const std::string& table, std::int64_t rowId,
                   const std::vector<std::pair<std::string, Value>>& values);
    void deleteRow(const std::string& database, const std::string& table, std::int64_t rowId);
    // Reads the row back (after an insert or update), with the columns of `like`.
    std::vector<Value> readRow(const std::string& database, const std::string& table, std::int64_t rowId,
                               const std::vector<ResultColumn>& like);

    // May be called from another thread while a batch runs (the network server, on its client's cancel
    // or when the client is gone): the running statement stops, and so does the batch before its next
    // statement (error 3617); a transaction the interrupted statement was part of is rolled back. Every
    // later batch is refused the same way until resetCancel().
    void cancel();
    void resetCancel();

    const std::string& currentDatabase() const;
    const InstanceLocation& instance() const;
    // The login the session was opened for; empty in-process.
    const std::string& login() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vopa::engine
