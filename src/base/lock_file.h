#pragma once
// A small file that several programs keep open at once, each holding a shared lock on
// it while it uses what the file stands for; one that gets the exclusive lock knows
// it is alone. Its few bytes say what the last one left. The locks go with the
// handle, and the system drops them when a program dies. One implementation per
// platform (lock_file_<platform>.cpp).
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

class LockFile {
  public:
    // Opens `file`, creating it when missing; null when it cannot be (a folder that
    // cannot be written). No lock is held yet.
    static std::unique_ptr<LockFile> Open(const std::filesystem::path& file);
    ~LockFile();  // releases the lock
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // The exclusive lock, without waiting: false when another handle holds any lock.
    // Held as shared before, the shared lock may be lost when this fails.
    bool TryExclusive();
    // The shared lock, waiting while another handle holds the exclusive one.
    bool Shared();
    // The file's bytes (at most a few hundred are read).
    std::string Read();
    // Replaces the file's bytes.
    bool Write(std::string_view text);

  private:
    struct Handle;
    explicit LockFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace velmora
