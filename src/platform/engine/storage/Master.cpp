#include "Master.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "Catalog.h"
#include "Sqlite.h"
#include "platform/engine/EngineError.h"
#include "platform/value/Value.h"

namespace vopa::engine::storage {
namespace {

ColumnInfo column(int id, const char* name, SqlType type, bool nullable) {
    ColumnInfo c;
    c.id = id;
    c.name = name;
    c.type = type;
    c.nullable = nullable;
    return c;
}

SqlType nvarchar(int n) { return SqlType::nvarchar(n); }

TableInfo sysdatabases(std::int64_t objectId) {
    TableInfo t;
    t.objectId = objectId;
    t.name = "sysdatabases";
    t.type = TableInfo::Type::System;
    t.columns = {column(1, "name", nvarchar(128), false),
                 column(2, "dbid", SqlType::of(BaseType::SmallInt), false),
                 column(3, "sid", SqlType::fromName("varbinary", 85, -1, -1), true),
                 column(4, "mode", SqlType::of(BaseType::SmallInt), true),
                 column(5, "status", SqlType::of(BaseType::Int), true),
                 column(6, "status2", SqlType::of(BaseType::Int), true),
                 column(7, "crdate", SqlType::of(BaseType::DateTime), false),
                 column(8, "reserved", SqlType::of(BaseType::DateTime), true),
                 column(9, "category", SqlType::of(BaseType::Int), true),
                 column(10, "cmptlevel", SqlType::of(BaseType::TinyInt), false),
                 column(11, "filename", nvarchar(260), true),
                 column(12, "version", SqlType::of(BaseType::SmallInt), true)};
    return t;
}

TableInfo sysaltfiles(std::int64_t objectId) {
    TableInfo t;
    t.objectId = objectId;
    t.name = "sysaltfiles";
    t.type = TableInfo::Type::System;
    t.columns = {column(1, "fileid", SqlType::of(BaseType::SmallInt), false),
                 column(2, "groupid", SqlType::of(BaseType::SmallInt), false),
                 column(3, "size", SqlType::of(BaseType::Int), false),
                 column(4, "maxsize", SqlType::of(BaseType::Int), false),
                 column(5, "growth", SqlType::of(BaseType::Int), false),
                 column(6, "status", SqlType::of(BaseType::Int), false),
                 column(7, "perf", SqlType::of(BaseType::Int), false),
                 column(8, "dbid", SqlType::of(BaseType::SmallInt), false),
                 column(9, "name", nvarchar(128), false),
                 column(10, "filename", nvarchar(260), false)};
    return t;
}

// Object ids of the two system tables in every master database.
constexpr std::int64_t kSysDatabases = 1;
constexpr std::int64_t kSysAltFiles = 2;

std::string table(const std::string& schema, std::int64_t objectId) {
    return quoteIdentifier(schema) + ".t" + std::to_string(objectId);
}

DatabaseEntry readEntry(Statement& q) {
    DatabaseEntry e;
    e.dbid = q.columnInt(0);
    e.name = q.columnText(1);
    e.dataFile = q.columnText(2);
    e.logFile = q.columnText(3);
    return e;
}

std::string selectEntries(const std::string& schema) {
    return "SELECT d.c2, d.c1, d.c11, (SELECT f.c10 FROM " + table(schema, kSysAltFiles) +
           " f WHERE f.c8 = d.c2 AND f.c1 = 2) FROM " + table(schema, kSysDatabases) + " d";
}

// Fields of the record: "%", tab and line ends written as %25, %09, %0D, %0A, so that any name fits
// on its line.
std::string escapeField(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '%': out += "%25"; break;
            case '\t': out += "%09"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string unescapeField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string code = s.substr(i + 1, 2);
            const char c = code == "25" ? '%' : code == "09" ? '\t' : code == "0D" ? '\r' : code == "0A" ? '\n' : '\0';
            if (c != '\0') {
                out.push_back(c);
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

[[noreturn]] void recordFailed(const std::filesystem::path& file, const char* action, int error) {
    throw EngineError(err::OperatingSystemError, "The operating system returned the error '" +
                                                     std::string(std::strerror(error)) + "' while attempting '" +
                                                     action + "' on '" + file.string() + "'.");
}

constexpr const char* kRecordHeader = "# The databases of master.mdf (name, tab, data file), kept by the engine";

}  // namespace

void writeDatabaseRecord(const std::filesystem::path& file, const std::vector<DatabaseEntry>& databases) {
    std::string text = std::string(kRecordHeader) + "\n";
    for (const DatabaseEntry& d : databases)
        if (d.dbid != 1) text += escapeField(d.name) + "\t" + escapeField(d.dataFile) + "\n";
    // A name of this process's own: another process writes its own new file (under master's write
    // lock, so never at the same time).
    const std::filesystem::path temporary = file.string() + "." + std::to_string(::getpid()) + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) recordFailed(temporary, "open", errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            recordFailed(temporary, "write", error);
        }
        done += static_cast<std::size_t>(n);
    }
    // On the disk before it takes the old record's place: a crash leaves the old record or the new one.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        recordFailed(temporary, "write", error);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        recordFailed(file, "rename", error);
    }
}

std::vector<DatabaseEntry> readDatabaseRecord(const std::filesystem::path& file) {
    std::vector<DatabaseEntry> databases;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        DatabaseEntry d;
        d.name = unescapeField(line.substr(0, tab));
        d.dataFile = unescapeField(line.substr(tab + 1));
        databases.push_back(std::move(d));
    }
    return databases;
}

void initialiseMaster(Connection& db, const std::string& schema, const std::string& masterFileWindows) {
    initialiseDatabase(db, schema, "master");
    createTable(db, schema, sysdatabases(kSysDatabases));
    createTable(db, schema, sysaltfiles(kSysAltFiles));
    DatabaseEntry master{1, "master", masterFileWindows, ""};
    std::string log = masterFileWindows.substr(0, masterFileWindows.size() - 4) + "log.ldf";
    master.logFile = log;
    Statement put = db.prepare("INSERT INTO " + table(schema, kSysDatabases) +
                               "(c1, c2, c4, c5, c7, c10, c11, c12) VALUES ('master', 1, 0, 24, ?1, 80, ?2, 539)");
    put.bind(1, DateTime::fromParts(2000, 1, 1).millis).bind(2, masterFileWindows).run();
    Statement files = db.prepare("INSERT INTO " + table(schema, kSysAltFiles) +
                                 "(c1, c2, c3, c4, c5, c6, c7, c8, c9, c10) VALUES (?1, ?2, 0, -1, 10, 0, 0, 1, ?3, ?4)");
    files.bind(1, std::int64_t{1}).bind(2, std::int64_t{1}).bind(3, std::string("master")).bind(4, masterFileWindows).run();
    files.reset();
    files.bind(1, std::int64_t{2}).bind(2, std::int64_t{0}).bind(3, std::string("mastlog")).bind(4, log).run();
}

std::optional<DatabaseEntry> findDatabase(Connection& db, const std::string& schema, const std::string& name) {
    Statement q = db.prepare(selectEntries(schema) + " WHERE d.c1 = ?1 COLLATE VOPA_CI");
    q.bind(1, name);
    if (!q.step()) return std::nullopt;
    return readEntry(q);
}

std::optional<DatabaseEntry> findDatabaseById(Connection& db, const std::string& schema, std::int64_t dbid) {
    Statement q = db.prepare(selectEntries(schema) + " WHERE d.c2 = ?1");
    q.bind(1, dbid);
    if (!q.step()) return std::nullopt;
    return readEntry(q);
}

std::vector<DatabaseEntry> listDatabases(Connection& db, const std::string& schema) {
    Statement q = db.prepare(selectEntries(schema) + " ORDER BY d.c2");
    std::vector<DatabaseEntry> result;
    while (q.step()) result.push_back(readEntry(q));
    return result;
}

std::int64_t registerDatabase(Connection& db, const std::string& schema, const DatabaseEntry& entry,
                              const std::string& dataLogicalName, const std::string& logLogicalName) {
    std::int64_t dbid = 5;  // 2 to 4 are the server's own system databases
    {
        Statement q = db.prepare("SELECT max(c2) FROM " + table(schema, kSysDatabases));
        if (q.step() && !q.columnIsNull(0)) dbid = std::max<std::int64_t>(dbid, q.columnInt(0) + 1);
    }
    const std::int64_t now = DateTime::fromParts(1970, 1, 1).millis + static_cast<std::int64_t>(time(nullptr)) * 1000;
    Statement put = db.prepare("INSERT INTO " + table(schema, kSysDatabases) +
                               "(c1, c2, c4, c5, c6, c7, c10, c11, c12) VALUES (?1, ?2, 0, 16, 1090519040, ?3, 80, ?4, 539)");
    put.bind(1, entry.name).bind(2, dbid).bind(3, now).bind(4, entry.dataFile).run();
    Statement files = db.prepare("INSERT INTO " + table(schema, kSysAltFiles) +
                                 "(c1, c2, c3, c4, c5, c6, c7, c8, c9, c10) VALUES (?1, ?2, 0, -1, 10, 0, 0, ?3, ?4, ?5)");
    files.bind(1, std::int64_t{1}).bind(2, std::int64_t{1}).bind(3, dbid).bind(4, dataLogicalName).bind(5, entry.dataFile).run();
    files.reset();
    files.bind(1, std::int64_t{2}).bind(2, std::int64_t{0}).bind(3, dbid).bind(4, logLogicalName).bind(5, entry.logFile).run();
    return dbid;
}

void unregisterDatabase(Connection& db, const std::string& schema, std::int64_t dbid) {
    Statement d = db.prepare("DELETE FROM " + table(schema, kSysDatabases) + " WHERE c2 = ?1");
    d.bind(1, dbid).run();
    Statement f = db.prepare("DELETE FROM " + table(schema, kSysAltFiles) + " WHERE c8 = ?1");
    f.bind(1, dbid).run();
}

}  // namespace vopa::engine::storage
