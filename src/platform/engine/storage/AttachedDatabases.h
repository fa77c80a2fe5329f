#pragma once
// The databases attached to a session's SQLite connection: each is attached on demand when a statement
// names it, at most nine at once (the least recently used one that the running statement does not use
// is detached first). A statement pins the databases it resolves, so none is detached under it, and
// resolves each name once. The catalog of an attached database is read again when its file changed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/engine/storage/Handles.h"

namespace vopa::engine::storage {

class Connection;

class AttachedDatabases {
public:
    static constexpr std::int64_t kMasterId = 1;
    // SQLite attaches at most ten databases; one place stays free for the statement being prepared.
    static constexpr std::size_t kMaxAttached = 9;

    explicit AttachedDatabases(Connection& db) : db_(db) {}

    // Called with a database's id inside a transaction before the database is read (the session takes
    // its write lock there, so that what the transaction reads stays true until it writes).
    void setBeforeRead(std::function<void(std::int64_t)> hook) { beforeRead_ = std::move(hook); }

    // The database called `name` (not empty), attached and pinned; 911 when there is none.
    // `currentDatabase` is never detached to make room.
    DatabaseHandle resolve(const std::string& name, const std::string& currentDatabase);
    // Attaches a database's file under the alias "d<dbid>" and pins it (5120 when the file is missing,
    // 5172 when it is empty).
    DatabaseHandle attach(std::int64_t dbid, const std::string& name, const std::filesystem::path& file,
                          const std::string& currentDatabase);
    // Detaches a database (a dropped one, or the least recently used one).
    void detach(std::int64_t dbid);
    // Marks a database's catalog changed (for other sessions too) and reads it again.
    void catalogChanged(const DatabaseHandle& db);

    // Forgets which databases the last statement used; each statement starts afresh.
    void unpinAll() {
        pinned_.clear();
        resolved_.clear();
    }
    // The databases the running statement uses, in the order of their ids.
    const std::set<std::int64_t>& pinned() const { return pinned_; }
    // An attached database; null when it is not attached.
    const DatabaseHandle* find(std::int64_t dbid) const;
    // Every attached database.
    std::vector<DatabaseHandle> all() const;

private:
    struct Attached {
        DatabaseHandle handle;
        std::filesystem::path file;
        std::uint64_t fileIdentity = 0;  // device and inode: a re-created database is another file
        std::int64_t userVersion = -1;
        std::uint64_t lastUse = 0;
    };

    void refresh(Attached& a);
    void makeRoom(const std::string& currentDatabase);

    Connection& db_;
    std::function<void(std::int64_t)> beforeRead_;
    std::map<std::int64_t, Attached> attached_;
    std::uint64_t useClock_ = 0;
    std::set<std::int64_t> pinned_;  // databases the running statement uses: never detached under it
    std::map<std::string, std::int64_t> resolved_;  // names the running statement resolved (upper case)
};

}  // namespace vopa::engine::storage
