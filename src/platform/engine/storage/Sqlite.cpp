#include "Sqlite.h"

#include <cerrno>

#include <sqlite3.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <random>
#include <thread>
#include <cctype>
#include <cstdlib>
#include <limits>

#include "platform/engine/EngineError.h"

namespace vopa::engine::storage {
namespace {

// VOPA_ENGINE_TRACE=1 prints every SQLite statement the engine prepares, for debugging translations,
// with the milliseconds since the previous one (which is how long the previous one took, roughly).
void trace(std::string_view sql) {
    static const bool enabled = std::getenv("VOPA_ENGINE_TRACE") != nullptr;
    if (!enabled) return;
    static thread_local auto previous = std::chrono::steady_clock::now();
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - previous).count();
    previous = now;
    std::fprintf(stderr, "sqlite> [+%lld ms] %.*s\n", static_cast<long long>(ms), static_cast<int>(sql.size()), sql.data());
}

int authorize(void* user, int action, const char* a, const char* b, const char*, const char*) {
    const auto* connection = static_cast<const Connection*>(user);
    switch (action) {
        case SQLITE_ATTACH:
        case SQLITE_DETACH:
        case SQLITE_PRAGMA: return connection->privileged() ? SQLITE_OK : SQLITE_DENY;
        case SQLITE_FUNCTION: return isAllowedFunction(b ? b : "") ? SQLITE_OK : SQLITE_DENY;
        default: (void)a; return SQLITE_OK;
    }
}

bool onlyBlanks(const char* p, const char* end) {
    for (; p < end; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
    return true;
}

struct PendingError {
    bool set = false;
    int number = 0;
    std::string message;
    int severity = 16;
    int state = 1;
};
thread_local PendingError pending;

}  // namespace

void setPendingError(int number, const std::string& message, int severity, int state) {
    pending = {true, number, message, severity, state};
}

Connection::Connection(const std::string& path, bool create) {
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(err::PhysicalFileMissing,
                          "Unable to open the physical file \"" + path + "\": " + message + ".");
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, busyHandler, this);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_set_authorizer(db_, authorize, this);
}

int Connection::busyHandler(void* self, int attempt) {
    auto* c = static_cast<Connection*>(self);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (attempt == 0) {
        c->waitStarted_ = now;
        // Between two and four seconds, drawn afresh for every wait, so that of two connections waiting
        // for each other one gives up first and the other then goes on.
        static thread_local std::mt19937 random{std::random_device{}()};
        c->deadlockAfter_ = 2000 + static_cast<std::int64_t>(random() % 2000);
    }
    const std::int64_t waited = now - c->waitStarted_;
    if (c->interrupted_) {
        setPendingError(err::Cancelled, "The batch was cancelled by its client.");
        return 0;
    }
    if (c->holdingLocks_ && waited >= c->deadlockAfter_) {
        setPendingError(err::Deadlock,
                        "Transaction (Process ID " + std::to_string(::getpid()) +
                            ") was deadlocked on lock resources with another process and has been chosen as "
                            "the deadlock victim. Rerun the transaction.");
        return 0;
    }
    if (c->lockTimeout_ >= 0 && waited >= c->lockTimeout_) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : attempt < 50 ? 5 : 20));
    return 1;
}

void Connection::interrupt() {
    interrupted_ = true;
    sqlite3_interrupt(db_);
}

Connection::~Connection() {
    if (db_) sqlite3_close_v2(db_);
}

void Connection::exec(std::string_view sql) { prepareStatement(sql, false).run(); }
Statement Connection::prepare(std::string_view sql) { return prepareStatement(sql, false); }
void Connection::execPrivileged(std::string_view sql) { prepareStatement(sql, true).run(); }
Statement Connection::preparePrivileged(std::string_view sql) { return prepareStatement(sql, true); }

Statement Connection::prepareStatement(std::string_view sql, bool privileged) {
    trace(sql);
    if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw EngineError(err::InternalError, "Storage error: statement text too long.");
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    privileged_ = privileged;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail);
    privileged_ = false;
    if (rc != SQLITE_OK) fail(rc);
    Statement statement(*this, stmt, privileged);
    // One text, one statement: anything after the first statement means the text was not built as
    // intended, and is never run.
    if (stmt == nullptr || (tail && !onlyBlanks(tail, sql.data() + sql.size())))
        throw EngineError(err::InternalError, "Storage error: the generated statement is not exactly one statement.");
    return statement;
}

std::int64_t Connection::changes() const { return sqlite3_changes64(db_); }

void Connection::flushCache() {
    errno = 0;
    const int rc = sqlite3_db_cacheflush(db_);
    if (rc == SQLITE_OK || (rc & 0xFF) == SQLITE_BUSY) return;
    // The flush does not record the system error with the connection: errno tells a full disk.
    const int os = errno;
    if ((rc & 0xFF) == SQLITE_FULL || ((rc & 0xFF) == SQLITE_IOERR && (os == ENOSPC || os == EFBIG || os == EDQUOT)))
        throw EngineError(err::DiskFull, "Could not allocate space: the disk is full.");
    fail(rc, sqlite3_errstr(rc));
}
std::int64_t Connection::lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }
bool Connection::inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void Connection::fail(int rc, std::string_view context) const {
    if (pending.set) {
        PendingError e = pending;
        pending = {};
        throw EngineError(e.number, e.message, e.severity, e.state);
    }
    int primary = rc & 0xFF;
    if (primary == SQLITE_INTERRUPT) throw EngineError(err::Cancelled, "The batch was cancelled by its client.");
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw EngineError(err::LockTimeout, "Lock request time out period exceeded.");
    std::string message = context.empty() ? std::string(sqlite3_errmsg(db_)) : std::string(context);
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
        throw EngineError(err::DuplicateKeyConstraint,
                          message);  // the session names the key (see Session's duplicateKeyError)
    if (primary == SQLITE_IOERR) {
        const int os = sqlite3_system_errno(db_);
        if (os == ENOSPC || os == EFBIG || os == EDQUOT) primary = SQLITE_FULL;
    }
    if (primary == SQLITE_FULL)
        throw EngineError(err::DiskFull, "Could not allocate space: the disk is full. " + message);
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        throw EngineError(err::DatabaseFileDamaged,
                          "The database file is damaged or is not a database file: " + message);
    if (primary == SQLITE_READONLY)
        throw EngineError(err::DatabaseReadOnly, "Failed to update database because the database is read-only.");
    // A statement too deep for SQLite's parser or expression tree: the server's own limit message.
    if (message.find("parser stack overflow") != std::string::npos ||
        message.find("Expression tree is too large") != std::string::npos ||
        message.find("too many terms in compound SELECT") != std::string::npos)
        throw EngineError(err::NestedTooDeeply,
                          "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
                          "down into smaller queries.");
    throw EngineError(err::InternalError, "Storage error: " + message);
}

Statement::~Statement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::int64_t v) {
    sqlite3_bind_int64(stmt_, index, v);
    return *this;
}
Statement& Statement::bind(int index, double v) {
    sqlite3_bind_double(stmt_, index, v);
    return *this;
}
Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}
Statement& Statement::bindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
}
Statement& Statement::bindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::step() {
    connection_->privileged_ = privileged_;
    int rc = sqlite3_step(stmt_);
    connection_->privileged_ = false;
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    connection_->fail(rc);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Statement::columnCount() const { return sqlite3_column_count(stmt_); }
int Statement::columnType(int i) const { return sqlite3_column_type(stmt_, i); }
std::int64_t Statement::columnInt(int i) const { return sqlite3_column_int64(stmt_, i); }
double Statement::columnDouble(int i) const { return sqlite3_column_double(stmt_, i); }
std::string Statement::columnText(int i) const {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}
bool Statement::columnIsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

std::string quoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

std::string quoteLiteral(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        static const char* digits = "0123456789ABCDEF";
        std::string hex = "CAST(X'";
        for (unsigned char b : text) {
            hex.push_back(digits[b >> 4]);
            hex.push_back(digits[b & 15]);
        }
        return hex + "' AS TEXT)";
    }
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
    }
    return out + "'";
}

bool isAllowedFunction(std::string_view name) {
    // The engine's own functions (all named vopa_...), the SQLite built-ins the translator and the
    // storage code emit, and those SQLite's own ALTER TABLE runs internally (printf, sqlite_...).
    if (name.size() > 5 && name.substr(0, 5) == "vopa_") return true;
    if (name.size() > 7 && name.substr(0, 7) == "sqlite_") return true;
    static constexpr std::string_view allowed[] = {
        "abs", "avg", "coalesce", "count", "glob", "ifnull", "length", "like", "ltrim", "max", "min", "nullif", "printf",
        "round", "rtrim", "strftime", "substr", "sum",
    };
    for (std::string_view a : allowed)
        if (a.size() == name.size() && std::equal(a.begin(), a.end(), name.begin(), [](char x, char y) {
                return x == static_cast<char>(std::tolower(static_cast<unsigned char>(y)));
            }))
            return true;
    return false;
}

}  // namespace vopa::engine::storage
