#pragma once
// The console's interrupt (Ctrl-C, or a request to terminate): noted, never
// acted on where it arrives, so that a command can stop its work cleanly.
// One implementation per platform (interrupt_<platform>.cpp).
#include <functional>

namespace velmora {

// Installs the handler; from then on an interrupt sets the flag below. Call it
// before any other thread starts (on POSIX the signals are then taken by a thread
// of the handler's own, which every later thread leaves them to).
void InstallInterruptHandler();
bool Interrupted();
// The exit status of a program ended by the interrupt, as a shell tells a signal:
// 128 + its number (130 for Ctrl-C, 143 for a request to terminate).
int InterruptExitStatus();

// Runs `onInterrupt` on the handler's thread when an interrupt comes (at once, on
// the calling thread, when one has come already), so that a wait blocked on a
// port can be woken instead of looking at the flag in slices. One at a time; an
// empty function removes it, and returns only once a running call has ended.
void SetInterruptCallback(std::function<void()> onInterrupt);

}  // namespace velmora
