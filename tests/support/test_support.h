#pragma once
// Shared test helpers: scratch folders, language settings, and a link already
// open on an in-process virtual splicer.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/app_config.h"
#include "history/splice_record.h"
#include "protocol/link.h"
#include "sim/virtual_splicer.h"

namespace velmora::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes `bytes` to `relative` (creating folders) and returns its full path.
    std::filesystem::path Write(const std::string& relative, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};

// Installs a configuration for the test's duration and restores the previous one.
class ScopedConfig {
  public:
    explicit ScopedConfig(const AppConfig& config);
    // English (flag 1) or Chinese (flag 0) run with AppDirectory `dir`.
    ScopedConfig(int englishFlag, const std::filesystem::path& dir = {});
    ~ScopedConfig();

  private:
    AppConfig previous_;
};

// A virtual splicer (unpaced and in memory unless told otherwise) and a Link
// that opens its line.
class SplicerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Restarts the splicer with other options (the link is closed first).
    void Restart(sim::SplicerOptions options);
    bool OpenLink(int speed = 115200);
    // The command bytes of the frames the splicer received, in order; how many had `command`.
    std::vector<std::uint8_t> Commands() const;
    std::size_t FramesOf(std::uint8_t command) const;

    std::unique_ptr<sim::VirtualSplicer> splicer;
    Link link{sim::OpenerFor(splicer)};
    std::unique_ptr<ScopedConfig> english;
};

// A good splice record made on 31 December 2026 at 23:59:09.
inline constexpr std::array<std::uint8_t, 34> kExample = {
    0x1A, 0x0C, 0x1F, 0x17, 0x3B, 0x09, 0x00, 0x00, 0x0F, 0x00, 0x05, 0x00,
    0x0C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0A, 0x00, 0xFE, 0xFF,
    0x64, 0x00, 0xB4, 0x00, 0x2C, 0x01, 0xD0, 0x07, 0x1E, 0x00};

// A splice record made `minute` minutes after 2026-03-01 08:00 (so each minute's is
// its own), judged `result` (0 success, 1 failure) with `loss` hundredths of a dB.
SpliceRecord RecordAt(int minute, int result = 0, int loss = 2);

// The whole file, as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& path);

// Firmware of `size` bytes that differ from position to position, so that a lost
// or repeated piece shows, and the CRC-32 the virtual splicer reports for it.
std::string FirmwareBytes(std::size_t size);
std::uint32_t CrcOf(const std::string& bytes);

// The bytes as "87 60 01 00 E8", for readable failure messages.
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace velmora::test
