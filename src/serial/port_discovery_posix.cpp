#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>

#include "serial/port_discovery.h"

namespace velmora {
namespace fs = std::filesystem;
namespace {

// Name families listed first, in this order: USB adapters first, since a splicer
// is nearly always plugged in through one. Any other tty with a driver behind it
// follows (adapters with drivers of their own, Bluetooth serial links, ...).
constexpr std::array<std::string_view, 3> kFamilies = {"ttyUSB", "ttyACM", "ttyS"};

// Longest sysfs attribute text we take; they are short, but nothing is trusted.
constexpr std::size_t kAttributeCap = 256;

struct TtyName {
    std::size_t family;  // index into kFamilies; kFamilies.size() for any other
    std::string prefix;  // the name before its number ("ttyAMA")
    unsigned long number;
};

// "ttyUSB12" -> {ttyUSB, 12}; "ttyAMA0" and "rfcomm1" are other families, listed
// after the known ones. Nothing for a name that does not end in a number of at
// most six digits, or is nothing but one.
std::optional<TtyName> ParseTtyName(std::string_view name) {
    const std::size_t digitsAt = name.find_last_not_of("0123456789") + 1;
    const std::string_view prefix = name.substr(0, digitsAt);
    const std::string_view digits = name.substr(digitsAt);
    if (prefix.empty() || digits.empty() || digits.size() > 6) return std::nullopt;
    unsigned long number = 0;
    for (char c : digits) number = number * 10 + static_cast<unsigned long>(c - '0');
    const auto known = std::find(kFamilies.begin(), kFamilies.end(), prefix);
    return TtyName{static_cast<std::size_t>(known - kFamilies.begin()), std::string(prefix),
                   number};
}

std::string Trim(std::string text) {
    const char* blanks = " \t\r\n";
    text.erase(0, std::min(text.find_first_not_of(blanks), text.size()));
    text.erase(text.find_last_not_of(blanks) + 1);
    return text;
}

// First line of a sysfs attribute, trimmed; "" when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return {};
    std::string line(kAttributeCap, '\0');
    in.getline(line.data(), static_cast<std::streamsize>(line.size()));
    line.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    line.erase(std::find(line.begin(), line.end(), '\0'), line.end());
    return Trim(std::move(line));
}

// An on-board UART is listed only with hardware behind it. The 8250 driver
// registers placeholder ports of type 0 (unknown) that answer nothing.
bool HasRealUart(const fs::path& entry) {
    std::error_code ec;
    std::string type = ReadAttribute(entry / "type");
    if (!type.empty()) return type != "0";
    fs::path driver = fs::read_symlink(entry / "device" / "driver", ec);
    return !ec && driver.filename() != "serial8250";
}

bool HasDriver(const fs::path& entry) {
    std::error_code ec;
    return fs::exists(entry / "device" / "driver", ec);
}

// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" -> "FTDI FT232R USB UART A50285BI".
std::string FriendlyFromById(std::string name) {
    for (std::string_view bus : {"usb-", "pci-", "platform-"}) {
        if (name.starts_with(bus)) {
            name.erase(0, bus.size());
            break;
        }
    }
    for (std::string_view tail : {"-port", "-if"}) {
        std::size_t at = name.rfind(tail);
        if (at != std::string::npos && at > 0) name.erase(at);
    }
    std::replace(name.begin(), name.end(), '_', ' ');
    name.erase(
        std::unique(name.begin(), name.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
        name.end());
    return Trim(std::move(name));
}

// Device name (ttyUSB0) -> friendly name from the /dev/serial/by-id links.
std::map<std::string, std::string> ByIdNames(const fs::path& dev) {
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dev / "serial" / "by-id", ec), end; !ec && it != end;
         it.increment(ec)) {
        fs::path target = fs::read_symlink(it->path(), ec);
        if (ec) {
            ec.clear();
            continue;
        }
        names.emplace(target.filename().string(), FriendlyFromById(it->path().filename()));
    }
    return names;
}

// The USB device's own product string, found by walking up from the tty's device.
std::string UsbProduct(const fs::path& entry) {
    std::error_code ec;
    fs::path dir = fs::canonical(entry / "device", ec);
    if (ec) return {};
    for (int up = 0; up < 5 && dir.has_relative_path(); ++up, dir = dir.parent_path()) {
        std::string product = ReadAttribute(dir / "product");
        if (product.empty()) continue;
        std::string maker = ReadAttribute(dir / "manufacturer");
        if (maker.empty() || product.find(maker) != std::string::npos) return product;
        return maker + " " + product;
    }
    return {};
}

}  // namespace

std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots& roots) {
    struct Found {
        TtyName order;
        PortEntry entry;
    };
    std::vector<Found> found;
    const std::map<std::string, std::string> byId = ByIdNames(roots.dev);
    std::error_code ec;
    for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::optional<TtyName> tty = ParseTtyName(name);
        // tty0, tty1 ... are the virtual consoles, never a line to a splicer.
        if (!tty || tty->prefix == "tty" || !HasDriver(it->path())) continue;
        // UARTs of the 8250 driver are registered as placeholders whatever their name.
        if ((tty->prefix == "ttyS" || tty->prefix == "ttyAMA") && !HasRealUart(it->path()))
            continue;
        PortEntry entry{(roots.dev / name).string(), {}};
        if (auto named = byId.find(name); named != byId.end()) entry.description = named->second;
        if (entry.description.empty()) entry.description = UsbProduct(it->path());
        found.push_back({*tty, std::move(entry)});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.order.family != b.order.family) return a.order.family < b.order.family;
        if (a.order.prefix != b.order.prefix) return a.order.prefix < b.order.prefix;
        return a.order.number < b.order.number;
    });
    std::vector<PortEntry> ports;
    for (Found& f : found) ports.push_back(std::move(f.entry));
    return ports;
}

}  // namespace velmora
