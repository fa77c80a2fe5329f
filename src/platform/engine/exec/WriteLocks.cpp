#include "WriteLocks.h"

#include "platform/engine/storage/AttachedDatabases.h"
#include "platform/engine/storage/Sqlite.h"

namespace vopa::engine::exec {

void WriteLocks::lock(std::int64_t dbid) {
    if (held_.count(dbid) || !db_.inTransaction()) return;
    const DatabaseHandle* handle = databases_.find(dbid);
    if (!handle) return;
    // A statement that would write the database and changes nothing: SQLite takes the write lock for it.
    db_.exec("DELETE FROM " + storage::quoteIdentifier(handle->alias) + ".\"__vopa_info\" WHERE 0");
    held_.insert(dbid);
    db_.setHoldingLocks(true);
}

void WriteLocks::lockUsed() {
    for (std::int64_t dbid : databases_.pinned()) lock(dbid);
}

void WriteLocks::release() {
    held_.clear();
    db_.setHoldingLocks(false);
}

}  // namespace vopa::engine::exec
