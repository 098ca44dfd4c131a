#pragma once
// The command line as UTF-8 texts, whatever the platform hands to main(): POSIX
// gives the bytes typed in the terminal's own encoding (the locale's, UTF-8 or, say,
// GBK), which are converted; Windows gives main() its arguments in the narrow code
// page, which cannot hold every file name, so there they are read again as the
// wide command line. An argument that is not text in that encoding is never taken
// as it came: it is named, and the program refuses to go on.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct ProgramArgumentsRead {
    std::vector<std::string> arguments;  // after the program's name, as UTF-8
    // The first argument that is not text in the terminal's encoding (its index in
    // `arguments`, which holds its bytes as they came); nothing when all are.
    std::optional<std::size_t> unreadable;
    std::string encoding;  // the terminal's encoding, as the system names it
};

ProgramArgumentsRead ProgramArguments(int argc, char** argv);

// The file an argument names: its text in the encoding the file system's names
// are in, which is the terminal's (a name typed in a GBK terminal stays the
// file of that name).
std::filesystem::path PathFromArgument(std::string_view utf8);

}  // namespace velmora
