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

// Writes `bytes` to `target`, replacing any file there only once the new one is
// complete. On failure nothing is left behind and the old file stays as it was.
// The target's folder must exist.
FileWriteResult ReplaceFile(const std::filesystem::path& target,
                            std::span<const std::uint8_t> bytes);
inline FileWriteResult ReplaceFile(const std::filesystem::path& target, std::string_view bytes) {
    return ReplaceFile(
        target, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace velmora
