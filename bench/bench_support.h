#pragma once
// What the benchmarks share: clocks, one way of stating goals and reporting figures
// against them, and (in the programs built with Qt) a probe of the window thread's
// stalls and a closer of the real message boxes.
//
// A benchmark fills a Goals with its figures and returns Finish(): non-zero when a
// goal was missed or a figure was not measured (the run did not do what it says, or
// could not be made fair). Finish() also appends one line a figure to the file named
// by VELMORA_BENCH_SUMMARY (tab-separated: bench, figure, goal, value, verdict), which
// `make bench` prints as one table once every benchmark has run.
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sim/virtual_splicer.h"

namespace velmora::bench {

inline double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of CLOCK_THREAD_CPUTIME_ID or CLOCK_PROCESS_CPUTIME_ID, in seconds.
inline double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Time `bytes` take on a line of `baud` bit/s: ten bits a byte.
inline double LineSeconds(std::size_t bytes, int baud) {
    return static_cast<double>(bytes) * 10.0 / baud;
}

// The program's resident memory now, in MB (0 where /proc does not tell).
// `field` of /proc/self/status in MB: VmRSS the resident set now, VmHWM its peak.
inline double StatusMb(const char* field = "VmRSS:") {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    double mb = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            mb = std::atof(line + std::strlen(field)) / 1024.0;
    std::fclose(status);
    return mb;
}
inline double ResidentMb() {
    return StatusMb("VmRSS:");
}
// The resident set's peak since ResetPeakResident (Linux keeps it per process).
inline double PeakResidentMb() {
    return StatusMb("VmHWM:");
}
inline void ResetPeakResident() {
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

// A number with `decimals` decimals, as the figures are printed.
inline std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

enum class Verdict { Met, Missed, NotMeasured };

inline const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Met:
            return "met";
        case Verdict::Missed:
            return "MISSED";
        case Verdict::NotMeasured:
            return "NOT MEASURED";
    }
    return "?";
}

// The goals of one benchmark and its figures against them.
class Goals {
  public:
    explicit Goals(std::string bench) : bench_(std::move(bench)) {}

    // `value` must stay under `limit` (strictly).
    Verdict Under(const std::string& what, double value, double limit, const std::string& unit,
                  int decimals = 2) {
        return Record(what, "under " + Fixed(limit, Decimals(limit)) + " " + unit,
                      Fixed(value, decimals) + " " + unit,
                      value < limit ? Verdict::Met : Verdict::Missed);
    }
    // `value` may reach `limit` but not pass it.
    Verdict AtMost(const std::string& what, double value, double limit, const std::string& unit,
                   int decimals = 2) {
        return Record(what, "at most " + Fixed(limit, Decimals(limit)) + " " + unit,
                      Fixed(value, decimals) + " " + unit,
                      value <= limit ? Verdict::Met : Verdict::Missed);
    }
    // What the figures stand on (rows listed, bytes written, boxes answered): when it
    // is not what the run was meant to do, the figures beside it measured something
    // else, so it counts as not measured.
    bool Expect(const std::string& what, long long got, long long wanted) {
        const bool ok = got == wanted;
        Record(what, std::to_string(wanted), std::to_string(got),
               ok ? Verdict::Met : Verdict::NotMeasured);
        return ok;
    }
    // A figure that could not be measured, and why.
    void NotMeasured(const std::string& what, const std::string& why) {
        Record(what, "-", why, Verdict::NotMeasured);
    }

    bool AllMet() const { return failures_ == 0; }

    // Prints the closing line, appends the figures to the summary file, and returns
    // the program's exit code: 0 when every goal was met and every figure measured.
    int Finish() const {
        std::printf(
            "%s: %s\n", bench_.c_str(),
            failures_ == 0 ? "RESULT: all goals met" : "RESULT: a goal was MISSED or NOT MEASURED");
        std::fflush(stdout);
        if (const char* path = std::getenv("VELMORA_BENCH_SUMMARY"); path && *path) {
            if (std::FILE* file = std::fopen(path, "a")) {
                for (const Line& line : lines_)
                    std::fprintf(file, "%s\t%s\t%s\t%s\t%s\n", bench_.c_str(), line.what.c_str(),
                                 line.goal.c_str(), line.value.c_str(), VerdictText(line.verdict));
                std::fclose(file);
            }
        }
        return failures_ == 0 ? 0 : 1;
    }

  private:
    struct Line {
        std::string what, goal, value;
        Verdict verdict;
    };

    static int Decimals(double limit) { return limit == static_cast<long long>(limit) ? 0 : 2; }

    Verdict Record(const std::string& what, std::string goal, std::string value, Verdict verdict) {
        std::printf("  %-58s %14s  (goal: %s)  %s\n", what.c_str(), value.c_str(), goal.c_str(),
                    VerdictText(verdict));
        std::fflush(stdout);
        if (verdict != Verdict::Met) ++failures_;
        lines_.push_back({what, std::move(goal), std::move(value), verdict});
        return verdict;
    }

    std::string bench_;
    std::vector<Line> lines_;
    int failures_ = 0;
};

// Up to `tries` runs of `run`, which returns false when its run could not be made
// fair (say, the virtual splicer fell behind the line) and says why; a later run
// replaces it. False when none of them was fair.
template <typename Run>
bool FairRun(int tries, Run&& run) {
    for (int attempt = 1; attempt <= tries; ++attempt) {
        if (run()) return true;
        std::printf("  (run %d of %d discarded)\n", attempt, tries);
    }
    return false;
}

// Whether the virtual splicer's own pacing kept to the line while bytes moved in
// `direction` ("sent", "taken in"): said either way. False when its lag pushed the
// last byte more than `toleranceMs` past the line's schedule: a figure that relies
// on the line rate would then measure the splicer, so the run is discarded.
inline bool SplicerKeptPace(const sim::VirtualSplicer::PaceLag& lag, const char* direction,
                            double toleranceMs) {
    const double behind = Milliseconds(lag.Behind());
    const bool kept = behind <= toleranceMs;
    std::printf(
        "  virtual splicer, bytes %s: %.2f ms behind the line by its own doing (lost %.2f ms, "
        "last step %.2f ms late, worst step %.2f ms late; tolerated %.1f ms)%s\n",
        direction, behind, Milliseconds(lag.lost), Milliseconds(lag.lastLate),
        Milliseconds(lag.worstLate), toleranceMs, kept ? "" : "  FELL BEHIND THE LINE");
    return kept;
}

// The splicer's last reply against the line rate: its send timeline (first byte
// on the line to last byte written) beside the reply's line time. False when it is
// not the reply of `bytes` bytes, or came more than `toleranceMs` later than the
// line allows, or the splicer's own pacing fell behind (then said so).
inline bool ReplyKeptPace(const sim::VirtualSplicer& splicer, std::size_t bytes, int baud,
                          double toleranceMs) {
    const sim::VirtualSplicer::ReplyTimeline reply = splicer.LastReplyTimeline();
    if (reply.bytes != bytes) {
        std::printf("  virtual splicer: its last reply held %zu bytes, not %zu\n", reply.bytes,
                    bytes);
        return false;
    }
    const double line = LineSeconds(bytes, baud);
    const double took = Seconds(reply.end - reply.start);
    const bool timely = (took - line) * 1e3 <= toleranceMs;
    std::printf("  virtual splicer sent %zu bytes in %.3f s, line time %.3f s (%+.2f ms)%s\n",
                bytes, took, line, (took - line) * 1e3, timely ? "" : "  FELL BEHIND THE LINE");
    return SplicerKeptPace(splicer.SendLag(), "sent", toleranceMs) && timely;
}

// Where a benchmark writes its files: the folder its first argument names (kept
// afterwards, to be looked at), else a fresh temporary one, removed when this goes.
class ScratchFolder {
  public:
    ScratchFolder(int argc, char** argv, const char* name) : keep_(argc > 1) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
        if (keep_) {
            pattern = argv[1];
            std::filesystem::create_directories(pattern);
        } else if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return;
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!keep_ && !path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // Empty when no folder could be made.
    const std::filesystem::path& Path() const { return path_; }

  private:
    bool keep_;
    std::filesystem::path path_;
};

}  // namespace velmora::bench

#if __has_include(<QTimer>)
#include <fcntl.h>
#include <unistd.h>

#include <QTimer>

namespace velmora::bench {

// Watches the window thread's event loop: a precise timer beats every `interval`
// on that thread, and each beat notes how long it came after the last one. The
// longest gap is an upper bound of the longest time the thread could not answer
// an event (a click, a repaint): a stall shorter than the interval may go unseen,
// none longer. The thread's scheduler state tells the program's stalls from the
// machine's: the time the thread was ready but waited for a CPU (run_delay of
// /proc/thread-self/schedstat) is taken off each gap, so that another program
// busy on the same cores does not count as a stall of this one. Both figures are
// kept; the lateness of the beats (a gap less the interval and that wait) goes
// into a histogram. Its own cost is a few microseconds a beat: keep it off CPU
// measurements.
class StallProbe {
  public:
    using Clock = std::chrono::steady_clock;
    // Upper bounds (ms) of the histogram's buckets of lateness; the last is open.
    static constexpr std::array<double, 7> kBucketMs = {1, 2, 4, 8, 16, 32, 64};

    // Made on the thread it watches.
    explicit StallProbe(std::chrono::milliseconds interval = std::chrono::milliseconds(2))
        : interval_(interval), schedstat_(::open("/proc/thread-self/schedstat", O_RDONLY)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(interval_));
        QObject::connect(&timer_, &QTimer::timeout, [this] { Beat(); });
    }
    ~StallProbe() {
        if (schedstat_ >= 0) ::close(schedstat_);
    }
    StallProbe(const StallProbe&) = delete;
    StallProbe& operator=(const StallProbe&) = delete;

    // Starts a fresh watch (figures of an earlier one are forgotten).
    void Start() {
        worstGap_ = worstOwn_ = waited_ = Clock::duration::zero();
        buckets_.fill(0);
        beats_ = 0;
        last_ = Clock::now();
        lastDelay_ = RunDelay();
        timer_.start();
    }
    // Ends the watch; the time since the last beat counts as a gap too.
    void Stop() {
        if (!timer_.isActive()) return;
        Beat();
        timer_.stop();
    }

    // The longest gap between beats by the program's own doing, in ms: the gap
    // less the time the thread waited for a CPU in it.
    double WorstStallMs() const { return Milliseconds(worstOwn_); }
    // The longest gap as the clock on the wall saw it, in ms.
    double WorstGapMs() const { return Milliseconds(worstGap_); }
    // All the time the thread was ready but waited for a CPU, in ms.
    double WaitedForCpuMs() const { return Milliseconds(waited_); }
    bool SeesScheduler() const { return schedstat_ >= 0; }
    long Beats() const { return beats_; }
    // "lateness of the beats (ms): <1 4012, <2 12, ..." without the empty buckets.
    std::string Histogram() const {
        std::string text = "lateness of the beats (ms):";
        for (std::size_t i = 0; i < buckets_.size(); ++i) {
            if (buckets_[i] == 0) continue;
            text += i < kBucketMs.size() ? " <" + Fixed(kBucketMs[i], 0)
                                         : " >=" + Fixed(kBucketMs.back(), 0);
            text += " " + std::to_string(buckets_[i]) + ",";
        }
        if (text.back() == ',') text.pop_back();
        return text;
    }

  private:
    // The thread's time spent waiting on a run queue so far (0 when unknown).
    Clock::duration RunDelay() const {
        if (schedstat_ < 0) return {};
        char text[128];
        const ssize_t n = ::pread(schedstat_, text, sizeof text - 1, 0);
        if (n <= 0) return {};
        text[n] = '\0';
        unsigned long long running = 0, waiting = 0;
        if (std::sscanf(text, "%llu %llu", &running, &waiting) != 2) return {};
        return std::chrono::nanoseconds(waiting);
    }

    void Beat() {
        const Clock::time_point now = Clock::now();
        const Clock::duration delay = RunDelay();
        const Clock::duration gap = now - last_;
        const Clock::duration waited = std::max(Clock::duration::zero(), delay - lastDelay_);
        const Clock::duration own = std::max(Clock::duration::zero(), gap - waited);
        last_ = now;
        lastDelay_ = delay;
        ++beats_;
        waited_ += waited;
        worstGap_ = std::max(worstGap_, gap);
        worstOwn_ = std::max(worstOwn_, own);
        const double lateMs = Milliseconds(own - interval_);
        std::size_t bucket = 0;
        while (bucket < kBucketMs.size() && lateMs >= kBucketMs[bucket]) ++bucket;
        ++buckets_[bucket];
    }

    Clock::duration interval_;
    int schedstat_;
    QTimer timer_;
    Clock::time_point last_{};
    Clock::duration lastDelay_{};
    Clock::duration worstGap_{};
    Clock::duration worstOwn_{};
    Clock::duration waited_{};
    std::array<long, kBucketMs.size() + 1> buckets_{};
    long beats_ = 0;
};

}  // namespace velmora::bench
#endif

#if __has_include(<QMessageBox>)
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace velmora::bench {

// Answers the program's real message boxes as a quick user would: a timer on the
// window thread finds a box once it is shown and, on its next beat, clicks Yes
// where it asks and OK where it tells. Every box it answered is kept.
class BoxCloser {
  public:
    struct Box {
        QString text;
        bool question = false;
    };

    explicit BoxCloser(std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start();
    }

    const std::vector<Box>& Answered() const { return answered_; }
    // Beats after each look, for a caller that waits on the boxes.
    const QTimer& Timer() const { return timer_; }
    // How many of the answered boxes held `part` in their text.
    int Count(const QString& part) const {
        return static_cast<int>(std::count_if(answered_.begin(), answered_.end(),
                                              [&](const Box& b) { return b.text.contains(part); }));
    }
    void Forget() { answered_.clear(); }

  private:
    void Look() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible()) continue;
            if (box != seen_) {  // seen once; answered on the next beat
                seen_ = box;
                return;
            }
            seen_ = nullptr;
            QAbstractButton* button = box->button(QMessageBox::Yes);
            const bool question = button != nullptr;
            if (!button) button = box->button(QMessageBox::Ok);
            if (!button) button = box->buttons().value(0);
            answered_.push_back({box->text(), question});
            if (getenv("EXP_TRACE"))
                fprintf(stderr, "%.3f CLICK box\n",
                        Seconds(std::chrono::steady_clock::now().time_since_epoch()));
            if (button) button->click();
            return;
        }
    }

    QTimer timer_;
    QMessageBox* seen_ = nullptr;
    std::vector<Box> answered_;
};

}  // namespace velmora::bench
#endif
