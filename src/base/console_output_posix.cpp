// A POSIX program always has the standard output its starter gave it.
#include "base/console_output.h"

namespace velmora {

void PrintToStartingConsole() {}

}  // namespace velmora
