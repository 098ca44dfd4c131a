// ReplaceFile over POSIX: O_EXCL temporary file, write loop, fsync, rename; a
// stream opened without O_CREAT or O_TRUNC and written in order.
// (The steps of PreparedFile; atomic_file.cpp holds what both platforms share.)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/atomic_file.h"
#include "base/interrupt.h"

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

// A reader that went away (a closed pipe) makes a write fail with EPIPE instead of
// ending the program with SIGPIPE: the signal is held on this thread meanwhile, and
// one the writes raised is taken before it is let through again.
class PipeSignalHeld {
  public:
    PipeSignalHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
    }
    ~PipeSignalHeld() {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &none) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t before_{};
};

// Opens the stream `place` for writing. A FIFO opens once a reader has it open:
// waited for in short slices, so that Ctrl-C still ends the wait.
int OpenStream(const std::filesystem::path& place) {
    struct stat st {};
    const bool fifo = ::stat(place.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    for (;;) {
        const int fd = ::open(place.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 || !fifo || errno != ENXIO) return fd;
        if (Interrupted()) {
            errno = EINTR;
            return -1;
        }
        ::poll(nullptr, 0, 100);
    }
}

}  // namespace

bool IsStandardOutput(const std::filesystem::path& output) {
    if (output == kStandardOutput) return true;
    struct stat named {
    }, out{};
    return ::stat(output.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

PreparedFile::Kind PreparedFile::KindOf(const std::filesystem::path& target,
                                        FileWriteResult& failure) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) return Kind::File;
        failure = Failed(errno);
        return Kind::Failed;
    }
    if (S_ISREG(st.st_mode)) return Kind::File;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Stream;
}

FileWriteResult PreparedFile::FolderRefused() {
    return Failed(EISDIR);
}

FileWriteResult PreparedFile::WriteStream(const std::filesystem::path& place,
                                          std::span<const std::uint8_t> bytes) {
    const PipeSignalHeld held;
    if (place == kStandardOutput) {
        std::fflush(stdout);  // what was printed before comes first
        return WriteAll(STDOUT_FILENO, bytes) ? FileWriteResult{true, {}} : Failed(errno);
    }
    Descriptor fd(OpenStream(place));
    if (!fd.valid()) return Failed(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        // A regular file took the stream's place meanwhile: it is replaced, never overwritten.
        std::filesystem::path temporary;
        const FileWriteResult written = Write(place, bytes, temporary);
        return written.ok ? MoveOver(temporary, place, true) : written;
    }
    // Waiting for the reader from here on, as any program writing to a pipe does.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (!WriteAll(fd.get(), bytes)) return Failed(errno);
    return fd.Close() ? FileWriteResult{true, {}} : Failed(errno);
}

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

// Without `replace`: renameat2's RENAME_NOREPLACE, or a hard link where the file
// system cannot do that; either fails with EEXIST when a file is there.
FileWriteResult PreparedFile::MoveOver(const std::filesystem::path& temporary,
                                       const std::filesystem::path& target, bool replace) {
    int result = -1;
    if (replace) {
        result = ::rename(temporary.c_str(), target.c_str());
    } else {
        result =
            ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS) &&
            (result = ::link(temporary.c_str(), target.c_str())) == 0)
            Remove(temporary);
    }
    if (result == 0) return {true, {}};
    const int error = errno;
    Remove(temporary);
    FileWriteResult failed = Failed(error);
    failed.existed = error == EEXIST;
    return failed;
}

void PreparedFile::Remove(const std::filesystem::path& temporary) {
    ::unlink(temporary.c_str());
}

}  // namespace velmora
