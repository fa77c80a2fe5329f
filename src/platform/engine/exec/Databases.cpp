// CREATE DATABASE and DROP DATABASE: the database's files on drive C: and its row in master.

#include <system_error>

#include "platform/engine/SessionImpl.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "platform/engine/storage/Functions.h"
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
        throw EngineError(226, "CREATE DATABASE statement not allowed within multi-statement transaction.");
    if (text::equalsNoCase(s.name, "master") || storage::findDatabase(*db, "d1", s.name))
        throw EngineError(err::DatabaseExists, "Database '" + s.name + "' already exists. Choose a different database name.");

    // Relative file names land in the instance's data folder, the server's own directory.
    auto place = [&](const std::string& given, const std::string& fallback) {
        if (given.empty() && !usableAsFileName(s.name))
            throw EngineError(5105, "A file activation error occurred. The physical file name '" + fallback +
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
    for (const auto& [windows, mapped] : {std::pair{dataFile, data}, std::pair{logFile, log}}) {
        std::error_code ec;
        if (!fs::is_directory(mapped.parent_path(), ec))
            throw EngineError(5133, "Directory lookup for the file \"" + windows +
                                        "\" failed with the operating system error 3(The system cannot find the path specified.).");
        if (fs::exists(mapped, ec))
            throw EngineError(5170, "Cannot create file '" + windows +
                                        "' because it already exists. Change the file path or the file name, and retry the operation.");
    }
    try {
        {
            storage::Connection created(data.string(), true);
            storage::registerCollation(created.handle());
            created.execPrivileged("PRAGMA journal_mode=WAL");
            created.exec("BEGIN");
            storage::initialiseDatabase(created, "main", s.name);
            created.exec("COMMIT");
        }
        files::writeTextFile(logFile, "");
        database("master");  // the list of databases is written under master's write lock
        atomically([&] { storage::registerDatabase(*db, "d1", {0, s.name, dataFile, logFile}, dataName, logName); });
    } catch (const files::FileError& e) {
        removeDatabaseFiles(data, log);
        throw EngineError(5123, "CREATE FILE encountered operating system error while attempting to open or create the "
                                "physical file '" + logFile + "': " + e.what());
    } catch (...) {
        removeDatabaseFiles(data, log);
        throw;
    }
}

void Session::Impl::execDropDatabase(const sql::DropDatabaseStatement& s, StatementOutcome&) {
    if (transactionDepth > 0)
        throw EngineError(226, "DROP DATABASE statement not allowed within multi-statement transaction.");
    for (const std::string& name : s.names) {
        if (text::equalsNoCase(name, "master") || text::equalsNoCase(name, "tempdb") ||
            text::equalsNoCase(name, "model") || text::equalsNoCase(name, "msdb"))
            throw EngineError(3708, "Cannot drop the database '" + name + "' because it is a system database.");
        std::optional<storage::DatabaseEntry> entry = storage::findDatabase(*db, "d1", name);
        if (!entry) {
            if (s.ifExists) continue;
            throw EngineError(3701, "Cannot drop the database '" + name +
                                        "', because it does not exist or you do not have permission.");
        }
        // In use: this session's current database, or another session's (in this or another process).
        if (text::equalsNoCase(entry->name, currentDatabase) || !databaseUnused(files::mapPath(entry->dataFile)))
            throw EngineError(3702, "Cannot drop database \"" + entry->name + "\" because it is currently in use.");
        detachDatabase(entry->dbid);
        database("master");
        atomically([&] { storage::unregisterDatabase(*db, "d1", entry->dbid); });
        removeDatabaseFiles(files::mapPath(entry->dataFile),
                            entry->logFile.empty() ? fs::path() : files::mapPath(entry->logFile));
    }
}

}  // namespace vopa::engine
