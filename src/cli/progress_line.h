#pragma once
// A progress line on standard error that rewrites itself in place, shown only
// when standard error is a terminal; otherwise nothing extra is printed.
#include <chrono>
#include <cstdio>
#include <string>

namespace velmora::cli {

class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* out = stderr);
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool Enabled() const { return enabled_; }
    // Replaces the line's text (at most ten times a second, unless `now` is set).
    void Show(const std::string& text, bool now = false);
    // Removes the line, so that what follows starts on a clean line.
    void Clear();

  private:
    std::FILE* out_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastShown_{};
};

}  // namespace velmora::cli
