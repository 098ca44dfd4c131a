#pragma once
// Waiting for the team archive's socket (internal to src/team): readable, writable,
// or woken by another thread (a stop asked for: Ctrl-C, the window closing), so
// that a statement the server is slow to answer can be given up at once. One
// implementation per platform (team_client_wait_<platform>.cpp).
#include <chrono>
#include <memory>

namespace velmora::team {

class SocketWaiter {
  public:
    SocketWaiter();
    ~SocketWaiter();
    SocketWaiter(const SocketWaiter&) = delete;
    SocketWaiter& operator=(const SocketWaiter&) = delete;

    // From any thread, once: every wait from then on that watches for it ends at once.
    void Wake();

    enum class Ready { Socket, Woken, TimedOut, Failed };
    // Waits until `socket` (libpq's PQsocket) can be read (`read`) or written
    // (`write`), Wake() was called (unless `ignoreWake`), or `limit` passed.
    Ready Wait(int socket, bool read, bool write, std::chrono::milliseconds limit,
               bool ignoreWake = false);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace velmora::team
