#pragma once
// What a window program prints (--help, --version, a wrong option) reaching the
// console it was started from. One implementation per platform
// (console_output_<platform>.cpp).

namespace velmora {

// Windows starts a window program (velmora.exe) with no standard output or error
// unless they are redirected: these are then sent to the console of the program
// that started it, if it has one. Nothing to do elsewhere. Call it before printing.
void PrintToStartingConsole();

}  // namespace velmora
