// No pseudo-terminals on Windows: only the in-memory splicer runs here.
#include "sim/splicer_line.h"

namespace velmora::sim {

std::unique_ptr<SplicerLine> OpenPtyLine(std::string&, std::string* error) {
    if (error)
        *error =
            "a virtual splicer on a serial port needs a pseudo-terminal, which Windows does not "
            "have; use the in-memory one (velmora --demo)";
    return nullptr;
}

}  // namespace velmora::sim
