#pragma once
// The write locks a session takes on its databases. Writers take the write lock before they read: a
// statement that changes rows outside a transaction takes the locks of the databases it uses first (in
// the order of their ids, one order for every session, so that statements outside transactions never
// wait for each other in a circle), and inside BEGIN TRANSACTION every database the transaction reads
// is locked when it first reads it (so that what it read stays true until it writes). A lock waits for
// other sessions' writers as the connection's lock time-out allows, and is held to the end of the
// transaction.

#include <cstdint>
#include <set>

namespace vopa::engine::storage {
class AttachedDatabases;
class Connection;
}  // namespace vopa::engine::storage

namespace vopa::engine::exec {

class WriteLocks {
public:
    WriteLocks(storage::Connection& db, const storage::AttachedDatabases& databases)
        : db_(db), databases_(databases) {}

    // Takes the write lock of an attached database for the running transaction; once per transaction,
    // nothing outside a transaction.
    void lock(std::int64_t dbid);
    // The locks of every database the running statement uses, in the order of their ids.
    void lockUsed();
    // Forgets the locks at the end of a transaction.
    void release();

private:
    storage::Connection& db_;
    const storage::AttachedDatabases& databases_;
    std::set<std::int64_t> held_;  // databases whose write lock the running transaction holds
};

}  // namespace vopa::engine::exec
