#pragma once
// Locks of one session on a file of its own in the instance's folder: open-file-description locks
// (F_OFD_SETLK) on single bytes, one byte per thing locked. They belong to the session's own open of
// the file, so two sessions of one process conflict as two processes do, and they vanish when the
// session closes the file or its process dies.
//
// The file is never a database file: closing a descriptor of a file SQLite holds open would cancel
// every lock SQLite's connections of this process hold on it (classic POSIX locks are per process).

#include <cstdint>
#include <filesystem>

namespace vopa::engine::storage {

class LockFile {
public:
    enum class Mode { Shared, Exclusive };

    // Opens (creating) the file; a file that cannot be opened leaves the session without locks
    // (isOpen() false, every try fails).
    explicit LockFile(const std::filesystem::path& file);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Takes (or changes to) the lock on byte `offset` without waiting; false when another session's
    // lock stands in the way.
    bool tryLock(std::int64_t offset, Mode mode);
    void unlock(std::int64_t offset);

private:
    int fd_ = -1;
};

}  // namespace vopa::engine::storage
