#pragma once
// Reading a whole file the program was pointed at (a backup, a language file, an
// image, a firmware file) without ever aborting: only a regular file is read, and
// never more than the caller's limit, so that a folder, a device such as /dev/zero
// or a file far larger than anything the program writes is refused with a reason.
#include <cstdint>
#include <filesystem>
#include <string>

namespace velmora {

enum class FileReadProblem {
    None,
    Missing,     // nothing by that name
    NotAFile,    // a folder, a device, a pipe...
    TooLarge,    // larger than the caller's limit
    Unreadable,  // the system refused it or a read failed (systemReason says why)
};

struct FileReadResult {
    FileReadProblem problem = FileReadProblem::None;
    std::string bytes;         // the whole file when problem is None
    std::string systemReason;  // what the system reported, where it did
    bool ok() const { return problem == FileReadProblem::None; }
};

FileReadResult ReadWholeFile(const std::filesystem::path& file, std::uintmax_t limit);

// The same checks without the reading, for a file read in pieces (a firmware file
// sent block by block): a regular file, no larger than `limit`, that opens. No bytes.
FileReadResult CheckFileToRead(const std::filesystem::path& file, std::uintmax_t limit);

}  // namespace velmora
