#include "serial/port_discovery.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// A fake /sys and /dev laid out as the kernel does: /sys/class/tty/<name> links
// into /sys/devices, where `device` and `device/driver` are links again.
class FakeSysfs {
  public:
    FakeSysfs() {
        fs::create_directories(Tty());
        fs::create_directories(Dev() / "serial" / "by-id");
    }
    fs::path Tty() const { return dir_.path() / "sys" / "class" / "tty"; }
    fs::path Dev() const { return dir_.path() / "dev"; }
    DiscoveryRoots Roots() const { return {Tty(), Dev()}; }

    // A tty whose device sits at devices/<devicePath>, bound to `driver` ("" for none).
    fs::path AddTty(const std::string& name, const std::string& devicePath,
                    const std::string& driver) {
        const fs::path device = dir_.path() / "sys" / "devices" / devicePath;
        const fs::path node = device / "tty" / name;
        fs::create_directories(node);
        fs::create_directory_symlink(device, node / "device");
        if (!driver.empty()) {
            const fs::path driverDir = dir_.path() / "sys" / "bus" / "drivers" / driver;
            fs::create_directories(driverDir);
            fs::create_directory_symlink(driverDir, device / "driver");
        }
        fs::create_directory_symlink(node, Tty() / name);
        return node;
    }
    void Write(const fs::path& file, const std::string& text) const { std::ofstream(file) << text; }
    void AddById(const std::string& linkName, const std::string& tty) {
        fs::create_symlink("../../" + tty, Dev() / "serial" / "by-id" / linkName);
    }
    fs::path Devices() const { return dir_.path() / "sys" / "devices"; }

  private:
    test::TempDir dir_;
};

TEST(PortDiscovery, ListsRealPortsWithFriendlyNamesInOrder) {
    FakeSysfs sys;
    EXPECT_TRUE(DiscoverPorts({sys.Tty() / "absent", sys.Dev()}).empty());
    // A USB adapter named through /dev/serial/by-id.
    sys.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    sys.AddById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    // A second adapter with only the USB product string two levels up.
    sys.AddTty("ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1", "ch341-uart");
    sys.Write(sys.Devices() / "usb1/1-2/product", "USB Serial\n");
    sys.Write(sys.Devices() / "usb1/1-2/manufacturer", "QinHeng\n");
    // A CDC-ACM device whose product already names its maker.
    sys.AddTty("ttyACM0", "usb1/1-3/1-3:1.0", "cdc_acm");
    sys.Write(sys.Devices() / "usb1/1-3/product", "Acme Splice Link");
    sys.Write(sys.Devices() / "usb1/1-3/manufacturer", "Acme");
    // On-board UARTs: real ones (type 4 = 16550A), placeholders (type 0), and
    // one without a type attribute bound to the placeholder driver.
    fs::path s0 = sys.AddTty("ttyS0", "pnp0/00:05", "serial");
    sys.Write(s0 / "type", "4\n");
    fs::path s10 = sys.AddTty("ttyS10", "platform/serial8250/s10", "serial8250");
    sys.Write(s10 / "type", "4");
    fs::path s2 = sys.AddTty("ttyS2", "platform/serial8250/s2", "serial8250");
    sys.Write(s2 / "type", "4");
    fs::path s1 = sys.AddTty("ttyS1", "platform/serial8250/s1", "serial8250");
    sys.Write(s1 / "type", "0");
    sys.AddTty("ttyS3", "platform/serial8250/s3", "serial8250");
    // Other families with a driver: listed after the known ones, by name.
    fs::path ama = sys.AddTty("ttyAMA0", "platform/fe201000.serial", "uart-pl011");
    sys.Write(ama / "type", "4");
    sys.AddTty("ttyXRUSB1", "usb1/1-4/1-4:1.0/ttyXRUSB1", "xr_usb_serial");
    sys.AddTty("rfcomm0", "virtual/bluetooth/rfcomm0", "rfcomm");
    // Not serial lines, or not bound to any driver.
    sys.AddTty("tty0", "virtual/tty0", "vt");
    sys.AddTty("ttyUSB7", "usb1/1-9/1-9:1.0/ttyUSB7", "");
    sys.AddTty("ttyUSBx", "usb1/1-8/ttyUSBx", "ftdi_sio");

    const std::vector<PortEntry> ports = DiscoverPorts(sys.Roots());
    const std::string dev = sys.Dev().string();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {dev + "/ttyUSB0", "FTDI FT232R USB UART A50285BI"},
        {dev + "/ttyUSB1", "QinHeng USB Serial"},
        {dev + "/ttyACM0", "Acme Splice Link"},
        {dev + "/ttyS0", ""},
        {dev + "/ttyS2", ""},
        {dev + "/ttyS10", ""},
        {dev + "/rfcomm0", ""},
        {dev + "/ttyAMA0", ""},
        {dev + "/ttyXRUSB1", ""},
    };
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].device, expected[i].first) << i;
        EXPECT_EQ(ports[i].description, expected[i].second) << i;
    }
}

}  // namespace
}  // namespace velmora
