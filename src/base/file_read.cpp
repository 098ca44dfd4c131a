#include "base/file_read.h"

#include <cerrno>
#include <fstream>
#include <optional>
#include <system_error>

namespace velmora {
namespace {

// What can be told before opening: whether `file` is a regular file within
// `limit`. False with `result`'s problem set when it is not; `size` is its size
// when the system told it.
bool Examine(const std::filesystem::path& file, std::uintmax_t limit, FileReadResult& result,
             std::optional<std::uintmax_t>& size) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        result.problem = FileReadProblem::Missing;
        return false;
    }
    if (error) {
        result.problem = FileReadProblem::Unreadable;
        result.systemReason = error.message();
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.problem = FileReadProblem::NotAFile;
        return false;
    }
    const std::uintmax_t known = std::filesystem::file_size(file, error);
    if (error) return true;
    if (known > limit) {
        result.problem = FileReadProblem::TooLarge;
        return false;
    }
    size = known;
    return true;
}

bool Opened(std::ifstream& in, FileReadResult& result) {
    if (in) return true;
    result.problem = FileReadProblem::Unreadable;
    result.systemReason = std::error_code(errno, std::generic_category()).message();
    return false;
}

}  // namespace

FileReadResult ReadWholeFile(const std::filesystem::path& file, std::uintmax_t limit) {
    FileReadResult result;
    std::optional<std::uintmax_t> size;
    if (!Examine(file, limit, result, size)) return result;
    std::ifstream in(file, std::ios::binary);
    if (!Opened(in, result)) return result;
    // Read in pieces up to one byte past the limit: a file that grew since its size
    // was taken is read whole or refused, and nothing is ever read without bound.
    std::string bytes;
    if (size) bytes.reserve(static_cast<std::size_t>(*size));
    char piece[65536];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        bytes.append(piece, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > limit) {
            result.problem = FileReadProblem::TooLarge;
            return result;
        }
    }
    if (in.bad()) {
        result.problem = FileReadProblem::Unreadable;
        result.systemReason = "a read failed";
        return result;
    }
    result.bytes = std::move(bytes);
    return result;
}

FileReadResult CheckFileToRead(const std::filesystem::path& file, std::uintmax_t limit) {
    FileReadResult result;
    std::optional<std::uintmax_t> size;
    if (!Examine(file, limit, result, size)) return result;
    std::ifstream in(file, std::ios::binary);
    Opened(in, result);
    return result;
}

}  // namespace velmora
