// CREATE DATABASE and DROP DATABASE: the database's files on drive C: and its row in master.

#include <system_error>

#include "platform/engine/SessionImpl.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "platform/engine/storage/Functions.h"
#include "platform/engine/storage/Catalog.h"
#include "platform/engine/storage/Master.h"

namespace vopa::engine {
namespace {

namespace fs = std::filesystem;

// "C:\x.mdf", "\x.mdf": a path from a drive's root; anything else is relative to the data folder.
bool isRooted(const std::string& windowsPath) {
    return (windowsPath.size() >= 2 && windowsPath[1] == ':') ||
           (!windowsPath.empty() && (windowsPath[0] == '\\' || windowsPath[0] == '/'));
}

// A database name becomes a file name only when no FILENAME is given; then it may hold none of the
// characters a Windows file name cannot, so that a name never places a file by a path.
bool usableAsFileName(const std::string& name) {
    for (unsigned char c : name)
        if (c < 32 || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) return false;
    return true;
}

void removeDatabaseFiles(const fs::path& data, const fs::path& log) {
    std::error_code ec;
    for (const fs::path& p : {data, fs::path(data.string() + "-wal"), fs::path(data.string() + "-shm"), log})
        if (!p.empty()) fs::remove(p, ec);
}

}  // namespace

void Session::Impl::execCreateDatabase(const sql::CreateDatabaseStatement& s, StatementOutcome&) {
    if (transactionDepth > 0)
        throw EngineError(err::NotInTransaction,
                          "CREATE DATABASE statement not allowed within multi-statement transaction.");
    if (text::equalsNoCase(s.name, "master") || storage::findDatabase(*db, "d1", s.name))
        throw EngineError(err::DatabaseExists, "Database '" + s.name + "' already exists. Choose a different database name.");

    // Relative file names land in the instance's data folder, the server's own directory.
    auto place = [&](const std::string& given, const std::string& fallback) {
        if (given.empty() && !usableAsFileName(s.name))
            throw EngineError(err::FileActivation,
                              "A file activation error occurred. The physical file name '" + fallback +
                                  "' may be incorrect. Diagnose and correct additional errors, and retry the "
                                  "operation.");
        std::string name = given.empty() ? fallback : given;
        return isRooted(name) ? name : instance.dataFolderWindows + "\\" + name;
    };
    const std::string dataFile = place(s.dataFiles.empty() ? "" : s.dataFiles[0].fileName, s.name + ".mdf");
    const std::string logFile = place(s.logFiles.empty() ? "" : s.logFiles[0].fileName, s.name + "_log.ldf");
    const std::string dataName = s.dataFiles.empty() || s.dataFiles[0].name.empty() ? s.name : s.dataFiles[0].name;
    const std::string logName = s.logFiles.empty() || s.logFiles[0].name.empty() ? s.name + "_log" : s.logFiles[0].name;

    const fs::path data = files::mapPath(dataFile), log = files::mapPath(logFile);
    if (s.forAttach) return attachExisting(s.name, dataFile, logFile, dataName, logName);
    // One file cannot be both: the server creates the data file and then finds the log file taken.
    if (text::equalsNoCase(data.lexically_normal().string(), log.lexically_normal().string()))
        throw EngineError(
            err::FileExists,
            "Cannot create file '" + logFile +
                "' because it already exists. Change the file path or the file name, and retry the operation.");
    for (const auto& [windows, mapped] : {std::pair{dataFile, data}, std::pair{logFile, log}}) {
        std::error_code ec;
        if (!fs::is_directory(mapped.parent_path(), ec))
            throw EngineError(
                err::DirectoryLookupFailed,
                "Directory lookup for the file \"" + windows +
                    "\" failed with the operating system error 3(The system cannot find the path specified.).");
        if (fs::exists(mapped, ec))
            throw EngineError(
                err::FileExists,
                "Cannot create file '" + windows +
                    "' because it already exists. Change the file path or the file name, and retry the operation.");
    }
    // The file is made under a name of its own, registered, and only then given its name: a crash before
    // the registration leaves only that scratch file (removed by the next attempt), a crash after it a
    // registered database whose DROP DATABASE succeeds. No file ever sits unregistered under the name.
    const fs::path scratch = data.string() + ".new";
    removeDatabaseFiles(scratch, fs::path());
    bool registered = false;
    try {
        {
            storage::Connection created(scratch.string(), true);
            storage::registerCollation(created.handle());
            created.execPrivileged("PRAGMA journal_mode=WAL");
            created.exec("BEGIN");
            storage::initialiseDatabase(created, "main", s.name);
            created.exec("COMMIT");
        }
        database("master");  // the list of databases is written under master's write lock
        atomically([&] {
            storage::registerDatabase(*db, "d1", {0, s.name, dataFile, logFile}, dataName, logName);
            recordDatabases();
        });
        registered = true;
        std::error_code ec;
        fs::rename(scratch, data, ec);
        if (ec) throw files::FileError(5, "cannot rename '" + scratch.string() + "': " + ec.message());
        files::writeTextFile(logFile, "");
    } catch (const files::FileError& e) {
        if (registered) unregisterQuietly(s.name);
        removeDatabaseFiles(scratch, fs::path());
        removeDatabaseFiles(data, log);
        throw EngineError(err::CreateFileFailed,
                          "CREATE FILE encountered operating system error while attempting to open or create the "
                          "physical file '" +
                              logFile + "': " + e.what());
    } catch (...) {
        if (registered) unregisterQuietly(s.name);
        removeDatabaseFiles(scratch, fs::path());
        removeDatabaseFiles(data, log);
        throw;
    }
}

void Session::Impl::attachExisting(const std::string& name, const std::string& dataFile, const std::string& logFile,
                                   const std::string& dataName, const std::string& logName) {
    const fs::path data = files::mapPath(dataFile);
    std::error_code ec;
    if (!fs::is_regular_file(data, ec))
        throw EngineError(err::PhysicalFileMissing,
                          "Unable to open the physical file \"" + dataFile +
                              "\". Operating system error 2: \"2(The system cannot find the file specified.)\".");
    database("master");
    for (const storage::DatabaseEntry& other : storage::listDatabases(*db, "d1"))
        if (text::equalsNoCase(files::mapPath(other.dataFile).lexically_normal().string(), data.lexically_normal().string()))
            throw EngineError(err::FileInUse, "The file '" + dataFile +
                                                  "' cannot be overwritten.  It is being used by database '" +
                                                  other.name + "'.");
    if (fs::file_size(data, ec) == 0 && !ec)
        throw EngineError(err::InvalidFileHeader,
                          "The header for file '" + dataFile +
                              "' is not a valid database file header. The FILE SIZE property is incorrect.");
    {
        // The file must be a database of this engine; it takes the name it is attached under.
        storage::Connection file(data.string(), false);
        storage::registerCollation(file.handle());
        file.exec("BEGIN IMMEDIATE");
        try {
            storage::Statement q = file.prepare("SELECT 1 FROM sqlite_master WHERE name = '__vopa_objects'");
            if (!q.step())
                throw EngineError(err::InvalidFileHeader,
                                  "The header for file '" + dataFile + "' is not a valid database file header.");
            storage::Statement put = file.prepare("INSERT OR REPLACE INTO __vopa_info(key, value) VALUES ('name', ?1)");
            put.bind(1, name).run();
            storage::markCollationOrder(file, "main");
            file.exec("COMMIT");
        } catch (...) {
            file.exec("ROLLBACK");
            throw;
        }
    }
    atomically([&] {
        storage::registerDatabase(*db, "d1", {0, name, dataFile, logFile}, dataName, logName);
        recordDatabases();
    });
    if (!fs::exists(files::mapPath(logFile), ec)) files::writeTextFile(logFile, "");
}

void Session::Impl::recordDatabases() {
    storage::writeDatabaseRecord(instance.databaseRecord, storage::listDatabases(*db, "d1"));
}

void Session::Impl::unregisterQuietly(const std::string& name) {
    try {
        if (std::optional<storage::DatabaseEntry> entry = storage::findDatabase(*db, "d1", name))
            atomically([&] {
                storage::unregisterDatabase(*db, "d1", entry->dbid);
                recordDatabases();
            });
    } catch (const std::exception&) {
    }
}

void Session::Impl::execDropDatabase(const sql::DropDatabaseStatement& s, StatementOutcome&) {
    if (transactionDepth > 0)
        throw EngineError(err::NotInTransaction,
                          "DROP DATABASE statement not allowed within multi-statement transaction.");
    for (const std::string& name : s.names) {
        if (text::equalsNoCase(name, "master") || text::equalsNoCase(name, "tempdb") ||
            text::equalsNoCase(name, "model") || text::equalsNoCase(name, "msdb"))
            throw EngineError(err::DropSystemDatabase,
                              "Cannot drop the database '" + name + "' because it is a system database.");
        std::optional<storage::DatabaseEntry> entry = storage::findDatabase(*db, "d1", name);
        if (!entry) {
            if (s.ifExists) continue;
            throw EngineError(
                err::CannotDropMissing,
                "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.");
        }
        // In use: this session's current database, or another session's (in this or another process).
        if (text::equalsNoCase(entry->name, currentDatabase) || !databaseUnused(entry->dbid))
            throw EngineError(err::DatabaseInUse,
                              "Cannot drop database \"" + entry->name + "\" because it is currently in use.");
        attached.detach(entry->dbid);
        // The files go first, the registration last: a crash in between leaves a registered database
        // without files, which a second DROP DATABASE removes; a file that cannot be deleted keeps the
        // database registered and is reported.
        const fs::path data = files::mapPath(entry->dataFile);
        for (const fs::path& p : {data, fs::path(data.string() + "-wal"), fs::path(data.string() + "-shm"),
                                  entry->logFile.empty() ? fs::path() : files::mapPath(entry->logFile)}) {
            std::error_code ec;
            if (!p.empty() && !fs::remove(p, ec) && ec)
                throw EngineError(err::FileNotDeleted,
                                  "The file '" + p.string() + "' of database '" + entry->name +
                                      "' cannot be deleted (" + ec.message() +
                                      "). The database stays registered; remove the cause and drop it again.");
        }
        database("master");
        atomically([&] {
            storage::unregisterDatabase(*db, "d1", entry->dbid);
            recordDatabases();
        });
    }
}

}  // namespace vopa::engine
