// The serial ports Windows knows: its serial port map in the registry
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), each with the friendly name SetupAPI
// gives its device, e.g. "USB-SERIAL CH340 (COM3)". The DiscoveryRoots are
// sysfs paths and play no part here.
#include <windows.h>
// SetupAPI needs the types windows.h declares first.
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "base/windows_error.h"
#include "serial/port_discovery.h"

namespace velmora {
namespace {

// The Ports device class ({4D36E978-E325-11CE-BFC1-08002BE10318}), spelled out
// so that no GUID library is needed.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Narrow(const std::wstring& wide) {
    return NarrowFromWide(wide.data(), static_cast<int>(wide.size()));
}

// A registry string as read, without its terminating zeros.
std::wstring TrimZeros(std::wstring text) {
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

// The COM names of the serial port map.
std::vector<std::string> MappedPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[256] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        std::wstring port = TrimZeros(std::wstring(data, dataBytes / sizeof(wchar_t)));
        if (!port.empty()) ports.push_back(Narrow(port));
    }
    RegCloseKey(key);
    return ports;
}

// COM name -> friendly name, for the ports SetupAPI lists as present.
std::map<std::string, std::string> FriendlyNames() {
    std::map<std::string, std::string> names;
    HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        std::wstring port;
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            wchar_t data[256] = {};
            DWORD bytes = sizeof data - sizeof(wchar_t);
            DWORD type = 0;
            if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(data),
                                 &bytes) == ERROR_SUCCESS &&
                type == REG_SZ)
                port = TrimZeros(std::wstring(data, bytes / sizeof(wchar_t)));
            RegCloseKey(key);
        }
        wchar_t friendly[512] = {};
        DWORD type = 0;
        if (port.empty() ||
            !SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(friendly),
                                               sizeof friendly - sizeof(wchar_t), nullptr))
            continue;
        names.emplace(Narrow(port), Narrow(TrimZeros(friendly)));
    }
    SetupDiDestroyDeviceInfoList(devices);
    return names;
}

// COM2 before COM10: the name's letters, then its number.
struct NaturalKey {
    std::string prefix;
    unsigned long number;
    bool hasNumber;
    auto operator<=>(const NaturalKey&) const = default;
};

NaturalKey KeyOf(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
    NaturalKey key{name.substr(0, digits), 0, digits < name.size() && name.size() - digits <= 9};
    if (key.hasNumber)
        key.number = std::stoul(name.substr(digits));
    else
        key.prefix = name;
    std::transform(key.prefix.begin(), key.prefix.end(), key.prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

}  // namespace

std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots&) {
    std::vector<std::string> mapped = MappedPorts();
    std::sort(mapped.begin(), mapped.end(),
              [](const std::string& a, const std::string& b) { return KeyOf(a) < KeyOf(b); });
    mapped.erase(std::unique(mapped.begin(), mapped.end()), mapped.end());
    const std::map<std::string, std::string> friendly = FriendlyNames();
    std::vector<PortEntry> ports;
    for (std::string& name : mapped) {
        auto it = friendly.find(name);
        ports.push_back({std::move(name), it != friendly.end() ? it->second : std::string()});
    }
    return ports;
}

}  // namespace velmora
