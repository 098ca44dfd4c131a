// The socket waiter over WSAPoll(), which cannot wait on an event as well: a wait
// looks at the wake-up flag every 100 ms, so a stop is seen within that.
#include <winsock2.h>

#include <algorithm>
#include <atomic>

#include "team/team_client_wait.h"

namespace velmora::team {

struct SocketWaiter::State {
    std::atomic<bool> woken{false};
};

SocketWaiter::SocketWaiter() : state_(std::make_unique<State>()) {}
SocketWaiter::~SocketWaiter() = default;

void SocketWaiter::Wake() {
    state_->woken = true;
}

SocketWaiter::Ready SocketWaiter::Wait(int socket, bool read, bool write,
                                       std::chrono::milliseconds limit, bool ignoreWake) {
    constexpr std::chrono::milliseconds kSlice{100};
    WSAPOLLFD fd{static_cast<SOCKET>(socket),
                 static_cast<SHORT>((read ? POLLRDNORM : 0) | (write ? POLLWRNORM : 0)), 0};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (!ignoreWake && state_->woken) return Ready::Woken;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Ready::TimedOut;
        const int n = WSAPoll(&fd, 1, static_cast<INT>(std::min(left, kSlice).count()));
        if (n == SOCKET_ERROR) return Ready::Failed;
        if (n > 0) return Ready::Socket;
    }
}

}  // namespace velmora::team
