#pragma once
// Inside of a Session: the SQLite connection with its attached databases (storage/AttachedDatabases.h)
// and write locks (exec/WriteLocks.h), name resolution, the session's settings, and the per-statement
// executors (one file per statement family under exec/). The translator sees the session only through
// SessionCompileContext.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Session.h"
#include "exec/WriteLocks.h"
#include "sql/Ast.h"
#include "storage/AttachedDatabases.h"
#include "storage/Catalog.h"
#include "storage/Functions.h"
#include "storage/Handles.h"
#include "storage/LockFile.h"
#include "storage/Logins.h"
#include "storage/Sqlite.h"
#include "translate/CompileContext.h"

namespace vopa::engine {

// The translator's view of a session (see translate/CompileContext.h): names resolve through the
// session's attached databases, settings and identity values are the session's.
class SessionCompileContext final : public translate::CompileContext {
public:
    explicit SessionCompileContext(Session::Impl& session) : s_(session) {}

    DatabaseHandle database(const std::string& name) override;
    TableHandle table(const sql::QualifiedName& name, bool required) override;
    std::string currentDatabase() const override;
    std::string resolveNamesIn(const std::string& name) override;
    const BatchVariable& variable(const std::string& name, std::size_t usedAt) override;
    const storage::Language& language() const override;
    int dateFirst() const override;
    int lockTimeout() const override;
    std::string serverName() const override;
    int transactionDepth() const override;
    std::optional<std::int64_t> lastInsertedIdentity() override;
    std::int64_t identCurrent(const TableHandle& table) override;
    storage::FunctionContext& functions() override;

private:
    Session::Impl& s_;
};

class Session::Impl {
public:
    Impl(const ConnectOptions& options, SignIn signIn);

    // ---- statements ----
    std::vector<StatementOutcome> executeBatch(std::string_view batch);
    void run(const sql::Statement& statement, std::string_view batch, StatementOutcome& out);

    // ---- name resolution ----
    // What the translator sees of the session.
    translate::CompileContext& compileContext() { return compileContext_; }
    // The database a name designates ("" = the current one); attaches it. Throws 911 when missing.
    DatabaseHandle database(const std::string& name);
    // Resolves [db.][schema.]table; throws 208 when it does not exist (unless `required` is false,
    // then table is null).
    TableHandle table(const sql::QualifiedName& name, bool required = true);
    // The database part and object part of a name ("db.dbo.t" -> "db", "t").
    static std::pair<std::string, std::string> splitName(const sql::QualifiedName& name);

    // A catalog view (INFORMATION_SCHEMA.COLUMNS, sys.indexes, ...) of the database the name designates,
    // filled for the running statement; nullopt when the name is none.
    std::optional<TableHandle> catalogView(const sql::QualifiedName& name);
    // Drops the catalog views the last statement filled.
    void dropCatalogViews();
    std::vector<std::shared_ptr<storage::TableInfo>> catalogViewTables;  // filled for the running statement

    // The server's error for a row that a key or unique index refuses, from SQLite's message. Given the
    // refused statement and its target table, the statement runs again into a copy of the table that has
    // no keys, inside the failing statement's savepoint, to find the duplicate value the message names.
    EngineError duplicateKeyError(const std::string& storageMessage, const std::string* statement = nullptr,
                                  const TableHandle* target = nullptr, bool updates = false);
    std::optional<std::string> probeDuplicate(const std::string& statement, const TableHandle& target,
                                              const std::vector<int>& columnIds, bool updates);
    // Compiles the batch's statements without running them, so that a column missing from an existing
    // table (207) is found before any statement of the batch runs; other errors are left for the
    // statement's turn.
    std::optional<StatementOutcome> compileBatch(const std::vector<sql::StatementPtr>& statements);
    // CREATE DATABASE ... FOR ATTACH: registers an existing data file of the engine under the name.
    void attachExisting(const std::string& name, const std::string& dataFile, const std::string& logFile,
                        const std::string& dataName, const std::string& logName);
    // Rewrites the record of master's databases kept beside it (inside the statement that changed the
    // list, under master's write lock).
    void recordDatabases();
    // Removes a database's registration, ignoring errors (cleaning up after a failed CREATE DATABASE).
    void unregisterQuietly(const std::string& name);
    // Set when a key or index that a CREATE TABLE or ALTER TABLE declares is refused (the server then
    // adds 1750).
    bool constraintRefused = false;
    void addFollowingErrors(StatementOutcome& out);
    // SQLite's own report of a refused duplicate (not yet one of the server's messages).
    static bool isStorageDuplicate(const EngineError& e);

    // Re-reads the catalog of a database after this session changed it, and tells other sessions.
    void catalogChanged(const DatabaseHandle& database) { attached.catalogChanged(database); }

    // ---- executors (exec/*.cpp) ----
    void execSelect(const sql::SelectStatement& s, StatementOutcome& out);
    void execInsert(const sql::InsertStatement& s, StatementOutcome& out);
    void execUpdate(const sql::UpdateStatement& s, StatementOutcome& out);
    void execDelete(const sql::DeleteStatement& s, StatementOutcome& out);
    void execTruncate(const sql::TruncateStatement& s, StatementOutcome& out);
    void execCreateTable(const sql::CreateTableStatement& s, StatementOutcome& out);
    void execAlterTable(const sql::AlterTableStatement& s, StatementOutcome& out);
    void execDropTable(const sql::DropTableStatement& s, StatementOutcome& out);
    void execCreateDatabase(const sql::CreateDatabaseStatement& s, StatementOutcome& out);
    void execDropDatabase(const sql::DropDatabaseStatement& s, StatementOutcome& out);
    void execCreateIndex(const sql::CreateIndexStatement& s, StatementOutcome& out);
    void execDropIndex(const sql::DropIndexStatement& s, StatementOutcome& out);
    void execCreateView(const sql::CreateViewStatement& s, std::string_view batch, StatementOutcome& out);
    void execDropView(const sql::DropViewStatement& s, StatementOutcome& out);
    void execIf(const sql::IfStatement& s, std::string_view batch, StatementOutcome& out);
    void execTransaction(const sql::TransactionStatement& s, StatementOutcome& out);
    void execSetIdentityInsert(const sql::SetIdentityInsertStatement& s, StatementOutcome& out);
    void execSetOption(const sql::SetOptionStatement& s, StatementOutcome& out);
    void execExecute(const sql::ExecuteStatement& s, StatementOutcome& out);
    // Runs a system procedure; returns its return status.
    int runProcedure(const sql::ExecuteStatement& s, StatementOutcome& out);
    void execUse(const sql::UseStatement& s, StatementOutcome& out);
    void execDeclare(const sql::DeclareStatement& s, StatementOutcome& out);
    void execSetVariable(const sql::SetVariableStatement& s, StatementOutcome& out);
    void execLogin(const sql::LoginStatement& s, StatementOutcome& out);

    // ---- logins (exec/Logins.cpp) ----
    // Checks the session's login as `how` says (master attached); throws 18456 with the reason.
    void signIn(const ConnectOptions& options, SignIn how);
    // A password as written: a text literal or a variable's value.
    std::string passwordText(const sql::Expr& e);
    // sa and the program's own sessions (no login) create, alter and drop logins.
    bool mayManageLogins() const { return login.empty() || loginPrincipalId == storage::kSaPrincipalId; }
    std::string login;  // the session's login; empty in-process
    std::int64_t loginPrincipalId = 0;
    std::string loginDefaultDatabase;

    // ---- local variables (exec/Variables.cpp) ----
    using BatchVariable = engine::BatchVariable;
    // Declares every variable of the batch (NULL until assigned); throws 134, 2715 or 2739.
    void declareBatchVariables(const std::vector<sql::StatementPtr>& statements);
    // The variable a name written at `usedAt` designates; throws 137 when none is declared before it.
    BatchVariable& variable(const std::string& name, std::size_t usedAt);
    void assignVariable(BatchVariable& target, const sql::Expr& value);
    void setVariable(BatchVariable& target, const Cell& value, const SqlType& type);

    // ---- application locks (exec/AppLocks.cpp) ----
    // sp_getapplock and sp_releaseapplock: their return status (errors are thrown as ProcedureError).
    int getAppLock(const sql::ExecuteStatement& s);
    int releaseAppLock(const sql::ExecuteStatement& s);

    // Evaluates a condition (IF) or a constant expression with no FROM clause.
    bool evaluateCondition(const sql::Expr& condition);

    // Runs `body` atomically: inside a savepoint that is rolled back when it throws.
    template <typename F>
    void atomically(F&& body);

    // The same, reporting a refused duplicate with the name of the key or index.
    template <typename F>
    void atomicallyNamingKeys(F&& body) {
        try {
            atomically(std::forward<F>(body));
        } catch (const EngineError& e) {
            if (isStorageDuplicate(e)) throw duplicateKeyError(e.what());
            throw;
        }
    }

    // Runs a translated statement that changes rows, atomically, and counts the rows it changed.
    // An UPDATE names its target, so that a refused duplicate can be reported with its value.
    void runChanging(const std::string& sqliteStatement, StatementOutcome& out, const TableHandle* updated = nullptr);

    // Runs a compiled SELECT and collects its rows as values of the given types.
    ResultSet collect(const std::string& sqliteSelect, const std::vector<ResultColumn>& columns,
                      bool withRowIds);

    // The table's current identity value. After rows with explicit values were written it is moved
    // past the largest value in the column first: that scan is done once, when a value is needed,
    // not by every copy.
    std::int64_t currentIdentity(const TableHandle& t);
    // IDENT_CURRENT: the last value handed out, or the seed when none has been.
    std::int64_t identCurrent(const TableHandle& t);
    // @@IDENTITY: the last identity value this session inserted.
    std::optional<std::int64_t> lastInsertedIdentity();

    // The state a statement may read.
    InstanceLocation instance;
    std::unique_ptr<storage::Connection> db;
    // The databases attached to `db`, and the write locks the session holds on them.
    storage::AttachedDatabases attached{*db};
    exec::WriteLocks writeLocks{*db, attached};
    storage::FunctionContext functions;
    std::string currentDatabase;
    std::string user;

    struct IdentityInsert {
        std::int64_t dbid = 0;
        std::int64_t objectId = 0;
        std::string displayName;
    };
    std::optional<IdentityInsert> identityInsert;
    std::optional<std::int64_t> lastIdentity;
    // The table whose explicit identity values were inserted last, when @@IDENTITY is still to be read
    // from it.
    std::optional<TableHandle> lastIdentityTable;
    int transactionDepth = 0;  // @@TRANCOUNT
    // SET LANGUAGE, SET DATEFORMAT and SET DATEFIRST: how text converts to dates, and the names and
    // week days of DATENAME and DATEPART.
    const storage::Language* language = &storage::defaultLanguage();
    DateOrder dateOrder = DateOrder::MDY;
    int dateFirst = 7;

    // SET LOCK_TIMEOUT in milliseconds (-1: wait as long as it takes).
    int lockTimeout = -1;

    // Ends the transaction that a deadlock chose as victim.
    void abandonTransaction();
    // DROP DATABASE: true when no other session (of this process or another) has the database as its
    // current one.
    bool databaseUnused(std::int64_t dbid);

    // Forgets which databases the last statement used; each statement starts afresh.
    void unpinAll() { attached.unpinAll(); }

private:
    std::map<std::string, BatchVariable> variables_;  // by upper-case name
    SessionCompileContext compileContext_{*this};
    // The session's locks in the instance's lock file. While a database is current the session holds
    // a shared lock on the byte of its dbid, so DROP DATABASE in any session or process sees it in use.
    storage::LockFile locks_;
    std::int64_t currentDatabaseMark_ = 0;
    // Application locks the session holds (sp_getapplock), by database, principal and resource.
    struct AppLock {
        std::int64_t offset = 0;  // its two bytes in the lock file
        int mode = 0;             // the strongest mode requested (see exec/AppLocks.cpp)
        int count = 0;            // requests not yet released
    };
    std::map<std::string, AppLock> appLocks_;

public:
    // Makes `name` (attached, with id `dbid`) the session's current database.
    void setCurrentDatabase(const std::string& name, std::int64_t dbid);
};

// An error of a system procedure that also gives the procedure's return status (EXEC @status = ...).
class ProcedureError : public EngineError {
public:
    ProcedureError(int status, int number, const std::string& message)
        : EngineError(number, message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

template <typename F>
void Session::Impl::atomically(F&& body) {
    if (!db->inTransaction()) {
        // Outside a transaction the statement is a write transaction of its own, which takes the write
        // locks of its databases before it reads anything (identity values read under the lock are
        // never handed out twice).
        db->exec("BEGIN");
        try {
            writeLocks.lockUsed();
            body();
            db->exec("COMMIT");
        } catch (...) {
            try {
                if (db->inTransaction()) db->exec("ROLLBACK");
            } catch (...) {
            }
            writeLocks.release();
            throw;
        }
        writeLocks.release();
        return;
    }
    db->inSavepoint("vopa_statement", [&] {
        writeLocks.lockUsed();
        body();
        // Inside BEGIN TRANSACTION the pages reach the file now, so a full disk fails this statement
        // (which is then undone) rather than the COMMIT.
        db->flushCache();
    });
}

}  // namespace vopa::engine
