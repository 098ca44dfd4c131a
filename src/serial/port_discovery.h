#pragma once
// The serial ports present on this machine, found in sysfs: every tty with a
// driver behind it (USB adapters, on-board UARTs with real hardware, ...).
#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

struct PortEntry {
    std::string device;       // what OpenPort takes, e.g. /dev/ttyUSB0
    std::string description;  // a friendly name where one exists, else ""
};

// Where discovery looks; tests point these at a fake tree.
struct DiscoveryRoots {
    std::filesystem::path sysClassTty = "/sys/class/tty";
    std::filesystem::path dev = "/dev";
};

// The ports present: USB adapters (ttyUSB, then ttyACM) before on-board UARTs
// (ttyS), then every other family with a driver (ttyAMA, rfcomm, ...) by name,
// each family in natural order (ttyS2 before ttyS10). Empty when the sysfs
// folder cannot be read.
std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots& roots = {});

}  // namespace velmora
