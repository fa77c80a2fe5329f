#include "Server.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "EngineError.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "platform/text/Text.h"
#include "storage/Catalog.h"
#include "storage/Functions.h"
#include "storage/Logins.h"
#include "storage/Master.h"
#include "storage/Sqlite.h"

namespace vopa::engine {
namespace {

const char* const kDefaultInstance = "MSSQLSERVER";

[[noreturn]] void unreachable(const std::string& serverName) {
    throw EngineError(err::CannotConnect, "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access "
                                          "denied. (server '" + serverName + "')");
}

// Instance names are short words (letters, digits, "_", "$", "#"): one folder name, never a path.
bool validInstanceName(const std::string& name) {
    if (name.empty() || name.size() > 16) return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '$' && c != '#') return false;
    return true;
}

InstanceLocation locationOf(const std::string& instanceName) {
    InstanceLocation loc;
    loc.instanceName = text::toUpper(instanceName);
    loc.dataFolderWindows = "C:\\Program Files\\Microsoft SQL Server\\MSSQL." + loc.instanceName + "\\MSSQL\\DATA";
    loc.dataFolder = files::mapPath(loc.dataFolderWindows);
    loc.masterFile = loc.dataFolder / "master.mdf";
    loc.lockFile = loc.dataFolder / "sessions.lck";
    loc.databaseRecord = loc.dataFolder / "master-databases.txt";
    return loc;
}

// The databases a lost master leaves behind: those its record names whose data files are still
// there (wherever they lie), and any other database file in the instance's folder.
std::string databasesLeft(const InstanceLocation& loc) {
    std::error_code ec;
    std::string found;
    std::vector<std::filesystem::path> named;
    for (const storage::DatabaseEntry& d : storage::readDatabaseRecord(loc.databaseRecord)) {
        const std::filesystem::path file = files::mapPath(d.dataFile).lexically_normal();
        if (!std::filesystem::is_regular_file(file, ec)) continue;
        named.push_back(file);
        found += (found.empty() ? "" : ", ") + d.name + " (" + d.dataFile + ")";
    }
    for (const auto& entry : std::filesystem::directory_iterator(loc.dataFolder, ec)) {
        const std::string file = entry.path().filename().string();
        if (!text::equalsNoCase(entry.path().extension().string(), ".mdf") || text::equalsNoCase(file, "master.mdf"))
            continue;
        if (std::find(named.begin(), named.end(), entry.path().lexically_normal()) != named.end()) continue;
        found += (found.empty() ? "" : ", ") + file;
    }
    return found;
}

// Creates the master database of an instance unless it exists; safe against a second process doing
// the same at the same time.
void ensureMaster(const InstanceLocation& loc) {
    std::error_code ec;
    std::filesystem::create_directories(loc.dataFolder, ec);
    // A master that is missing or empty while databases are left has been lost: an empty catalog in
    // its place would hide every database, so the instance does not start.
    const bool masterMissing = !std::filesystem::exists(loc.masterFile, ec) ||
                               std::filesystem::file_size(loc.masterFile, ec) == 0;
    if (masterMissing) {
        const std::string found = databasesLeft(loc);
        if (!found.empty())
            throw EngineError(err::MasterDatabaseMissing,
                              "The master database file '" + loc.dataFolderWindows + "\\master.mdf' is " +
                                  (std::filesystem::exists(loc.masterFile, ec) ? "empty" : "missing") +
                                  " while databases it listed are still there: " + found +
                                  ". Restore master.mdf, or move the database files away and register them "
                                  "again with CREATE DATABASE ... FOR ATTACH.");
    }
    storage::Connection db(loc.masterFile.string(), true);
    storage::registerCollation(db.handle());
    db.execPrivileged("PRAGMA journal_mode=WAL");
    db.exec("BEGIN IMMEDIATE");
    try {
        storage::Statement q = db.prepare("SELECT 1 FROM sqlite_master WHERE name = '__vopa_info'");
        const bool created = !q.step();
        if (created) storage::initialiseMaster(db, "main", loc.dataFolderWindows + "\\master.mdf");
        // A master made before logins were kept gets their table (with sa, no password yet) now.
        storage::ensureLoginTable(db, "main");
        storage::markCollationOrder(db, "main");
        // Under master's write lock, as every change of the record is.
        if (created || !std::filesystem::exists(loc.databaseRecord, ec))
            storage::writeDatabaseRecord(loc.databaseRecord, storage::listDatabases(db, "main"));
        db.exec("COMMIT");
    } catch (...) {
        db.exec("ROLLBACK");
        throw;
    }
    // The log file of master sits beside it, as every database's does.
    std::filesystem::path log = loc.dataFolder / "mastlog.ldf";
    if (!std::filesystem::exists(log)) files::writeTextFile(loc.dataFolderWindows + "\\mastlog.ldf", "");
}

}  // namespace

bool isThisMachine(const std::string& host) {
    for (const char* alias : {"(local)", ".", "localhost", "127.0.0.1", "(localdb)"})
        if (text::equalsNoCase(host, alias)) return true;
    std::string computer = sys::computerName();
    if (text::equalsNoCase(host, computer)) return true;
    // The program keeps the computer name with punctuation made into "_"; accept that spelling too.
    std::string sanitised = computer;
    for (char& c : sanitised)
        if (std::string_view(" ,/\\'&@\"-+!=?^$#()[]*").find(c) != std::string_view::npos) c = '_';
    return text::equalsNoCase(host, sanitised);
}

InstanceLocation locateInstance(const std::string& serverName) {
    std::string name = serverName;
    // "tcp:host,1433" and "host,1433" name the same machine.
    if (name.rfind("tcp:", 0) == 0 || name.rfind("TCP:", 0) == 0) name = name.substr(4);
    if (auto comma = name.find(','); comma != std::string::npos) name = name.substr(0, comma);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());

    std::string host = name, instance;
    if (auto slash = name.find('\\'); slash != std::string::npos) {
        host = name.substr(0, slash);
        instance = name.substr(slash + 1);
    }
    if (!isThisMachine(host)) unreachable(serverName);
    if (instance.empty() || text::equalsNoCase(instance, kDefaultInstance)) {
        InstanceLocation loc = locationOf(kDefaultInstance);
        ensureMaster(loc);
        return loc;
    }
    if (!validInstanceName(instance)) unreachable(serverName);
    InstanceLocation loc = locationOf(instance);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(loc.masterFile, ec)) unreachable(serverName);
    return loc;
}

InstanceLocation createNamedInstance(const std::string& instanceName) {
    if (!instanceName.empty() && !validInstanceName(instanceName))
        throw EngineError(err::InvalidInstanceName, "'" + instanceName +
                                                        "' is not a valid instance name: use up to 16 letters, digits, "
                                                        "'_', '$' or '#'.");
    InstanceLocation loc = locationOf(instanceName.empty() ? kDefaultInstance : instanceName);
    ensureMaster(loc);
    return loc;
}

}  // namespace vopa::engine
