#pragma once
// Replacing a file without ever leaving a half-written one in its place: the
// bytes go to a fresh temporary file beside the target, are flushed to the
// disk, and the temporary file is then renamed over the target, which keeps
// the old file's permissions. One implementation per platform
// (atomic_file_<platform>.cpp).
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

struct FileWriteResult {
    bool ok = false;
    // What the system reported when it failed ("No space left on device").
    std::string reason;
};

// The same replacement in two steps, for a writer that learns only later whether
// the new file is to stand: the bytes are written beside the target and flushed to
// the disk now (the slow part), and Commit puts them in place. Never committed, the
// temporary file is removed and the target stays as it was.
class PreparedFile {
  public:
    // Writes `bytes` to a fresh temporary file beside `target` (whose folder must exist).
    PreparedFile(std::filesystem::path target, std::span<const std::uint8_t> bytes);
    // A preparation that failed before it began (its folder could not be made, say).
    PreparedFile(std::filesystem::path target, FileWriteResult failure);
    ~PreparedFile();
    PreparedFile(PreparedFile&& other) noexcept;
    PreparedFile& operator=(PreparedFile&&) = delete;
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;

    const std::filesystem::path& Target() const { return target_; }
    // Moves the new file over the target; the preparation's failure, if it failed.
    FileWriteResult Commit();

  private:
    // One implementation per platform.
    static FileWriteResult Write(const std::filesystem::path& target,
                                 std::span<const std::uint8_t> bytes,
                                 std::filesystem::path& temporary);
    static FileWriteResult MoveOver(const std::filesystem::path& temporary,
                                    const std::filesystem::path& target);
    static void Remove(const std::filesystem::path& temporary);

    std::filesystem::path target_;
    std::filesystem::path temporary_;  // empty once committed, removed or never made
    FileWriteResult prepared_;
};

// Writes `bytes` to `target`, replacing any file there only once the new one is
// complete. On failure nothing is left behind and the old file stays as it was.
// The target's folder must exist.
inline FileWriteResult ReplaceFile(const std::filesystem::path& target,
                                   std::span<const std::uint8_t> bytes) {
    return PreparedFile(target, bytes).Commit();
}
inline FileWriteResult ReplaceFile(const std::filesystem::path& target, std::string_view bytes) {
    return ReplaceFile(
        target, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace velmora
