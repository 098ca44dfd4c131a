#pragma once
// Every file the program writes goes through here, whatever the output names:
// - a regular file (or nothing yet) is replaced without ever leaving a half-written
//   one in its place: the bytes go to a fresh temporary file beside it, are flushed
//   to the disk, and the temporary file is then renamed over it, which keeps the old
//   file's permissions;
// - a symbolic link is followed, and its target is replaced so in the target's own
//   folder (made, when the link points at nothing yet); the link stays a link;
// - anything else that is not a folder (a FIFO, a terminal, a device such as
//   /dev/null or NUL) is written to directly, in order, and never replaced; a write
//   error there (a full device) is a failure like any other;
// - "-" (kStandardOutput) is the standard output, written to in the same way;
// - a folder is refused.
// One implementation of the steps per platform (atomic_file_<platform>.cpp).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

// The output that names the standard output ("-o -" on the command line).
inline const std::filesystem::path kStandardOutput{"-"};

// Whether `output` is the program's standard output: "-", or a name of the same
// file (/dev/stdout, say). What a command prints besides must then go elsewhere.
bool IsStandardOutput(const std::filesystem::path& output);

struct FileWriteResult {
    bool ok = false;
    // What the system reported when it failed ("No space left on device").
    std::string reason;
    // CommitNew only: another file was there first, and it stays as it was.
    bool existed = false;
};

// The same writing in two steps, for a writer that learns only later whether the
// new file is to stand: the bytes are written beside the output and flushed to the
// disk now (the slow part), and Commit puts them in place. Never committed, the
// temporary file is removed and the output stays as it was. An output that is not
// replaced (a stream) keeps the bytes until Commit writes them there.
class PreparedFile {
  public:
    // Writes `bytes` to a fresh temporary file beside `target` (whose folder must exist).
    PreparedFile(std::filesystem::path target, std::span<const std::uint8_t> bytes);
    PreparedFile(std::filesystem::path target, std::string_view bytes)
        : PreparedFile(
              std::move(target),
              std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {}
    // A preparation that failed before it began (its folder could not be made, say).
    PreparedFile(std::filesystem::path target, FileWriteResult failure);
    // For a library that writes only to a file it opens by name: `write` writes the
    // file `scratch` (a fresh, empty file beside the output; in the system's temporary
    // folder for an output that is a stream), whose bytes are then prepared as above
    // and which is removed whatever happens.
    using ScratchWriter = std::function<FileWriteResult(const std::filesystem::path& scratch)>;
    PreparedFile(std::filesystem::path target, const ScratchWriter& write);
    ~PreparedFile();
    PreparedFile(PreparedFile&& other) noexcept;
    PreparedFile& operator=(PreparedFile&&) = delete;
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;

    const std::filesystem::path& Target() const { return target_; }
    // Puts the new file in place (or writes the stream); the preparation's failure,
    // if it failed.
    FileWriteResult Commit();
    // Puts the new file in place only where nothing is there yet, in one step: of two
    // programs making the same file at once, the first one's stands whole and the
    // other's is dropped, told `existed`. A stream is written as by Commit.
    FileWriteResult CommitNew();

  private:
    enum class Kind { File, Folder, Stream, Failed };

    // Follows the target's links to the place written, and tells what it is.
    FileWriteResult Locate();
    // Writes `bytes` beside the place, or keeps them for a stream.
    FileWriteResult Keep(std::span<const std::uint8_t> bytes);

    // One implementation per platform.
    // What `target` names, its links followed: a file (or nothing yet), a folder or a
    // stream; Failed, with `failure` set, when the system cannot tell.
    static Kind KindOf(const std::filesystem::path& target, FileWriteResult& failure);
    static FileWriteResult FolderRefused();
    static FileWriteResult Write(const std::filesystem::path& target,
                                 std::span<const std::uint8_t> bytes,
                                 std::filesystem::path& temporary);
    // Moves the finished temporary file to `target`, over a file there when `replace`.
    static FileWriteResult MoveOver(const std::filesystem::path& temporary,
                                    const std::filesystem::path& target, bool replace);
    FileWriteResult Place(bool replace);
    static FileWriteResult WriteStream(const std::filesystem::path& place,
                                       std::span<const std::uint8_t> bytes);
    static void Remove(const std::filesystem::path& temporary);

    std::filesystem::path target_;     // as the caller named it
    std::filesystem::path place_;      // what is written: the target, links followed
    std::filesystem::path temporary_;  // empty once committed, removed or never made
    std::string streamBytes_;          // what Commit writes to a stream
    bool stream_ = false;
    bool committed_ = false;
    FileWriteResult prepared_;
};

// Writes `bytes` to `target` as above: a file there is replaced only once the new
// one is complete; on failure nothing is left behind and the old file stays as it
// was. The target's folder must exist.
inline FileWriteResult ReplaceFile(const std::filesystem::path& target,
                                   std::span<const std::uint8_t> bytes) {
    return PreparedFile(target, bytes).Commit();
}
inline FileWriteResult ReplaceFile(const std::filesystem::path& target, std::string_view bytes) {
    return PreparedFile(target, bytes).Commit();
}

}  // namespace velmora
