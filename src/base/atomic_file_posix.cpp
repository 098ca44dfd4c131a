// ReplaceFile over POSIX: O_EXCL temporary file, write loop, fsync, rename.
// (The steps of PreparedFile; atomic_file.cpp holds what both platforms share.)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/atomic_file.h"

namespace velmora {
namespace {

// Closes the descriptor it holds unless it was closed on purpose first.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing can report a failed write-back; that failure must be seen.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// A fresh, hidden name beside `target`, created exclusively so that two writers never share it.
int CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target.parent_path() /
                    ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                     std::to_string(serial++) + ".tmp");
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

FileWriteResult Failed(int error) {
    return {false, std::strerror(error)};
}

}  // namespace

FileWriteResult PreparedFile::Write(const std::filesystem::path& target,
                                    std::span<const std::uint8_t> bytes,
                                    std::filesystem::path& temporary) {
    Descriptor fd(CreateTemporaryBeside(target, temporary));
    if (!fd.valid()) {
        const int error = errno;
        temporary.clear();
        return Failed(error);
    }
    // A file that is replaced keeps its permissions; a new one gets the umask's.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd.get(), old.st_mode & 07777);
    // Flushed to the disk before the rename, so a crash never leaves an empty file in its place.
    const bool written = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    const int writeError = errno;
    const bool closed = fd.Close();
    if (!written || !closed) {
        const int error = !written ? writeError : errno;
        Remove(temporary);
        temporary.clear();
        return Failed(error);
    }
    return {true, {}};
}

FileWriteResult PreparedFile::MoveOver(const std::filesystem::path& temporary,
                                       const std::filesystem::path& target) {
    if (::rename(temporary.c_str(), target.c_str()) == 0) return {true, {}};
    const int error = errno;
    Remove(temporary);
    return Failed(error);
}

void PreparedFile::Remove(const std::filesystem::path& temporary) {
    ::unlink(temporary.c_str());
}

}  // namespace velmora
