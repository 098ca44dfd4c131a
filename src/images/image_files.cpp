#include "images/image_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "app/messages.h"

namespace velmora {
namespace {

constexpr Message kSaveFailed{"图片文件保存失败：", "Image file could not be saved: "};

// Closes the descriptor it holds unless it was closed on purpose first.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
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
FileDescriptor CreateTemporaryBeside(const std::filesystem::path& target,
                                     std::filesystem::path& temporary) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target.parent_path() /
                    ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                     std::to_string(serial++) + ".tmp");
        FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.valid() || errno != EEXIST) return fd;
    }
    return FileDescriptor(-1);
}

SaveResult Failure(const std::filesystem::path& path, int error) {
    return {false, Say(kSaveFailed) + path.string() + " (" + std::strerror(error) + ")"};
}

}  // namespace

std::filesystem::path JpgFolder(const std::filesystem::path& deviceFolder) {
    if (deviceFolder.empty()) return {};
    return deviceFolder / "JPG";
}

bool EnsureJpgFolder(const std::filesystem::path& deviceFolder) {
    const std::filesystem::path folder = JpgFolder(deviceFolder);
    if (folder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

std::string ImageFileName(const ImageEntry& entry, std::size_t position) {
    return ImageStampText(entry) + std::to_string(position) + ".jpg";
}

std::optional<std::filesystem::path> ImageFilePath(const std::filesystem::path& deviceFolder,
                                                   const ImageCatalogue& catalogue,
                                                   std::size_t position) {
    if (deviceFolder.empty() || position >= catalogue.size()) return std::nullopt;
    return JpgFolder(deviceFolder) / ImageFileName(catalogue[position], position);
}

bool ImageFileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

SaveResult SaveImageFile(const std::filesystem::path& path, std::span<const std::uint8_t> image) {
    std::filesystem::path temporary;
    FileDescriptor fd = CreateTemporaryBeside(path, temporary);
    if (!fd.valid()) return Failure(path, errno);
    // Flushed to the disk before the rename, so a crash never leaves an empty image in its place.
    const bool written = WriteAll(fd.get(), image) && ::fsync(fd.get()) == 0;
    const int writeError = errno;
    const bool closed = fd.Close();
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = !written ? writeError : errno;
        ::unlink(temporary.c_str());
        return Failure(path, error);
    }
    return {true, {}};
}

}  // namespace velmora
