#include "cli/progress_line.h"

#include <unistd.h>

namespace velmora::cli {

ProgressLine::ProgressLine(std::FILE* out) : out_(out), enabled_(isatty(fileno(out)) == 1) {}

void ProgressLine::Show(const std::string& text, bool now) {
    if (!enabled_) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && shown_ && time - lastShown_ < std::chrono::milliseconds(100)) return;
    lastShown_ = time;
    shown_ = true;
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
}

void ProgressLine::Clear() {
    if (!shown_) return;
    shown_ = false;
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
}

}  // namespace velmora::cli
