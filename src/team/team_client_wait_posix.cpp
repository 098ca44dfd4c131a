// The socket waiter over poll(): a pipe of its own is the wake-up, so a wait blocks
// in one poll() until the server answers, a stop is asked for, or the limit passes.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "team/team_client_wait.h"

namespace velmora::team {

struct SocketWaiter::State {
    int pipe[2] = {-1, -1};
};

SocketWaiter::SocketWaiter() : state_(std::make_unique<State>()) {
    if (::pipe2(state_->pipe, O_CLOEXEC | O_NONBLOCK) != 0) state_->pipe[0] = state_->pipe[1] = -1;
}

SocketWaiter::~SocketWaiter() {
    for (const int fd : state_->pipe)
        if (fd >= 0) ::close(fd);
}

void SocketWaiter::Wake() {
    // The byte is never read: the pipe stays readable, so every later wait sees it.
    const char byte = 1;
    if (state_->pipe[1] < 0) return;
    const ssize_t written = ::write(state_->pipe[1], &byte, 1);
    (void)written;  // a full pipe is already readable
}

SocketWaiter::Ready SocketWaiter::Wait(int socket, bool read, bool write,
                                       std::chrono::milliseconds limit, bool ignoreWake) {
    pollfd fds[2] = {{socket, static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0},
                     {ignoreWake ? -1 : state_->pipe[0], POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int n =
            ::poll(fds, 2, static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Ready::Failed;
        if (fds[1].revents) return Ready::Woken;
        if (fds[0].revents) return Ready::Socket;
        if (n == 0) return Ready::TimedOut;
    }
}

}  // namespace velmora::team
