#pragma once
// What a window program prints (--help, --version, a wrong option) reaching the
// console it was started from, and a library's own printing kept off the console.
// One implementation per platform (console_output_<platform>.cpp).

namespace velmora {

// Windows starts a window program (velmora.exe) with no standard output or error
// unless they are redirected: these are then sent to the console of the program
// that started it, if it has one. Nothing to do elsewhere. Call it before printing.
void PrintToStartingConsole();

// While it lives, what the process writes to its standard error goes nowhere: for
// a library that prints its failures there in its own words (the spreadsheet
// writer), which the program tells in its words instead.
class StandardErrorSilenced {
  public:
    StandardErrorSilenced();
    ~StandardErrorSilenced();
    StandardErrorSilenced(const StandardErrorSilenced&) = delete;
    StandardErrorSilenced& operator=(const StandardErrorSilenced&) = delete;

  private:
    int saved_ = -1;  // the standard error it had, to give back
};

}  // namespace velmora
