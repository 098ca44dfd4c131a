#include "base/file_read.h"

#include <fstream>
#include <system_error>

namespace velmora {

FileReadResult ReadWholeFile(const std::filesystem::path& file, std::uintmax_t limit) {
    FileReadResult result;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        result.problem = FileReadProblem::Missing;
        return result;
    }
    if (error) {
        result.problem = FileReadProblem::Unreadable;
        result.systemReason = error.message();
        return result;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.problem = FileReadProblem::NotAFile;
        return result;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (!error && size > limit) {
        result.problem = FileReadProblem::TooLarge;
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.problem = FileReadProblem::Unreadable;
        result.systemReason = std::error_code(errno, std::generic_category()).message();
        return result;
    }
    // Read in pieces up to one byte past the limit: a file that grew since its size
    // was taken is read whole or refused, and nothing is ever read without bound.
    std::string bytes;
    if (!error) bytes.reserve(static_cast<std::size_t>(size));
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

}  // namespace velmora
