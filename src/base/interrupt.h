#pragma once
// The console's interrupt (Ctrl-C, or a request to terminate): noted, never
// acted on where it arrives, so that a command can stop its work cleanly.
// One implementation per platform (interrupt_<platform>.cpp).

namespace velmora {

// Installs the handler; from then on an interrupt sets the flag below.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace velmora
