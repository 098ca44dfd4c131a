// LockFile over POSIX: flock() locks belong to the open file description, so two
// handles of one process exclude each other as two programs do.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/lock_file.h"

namespace velmora {

struct LockFile::Handle {
    int fd = -1;
    ~Handle() {
        if (fd >= 0) ::close(fd);  // closing releases the lock
    }
};

LockFile::LockFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
LockFile::~LockFile() = default;

std::unique_ptr<LockFile> LockFile::Open(const std::filesystem::path& file) {
    auto handle = std::make_unique<Handle>();
    handle->fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (handle->fd < 0) return nullptr;
    return std::unique_ptr<LockFile>(new LockFile(std::move(handle)));
}

bool LockFile::TryExclusive() {
    return ::flock(handle_->fd, LOCK_EX | LOCK_NB) == 0;
}

bool LockFile::Shared() {
    int rc;
    do {
        rc = ::flock(handle_->fd, LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::string LockFile::Read() {
    char buffer[256];
    const ssize_t n = ::pread(handle_->fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool LockFile::Write(std::string_view text) {
    if (::ftruncate(handle_->fd, 0) != 0) return false;
    return ::pwrite(handle_->fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

}  // namespace velmora
