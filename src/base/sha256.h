#pragma once
// SHA-256 (FIPS 180-4), to fingerprint the images the archive keeps account of.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Fed in pieces of any size; Finish() once, after the last piece.
class Sha256 {
  public:
    Sha256();
    void Update(std::span<const std::uint8_t> data);
    Sha256Digest Finish();

  private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes fed so far
};

Sha256Digest Sha256Of(std::span<const std::uint8_t> data);

// 64 lowercase hexadecimal digits.
std::string HexText(const Sha256Digest& digest);

}  // namespace velmora
