// The Windows twins of src/serial: COM names (above COM9 too), the port map,
// and waits on a quiet line. A real port comes from the test script:
// VELMORA_TEST_PORT names a COM port (e.g. COM12) with a virtual splicer behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

std::string TestPort() {
    const char* port = std::getenv("VELMORA_TEST_PORT");
    return port ? port : "";
}

TEST(SerialPortWin32, NamesThatAreNoSerialPortAreRefusedClearly) {
    test::TempDir dir;
    const std::string file = dir.Write("not-a-port", "x").string();
    struct Case {
        std::string device;
        std::string error;  // how LastError() begins
    };
    const Case cases[] = {
        {"COM231", "COM231: "},
        {file, file + ": not a serial port"},
    };
    for (const Case& c : cases) {
        SerialPort port;
        EXPECT_FALSE(port.OpenPort(c.device, 115200)) << c.device;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.LastError().substr(0, c.error.size()), c.error) << port.LastError();
    }
}

TEST(SerialPortWin32, AQuietLineTimesOutAndStaysOpen) {
    const std::string name = TestPort();
    if (name.empty()) GTEST_SKIP() << "VELMORA_TEST_PORT is not set";
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(name, 115200)) << port.LastError();
    EXPECT_EQ(port.ActualSpeed(), 115200);
    EXPECT_EQ(port.WaitReadable(0ms), WaitResult::TimedOut);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WaitReadable(200ms), WaitResult::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 5s);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.WasLost());
    port.ClosePort();
    EXPECT_EQ(port.WaitReadable(10ms), WaitResult::NotOpen);
}

TEST(PortDiscoveryWin32, ThePortMapInNaturalOrderWithFriendlyNames) {
    const std::string name = TestPort();
    if (name.empty()) GTEST_SKIP() << "VELMORA_TEST_PORT is not set";
    const std::vector<PortEntry> ports = DiscoverPorts();
    const auto found = std::find_if(ports.begin(), ports.end(),
                                    [&](const PortEntry& p) { return p.device == name; });
    EXPECT_NE(found, ports.end()) << name << " is not in the port map";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const PortEntry& p = ports[i];
        ASSERT_GT(p.device.size(), 3u);
        if (i > 0 && ports[i - 1].device.starts_with("COM") && p.device.starts_with("COM")) {
            EXPECT_LT(std::stoi(ports[i - 1].device.substr(3)), std::stoi(p.device.substr(3)));
        }
        // Device Manager's name ends with the port: "USB-SERIAL CH340 (COM3)".
        if (!p.description.empty())
            EXPECT_TRUE(p.description.ends_with("(" + p.device + ")")) << p.description;
    }
}

}  // namespace
}  // namespace velmora
