#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "sim/firmware_commands.h"

namespace velmora::test {

TempDir::TempDir() {
    // A random name created exclusively: create_directory is false when it exists.
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / ("velmora-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made under " + base.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::Write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << bytes;
    return full;
}

ScopedConfig::ScopedConfig(const AppConfig& config) : previous_(Config()) {
    InstallConfig(config);
}

ScopedConfig::ScopedConfig(int englishFlag, const std::filesystem::path& dir)
    : previous_(Config()) {
    AppConfig config;
    config.EnglishFlag = englishFlag;
    config.AppDirectory = dir;
    InstallConfig(config);
}

ScopedConfig::~ScopedConfig() {
    InstallConfig(previous_);
}

void SplicerTest::SetUp() {
    english = std::make_unique<ScopedConfig>(1);
    sim::SplicerOptions options;
    options.fast = true;
    options.inMemory = true;
    Restart(options);
}

void SplicerTest::TearDown() {
    link.Port().ClosePort();
    splicer.reset();
    english.reset();
}

void SplicerTest::Restart(sim::SplicerOptions options) {
    link.Port().ClosePort();
    splicer = std::make_unique<sim::VirtualSplicer>(options);
    std::string error;
    ASSERT_TRUE(splicer->Start(&error)) << error;
}

bool SplicerTest::OpenLink(int speed) {
    std::string reason;
    bool ok = link.OpenPort(splicer->PortPath(), speed, &reason);
    EXPECT_TRUE(ok) << reason;
    return ok;
}

std::vector<std::uint8_t> SplicerTest::Commands() const {
    std::vector<std::uint8_t> commands;
    for (const auto& frame : splicer->ReceivedFrames()) commands.push_back(frame.at(1));
    return commands;
}

std::size_t SplicerTest::FramesOf(std::uint8_t command) const {
    const auto all = Commands();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), command));
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FirmwareBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    return bytes;
}

std::uint32_t CrcOf(const std::string& bytes) {
    return sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

SpliceRecord RecordAt(int minute, int result, int loss) {
    SpliceRecord r;
    const int since = 8 * 60 + minute;  // minutes since 2026-03-01 00:00
    const int fields[] = {26, 3, 1 + since / 1440, since / 60 % 24, since % 60, 0, result};
    for (int i = 0; i < 7; ++i) r.bytes[i] = static_cast<std::uint8_t>(fields[i]);
    r.bytes[8] = static_cast<std::uint8_t>(loss & 0xFF);
    r.bytes[9] = static_cast<std::uint8_t>(loss >> 8);
    return r;
}

}  // namespace velmora::test
