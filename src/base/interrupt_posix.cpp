// The interrupt over POSIX signals: SIGINT and SIGTERM are blocked in every
// thread and taken by one thread that waits for them in sigwait(), so that what
// an interrupt wakes runs as ordinary code, not in a signal handler, and no wait
// anywhere has to look at a flag in slices.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "base/interrupt.h"

namespace velmora {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{SIGINT};  // the first interrupt's
std::mutex g_callbackMutex;
std::function<void()> g_callback;

void TakeSignals(sigset_t signals) {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (!g_interrupted) g_signal = signal;  // this one thread writes both
        g_interrupted = true;
        std::lock_guard lock(g_callbackMutex);
        if (g_callback) g_callback();
    }
}

}  // namespace

void InstallInterruptHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        // Threads started from here on inherit the mask; the taker is one of them.
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread(TakeSignals, signals).detach();
    });
}

bool Interrupted() {
    return g_interrupted.load();
}

int InterruptExitStatus() {
    return 128 + g_signal.load();
}

void SetInterruptCallback(std::function<void()> onInterrupt) {
    std::lock_guard lock(g_callbackMutex);
    g_callback = std::move(onInterrupt);
    if (g_callback && g_interrupted) g_callback();
}

}  // namespace velmora
