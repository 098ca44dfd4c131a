#pragma once
// The command line as UTF-8 texts, whatever the platform hands to main(): Windows
// gives main() its arguments in the narrow code page, which cannot hold every file
// name, so there they are read again as the wide command line.
#include <string>
#include <vector>

namespace velmora {

// The arguments after the program's name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace velmora
