// What the serial port does alike on every platform.
#include "serial/serial_port.h"

#include <algorithm>

namespace velmora {

long SerialPort::SendBytes(std::span<const std::uint8_t> data) {
    if (!IsOpen()) return -1;
    // Bytes that arrived before a request are stale. Our own earlier output is
    // never purged: the driver may still be sending it after a write has returned.
    DiscardInput();
    for (std::size_t done = 0; done < data.size(); done += kWritePiece) {
        const std::size_t piece = std::min(kWritePiece, data.size() - done);
        if (!WriteAll(data.data() + done, piece)) return -1;
    }
    return static_cast<long>(data.size());
}

}  // namespace velmora
