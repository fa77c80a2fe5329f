#include "LockFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vopa::engine::storage {
namespace {

bool setLock(int fd, std::int64_t offset, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = 1;
    lock.l_pid = 0;  // required by open-file-description locks
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0)
        if (errno != EINTR) return false;
    return true;
}

}  // namespace

LockFile::LockFile(const std::filesystem::path& file) {
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

LockFile::~LockFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool LockFile::tryLock(std::int64_t offset, Mode mode) {
    return fd_ >= 0 && setLock(fd_, offset, mode == Mode::Exclusive ? F_WRLCK : F_RDLCK);
}

void LockFile::unlock(std::int64_t offset) {
    if (fd_ >= 0) setLock(fd_, offset, F_UNLCK);
}

}  // namespace vopa::engine::storage
