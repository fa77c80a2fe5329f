#pragma once
// A thin RAII layer over the SQLite C API, used by the engine's storage code. SQLite failures become
// EngineErrors: a busy database is the server's lock time-out (1222), anything else names SQLite's
// message.
//
// Every text handed to SQLite is exactly one statement (prepare refuses a tail), and an authorizer on
// every connection refuses ATTACH, DETACH, PRAGMA and any function the translator never emits, unless
// the engine itself runs the statement through the privileged calls. A translator fault therefore
// fails closed instead of letting T-SQL text run as SQLite statements.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vopa::engine::storage {

class Statement;

class Connection {
public:
    // Opens (creating when `create`) the file; throws EngineError when it cannot.
    Connection(const std::string& path, bool create);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return db_; }
    // Runs one statement (no result rows expected).
    void exec(std::string_view sql);
    // Prepares one statement; a second statement in the text is an internal error.
    Statement prepare(std::string_view sql);
    // The same for the engine's own ATTACH, DETACH and PRAGMA statements on databases it has resolved.
    void execPrivileged(std::string_view sql);
    Statement preparePrivileged(std::string_view sql);
    // How long a statement waits for another connection's lock, in milliseconds: -1 waits as long as
    // it takes (the server's default), 0 not at all (SET LOCK_TIMEOUT). Past it the statement fails
    // with 1222.
    void setLockTimeout(int milliseconds) { lockTimeout_ = milliseconds; }
    int lockTimeout() const { return lockTimeout_; }
    // Set while the connection holds write locks that another connection may be waiting for. A wait
    // that lasts longer than the deadlock interval then ends with 1205 (the deadlock victim) instead
    // of waiting for ever: two connections that each wait for the other's lock can never both go on.
    void setHoldingLocks(bool holding) { holdingLocks_ = holding; }
    bool holdingLocks() const { return holdingLocks_; }
    std::int64_t changes() const;
    // Called from another thread (the network server's, on a client's cancel): the statement running on
    // this connection, or waiting for a lock, stops with 3617, and interrupted() stays true until
    // clearInterrupt(). Statements that start later run normally: the caller stops between statements.
    void interrupt();
    void clearInterrupt() { interrupted_ = false; }
    bool interrupted() const { return interrupted_; }
    // Runs `body` inside the savepoint `name`: kept when it returns, rolled back when it throws.
    template <typename F>
    void inSavepoint(const std::string& name, F&& body) {
        exec("SAVEPOINT " + name);
        try {
            body();
        } catch (...) {
            try {
                exec("ROLLBACK TO " + name);
                exec("RELEASE " + name);
            } catch (...) {
            }
            throw;
        }
        exec("RELEASE " + name);
    }
    // Writes the transaction's changed pages to the file now (not only at COMMIT), so that a full disk
    // is reported by the statement that filled it (1105).
    void flushCache();
    std::int64_t lastInsertRowId() const;
    bool inTransaction() const;
    bool privileged() const { return privileged_; }

    // Throws the EngineError for SQLite result `rc` (after the engine's own pending error, if any).
    [[noreturn]] void fail(int rc, std::string_view context = {}) const;

private:
    friend class Statement;
    sqlite3* db_ = nullptr;
    bool privileged_ = false;  // set only while the engine's own privileged statement is prepared or run
    int lockTimeout_ = 30'000;
    bool holdingLocks_ = false;
    std::atomic<bool> interrupted_{false};
    std::int64_t waitStarted_ = 0;   // steady clock, ms: when the current wait for a lock began
    std::int64_t deadlockAfter_ = 0;  // ms of waiting after which a connection holding locks gives up

    static int busyHandler(void* connection, int attempt);

    Statement prepareStatement(std::string_view sql, bool privileged);
};

class Statement {
public:
    Statement(Connection& connection, sqlite3_stmt* stmt, bool privileged = false)
        : connection_(&connection), stmt_(stmt), privileged_(privileged) {}
    ~Statement();
    Statement(Statement&& other) noexcept
        : connection_(other.connection_), stmt_(other.stmt_), privileged_(other.privileged_) {
        other.stmt_ = nullptr;
    }
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;

    Statement& bind(int index, std::int64_t v);
    Statement& bind(int index, double v);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bindNull(int index);

    // Advances to the next row; false at the end. Throws on failure.
    bool step();
    void reset();
    void run() {
        while (step()) {
        }
    }

    int columnCount() const;
    int columnType(int i) const;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
    std::int64_t columnInt(int i) const;
    double columnDouble(int i) const;
    std::string columnText(int i) const;
    bool columnIsNull(int i) const;
    sqlite3_stmt* handle() const { return stmt_; }

private:
    Connection* connection_;
    sqlite3_stmt* stmt_;
    bool privileged_;  // SQLite may prepare the statement again while stepping (schema change)
};

// An error raised inside a SQL function the engine registered; the statement's failure then reports it
// instead of SQLite's generic message. One per thread: SQLite runs the function on the caller's thread.
void setPendingError(int number, const std::string& message, int severity = 16, int state = 1);

// "name" with embedded quotes doubled, for SQLite identifiers.
std::string quoteIdentifier(std::string_view name);
// The one way a text literal enters SQLite text: 'text' with embedded quotes doubled; a text holding a
// NUL character (which would end SQLite's reading of the statement) is written as a cast blob.
std::string quoteLiteral(std::string_view text);

// True for the SQL functions the engine's SQLite text may call (its own and SQLite's built-ins it uses).
bool isAllowedFunction(std::string_view name);

}  // namespace vopa::engine::storage
