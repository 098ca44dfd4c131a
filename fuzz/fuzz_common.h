#pragma once
// Shared by the harnesses: the English run they all assume, a reader that hands
// out the fuzzer's bytes piece by piece, and a check that aborts loudly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "base/app_config.h"

namespace velmora_fuzz {

// English, and a working directory without par/, so that every caption is the
// program's own default and no lookup touches the disk for long.
inline void InstallEnglishConfig() {
    velmora::AppConfig config;
    config.EnglishFlag = 1;
    config.AppDirectory = "/nonexistent/velmora-fuzz";
    velmora::InstallConfig(config);
}

// Takes the fuzzer's input from the front: single control bytes and chunks.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    std::size_t Left() const { return size_ - at_; }

    std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }

    std::span<const std::uint8_t> Take(std::size_t n) {
        n = std::min(n, Left());
        std::span<const std::uint8_t> out(data_ + at_, n);
        at_ += n;
        return out;
    }
    std::span<const std::uint8_t> Rest() { return Take(Left()); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

inline std::string_view AsText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

}  // namespace velmora_fuzz

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::velmora_fuzz::Fail(#cond, __FILE__, __LINE__))
