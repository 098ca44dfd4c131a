#include "base/program_arguments.h"

namespace velmora {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    if (argc < 1) return {};
    return {argv + 1, argv + argc};
}

}  // namespace velmora
