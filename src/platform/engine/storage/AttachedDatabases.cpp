#include "AttachedDatabases.h"

#include <sys/stat.h>

#include "Master.h"
#include "Sqlite.h"
#include "platform/engine/EngineError.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"

namespace vopa::engine {

std::string TableHandle::storageName() const {
    return storage::quoteIdentifier(db.alias) + "." + storage::quoteIdentifier(table->storageName());
}

namespace storage {
namespace {

std::uint64_t fileIdentity(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return (static_cast<std::uint64_t>(st.st_dev) << 40) ^ static_cast<std::uint64_t>(st.st_ino);
}

}  // namespace

DatabaseHandle AttachedDatabases::attach(std::int64_t dbid, const std::string& name, const std::filesystem::path& file,
                                         const std::string& currentDatabase) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw EngineError(err::PhysicalFileMissing, "Unable to open the physical file \"" + file.string() +
                                                        "\" of database '" + name + "'. The file does not exist.");
    // An empty file would open as an empty SQLite database: it is no database of the server.
    if (std::filesystem::file_size(file, ec) == 0 && !ec)
        throw EngineError(err::InvalidFileHeader,
                          "The header for file '" + file.string() +
                              "' is not a valid database file header. The FILE SIZE property is incorrect.");
    upgradeCollationOrder(file.string());
    makeRoom(currentDatabase);
    Attached a;
    a.handle.alias = "d" + std::to_string(dbid);
    a.handle.dbid = dbid;
    a.handle.name = name;
    a.file = file;
    a.fileIdentity = fileIdentity(file);
    Statement attachStatement = db_.preparePrivileged("ATTACH DATABASE ?1 AS " + quoteIdentifier(a.handle.alias));
    attachStatement.bind(1, file.string()).run();
    a.lastUse = ++useClock_;
    auto [it, inserted] = attached_.insert_or_assign(dbid, std::move(a));
    (void)inserted;
    pinned_.insert(dbid);
    // The safety level can only be set outside a transaction; inside one the file keeps SQLite's
    // default (full), which is safe too.
    if (!db_.inTransaction()) db_.execPrivileged("PRAGMA " + quoteIdentifier(it->second.handle.alias) + ".synchronous=NORMAL");
    try {
        refresh(it->second);
    } catch (...) {
        detach(dbid);
        throw;
    }
    return it->second.handle;
}

void AttachedDatabases::refresh(Attached& a) {
    // Inside a transaction the write lock comes before the first read.
    if (db_.inTransaction() && beforeRead_) beforeRead_(a.handle.dbid);
    std::int64_t schemaVersion = -1, userVersion = -1;
    {
        Statement q = db_.preparePrivileged("PRAGMA " + quoteIdentifier(a.handle.alias) + ".schema_version");
        if (q.step()) schemaVersion = q.columnInt(0);
    }
    {
        Statement q = db_.preparePrivileged("PRAGMA " + quoteIdentifier(a.handle.alias) + ".user_version");
        if (q.step()) userVersion = q.columnInt(0);
    }
    if (a.handle.catalog && a.handle.catalog->schemaVersion == schemaVersion && a.userVersion == userVersion) return;
    a.handle.catalog = DatabaseCatalog::load(db_, a.handle.alias, a.handle.catalog.get());
    a.userVersion = userVersion;
}

void AttachedDatabases::makeRoom(const std::string& currentDatabase) {
    while (attached_.size() >= kMaxAttached) {
        auto victim = attached_.end();
        for (auto it = attached_.begin(); it != attached_.end(); ++it) {
            if (it->first == kMasterId || pinned_.count(it->first) ||
                text::equalsNoCase(it->second.handle.name, currentDatabase))
                continue;
            if (victim == attached_.end() || it->second.lastUse < victim->second.lastUse) victim = it;
        }
        if (victim == attached_.end() || db_.inTransaction())
            throw EngineError(err::NotSupported, "The embedded engine does not support using more than " +
                                                     std::to_string(kMaxAttached) +
                                                     " databases in one statement or in one transaction.");
        detach(victim->first);
    }
}

void AttachedDatabases::detach(std::int64_t dbid) {
    auto it = attached_.find(dbid);
    if (it == attached_.end()) return;
    db_.execPrivileged("DETACH DATABASE " + quoteIdentifier(it->second.handle.alias));
    attached_.erase(it);
    pinned_.erase(dbid);
}

DatabaseHandle AttachedDatabases::resolve(const std::string& name, const std::string& currentDatabase) {
    // A statement names its databases several times; the first resolution serves them all.
    const std::string key = text::toUpper(name);
    if (auto hit = resolved_.find(key); hit != resolved_.end())
        if (auto it = attached_.find(hit->second); it != attached_.end()) return it->second.handle;
    std::optional<DatabaseEntry> entry;
    if (text::equalsNoCase(name, "master"))
        entry = DatabaseEntry{kMasterId, "master", "", ""};
    else
        entry = findDatabase(db_, "d1", name);
    if (!entry)
        throw EngineError(err::DatabaseMissing,
                          "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
    auto it = attached_.find(entry->dbid);
    if (it != attached_.end() && entry->dbid != kMasterId &&
        (it->second.file != files::mapPath(entry->dataFile) ||
         it->second.fileIdentity != fileIdentity(it->second.file))) {
        // Dropped and created again since it was attached: the old file is gone.
        detach(entry->dbid);
        it = attached_.end();
    }
    if (it != attached_.end()) {
        refresh(it->second);
        it->second.lastUse = ++useClock_;
        pinned_.insert(entry->dbid);
        resolved_[key] = entry->dbid;
        return it->second.handle;
    }
    DatabaseHandle handle = attach(entry->dbid, entry->name, files::mapPath(entry->dataFile), currentDatabase);
    resolved_[key] = entry->dbid;
    return handle;
}

void AttachedDatabases::catalogChanged(const DatabaseHandle& handle) {
    const std::string alias = quoteIdentifier(handle.alias);
    std::int64_t version = 0;
    {
        Statement q = db_.preparePrivileged("PRAGMA " + alias + ".user_version");
        if (q.step()) version = q.columnInt(0);
    }
    db_.execPrivileged("PRAGMA " + alias + ".user_version = " + std::to_string(version + 1));
    auto it = attached_.find(handle.dbid);
    if (it != attached_.end()) refresh(it->second);
}

const DatabaseHandle* AttachedDatabases::find(std::int64_t dbid) const {
    auto it = attached_.find(dbid);
    return it == attached_.end() ? nullptr : &it->second.handle;
}

std::vector<DatabaseHandle> AttachedDatabases::all() const {
    std::vector<DatabaseHandle> out;
    out.reserve(attached_.size());
    for (const auto& [dbid, a] : attached_) out.push_back(a.handle);
    return out;
}

}  // namespace storage
}  // namespace vopa::engine
