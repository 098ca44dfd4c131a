// Measures waiting for a reply through Link::Exchange, with a pump like the
// window's (a function doing a little work on every pass):
//  1. CPU used while waiting 1 s for a splicer that says nothing (goal: under 2 %
//     of one core), with and without the pump;
//  2. how soon a reply is noticed after the splicer put its last byte on the line
//     (goal: median and 95th percentile under 1 ms).
// The reference time of (2) is taken on the splicer's thread just before the
// write of the reply's last byte: this program stands in for the C library's
// write(), so every write the splicer makes is stamped before it happens.
// VirtualSplicer::LastReplyEnd() is stamped only after the write (and a lock),
// when the program may already have noticed the reply, so it is shown beside it
// as a lower bound only.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "protocol/link.h"
#include "sim/virtual_splicer.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 115200;
constexpr double kGoalMs = 1.0;
constexpr double kCpuGoalPercent = 2.0;

// The splicer's thread (learnt in its handler) and the moment it last began a write.
std::atomic<std::thread::id> splicerThread{};
std::atomic<Clock::rep> lastSplicerWrite{0};

// A window's event queue without a window: each pump call takes the posted
// no-op tasks and runs them, under a lock, as an event loop would.
class NoOpQueue {
  public:
    void Post() {
        std::lock_guard lock(mutex_);
        tasks_.emplace_back([this] { ++ran_; });
    }
    void Process() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(tasks_);
        }
        for (auto& task : batch) task();
        ++passes_;
        for (int i = 0; i < 8; ++i) Post();  // the next pass has work too
    }
    long Passes() const { return passes_; }

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    long passes_ = 0;
    long ran_ = 0;
};

double Percentile(const std::vector<double>& sorted, double p) {
    const std::size_t i = std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()));
    return sorted[i];
}

}  // namespace

// Stands in for the C library's write(): stamps the splicer's writes before they happen.
extern "C" ssize_t write(int fd, const void* data, size_t count) {
    if (std::this_thread::get_id() == splicerThread.load(std::memory_order_relaxed))
        lastSplicerWrite.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
    return syscall(SYS_write, fd, data, count);
}

int main() {
    Goals goals("bench_receive");
    sim::SplicerOptions options;
    options.baud = kBaud;
    sim::VirtualSplicer splicer(options);
    // The ordinary acknowledgement, learning the splicer's thread on the way.
    splicer.SetHandler(cmd::Handshake, [](const sim::Request&) {
        splicerThread = std::this_thread::get_id();
        std::vector<std::uint8_t> reply = {kFrameStart, cmd::Handshake, 1, kAccepted, 0};
        reply.back() = SumCheck(std::span(reply).first(4));
        return reply;
    });
    std::string error;
    if (!splicer.Start(&error)) {
        goals.NotMeasured("the virtual splicer", error);
        return goals.Finish();
    }
    Link link;
    if (!link.OpenPort(splicer.PortPath(), kBaud, &error)) {
        goals.NotMeasured("the port " + splicer.PortPath(), error);
        return goals.Finish();
    }
    NoOpQueue queue;
    const Pump pump = [&queue] { queue.Process(); };
    const CommandFrame handshake = FixedRequest(cmd::Handshake);

    // 1. CPU used by a 1 s wait for a splicer that says nothing, with and without the pump.
    std::printf("waiting 1 s for a silent splicer\n");
    splicer.SetFault(cmd::Handshake, {sim::FaultKind::Silent});
    for (bool withPump : {false, true}) {
        const long passes0 = queue.Passes();
        const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto t0 = Clock::now();
        const ExchangeResult r = link.Exchange(
            handshake, ExchangeOptions{withPump ? pump : Pump{}, std::chrono::milliseconds(1000)});
        const double wall = Seconds(Clock::now() - t0);
        const double cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        const std::string how = withPump ? "with the pump" : "without a pump";
        std::printf("  %s: %.3f s wall, %.2f ms CPU", how.c_str(), wall, cpu * 1e3);
        if (withPump) std::printf(", %ld pump calls", queue.Passes() - passes0);
        std::printf("\n");
        if (r.outcome != Outcome::NoAnswer)
            goals.NotMeasured("waiting " + how, "the silent splicer was answered");
        else
            goals.Under("CPU waiting for a silent splicer " + how + ", % of one core",
                        100.0 * cpu / wall, kCpuGoalPercent, "%", 3);
    }
    splicer.ClearFaults();

    // 2. Delay from the reply's last byte going onto the line to Exchange returning.
    constexpr int kReplies = 200;
    std::vector<double> delays;        // from the stamp before the splicer's write
    std::vector<double> afterStamped;  // from LastReplyEnd(), stamped after it
    for (int i = 0; i < kReplies; ++i) {
        // The line is idle between exchanges, as between a user's clicks.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const ExchangeResult r =
            link.Exchange(handshake, ExchangeOptions{pump, std::chrono::milliseconds(1500)});
        const auto returned = Clock::now();
        if (r.outcome != Outcome::Accepted) {
            goals.NotMeasured("reply noticed after its last byte", "a reply did not arrive");
            return goals.Finish();
        }
        const Clock::time_point written{
            Clock::duration(lastSplicerWrite.load(std::memory_order_acquire))};
        delays.push_back(std::chrono::duration<double, std::milli>(returned - written).count());
        afterStamped.push_back(
            std::chrono::duration<double, std::milli>(returned - splicer.LastReplyEnd()).count());
    }
    std::sort(delays.begin(), delays.end());
    std::sort(afterStamped.begin(), afterStamped.end());
    std::printf(
        "reply noticed after the splicer's write of its last byte, with the pump (%d replies at "
        "%d bit/s): worst %.3f ms\n",
        kReplies, kBaud, delays.back());
    std::printf("  (from LastReplyEnd, stamped after the write: median %.3f ms, 95th %.3f ms)\n",
                Percentile(afterStamped, 0.5), Percentile(afterStamped, 0.95));
    goals.Expect("replies timed", static_cast<long long>(delays.size()), kReplies);
    goals.Under("reply noticed after its last byte, median", Percentile(delays, 0.5), kGoalMs, "ms",
                3);
    goals.Under("reply noticed after its last byte, 95th percentile", Percentile(delays, 0.95),
                kGoalMs, "ms", 3);
    return goals.Finish();
}
