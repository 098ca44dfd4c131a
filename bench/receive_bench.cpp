// Measures what waiting for a reply costs: CPU time while ReceiveReply waits 1 s
// for a silent splicer (goal: under 2% of one core), and the delay between the
// reply's last byte and ReceiveReply returning (goal: under 1 ms).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "protocol/command_catalogue.h"
#include "protocol/link.h"
#include "sim/virtual_splicer.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

bool Send(Link& link, const LineClaim& claim, std::uint8_t command) {
    link.Frame() = FixedRequest(command);
    return link.SendFrame(claim);
}

}  // namespace

int main() {
    sim::SplicerOptions options;
    options.baud = 115200;
    sim::VirtualSplicer splicer(options);
    std::string error;
    if (!splicer.Start(&error)) {
        std::fprintf(stderr, "cannot start the virtual splicer: %s\n", error.c_str());
        return 1;
    }
    Link link;
    if (!link.Port().OpenPort(splicer.PortPath(), 115200)) {
        std::fprintf(stderr, "cannot open %s: %s\n", splicer.PortPath().c_str(),
                     link.Port().LastError().c_str());
        return 1;
    }

    // 1. CPU used by a 1 s wait for a splicer that says nothing, with and without a pump.
    splicer.SetFault(cmd::Handshake, {sim::FaultKind::Silent});
    for (bool withPump : {false, true}) {
        int pumps = 0;
        Pump pump = [&pumps] { ++pumps; };
        auto claim = link.ClaimLine();
        Send(link, *claim, cmd::Handshake);
        link.ReplyLength = 5;
        double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        auto t0 = Clock::now();
        link.ReceiveReply(*claim, 1000, withPump ? pump : Pump{});
        double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        double cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        std::printf("silent wait %s: %.3f s wall, %.2f ms CPU = %.3f%% of one core%s\n",
                    withPump ? "with pump   " : "without pump", wall, cpu * 1e3,
                    100.0 * cpu / wall,
                    withPump ? (" (" + std::to_string(pumps) + " pump calls)").c_str() : "");
    }
    splicer.ClearFaults();

    // 2. Delay from the reply's last byte leaving the splicer to ReceiveReply returning.
    std::vector<double> delays;
    for (int i = 0; i < 200; ++i) {
        auto claim = link.ClaimLine();
        Send(link, *claim, cmd::Handshake);
        link.ReplyLength = 5;
        bool complete = link.ReceiveReply(*claim, 1500, [] {});
        auto returned = Clock::now();
        if (!complete) {
            std::fprintf(stderr, "reply %d did not arrive\n", i);
            return 1;
        }
        delays.push_back(std::chrono::duration<double, std::micro>(returned - splicer.LastReplyEnd()).count());
    }
    std::sort(delays.begin(), delays.end());
    std::printf("reply noticed after its last byte: median %.0f us, 95th percentile %.0f us, worst %.0f us "
                "(%zu replies)\n",
                delays[delays.size() / 2], delays[delays.size() * 95 / 100], delays.back(), delays.size());
    return 0;
}
