// The virtual splicer on a pseudo-terminal (POSIX).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim/splicer_line.h"

namespace velmora::sim {
namespace {

using Clock = VirtualSplicer::Clock;

int PollMs(Clock::duration d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

// Until `until`, or without end for time_point::max().
int PollMsUntil(Clock::time_point until) {
    if (until == Clock::time_point::max()) return -1;
    return PollMs(until - Clock::now());
}

// A pseudo-terminal: the splicer holds the master, the program opens the slave.
class PtyLine final : public SplicerLine {
  public:
    ~PtyLine() override {
        for (int fd : {master_, slave_, wakeRead_, wakeWrite_})
            if (fd >= 0) ::close(fd);
    }

    // Opens the pseudo-terminal and sets `path` to the device the program opens;
    // nullptr with `error` set on failure.
    static std::unique_ptr<PtyLine> Open(std::string& path, std::string* error) {
        auto line = std::make_unique<PtyLine>();
        auto fail = [&](const char* what) -> std::unique_ptr<PtyLine> {
            if (error) *error = std::string(what) + ": " + std::strerror(errno);
            return nullptr;
        };
        line->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line->master_ < 0) return fail("posix_openpt");
        if (grantpt(line->master_) != 0 || unlockpt(line->master_) != 0)
            return fail("pseudo-terminal");
        char name[128];
        if (ptsname_r(line->master_, name, sizeof name) != 0) return fail("ptsname");
        line->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (line->slave_ < 0) return fail(name);
        // Raw from the start, so nothing is echoed or translated before the program
        // opens the port; after that the line settings are the program's alone.
        termios tio{};
        tcgetattr(line->slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(line->slave_, TCSANOW, &tio);
        fcntl(line->master_, F_SETFL, fcntl(line->master_, F_GETFL) | O_NONBLOCK);
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
        line->wakeRead_ = pipeFds[0];
        line->wakeWrite_ = pipeFds[1];
        path = name;
        return line;
    }

    bool WaitReadable(Clock::time_point until) override {
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            int rc = ::poll(fds, 2, PollMsUntil(until));
            if (rc < 0 && errno == EINTR) continue;
            return rc >= 0 && !fds[1].revents;
        }
    }

    std::size_t Read(std::span<std::uint8_t> destination) override {
        ssize_t n = ::read(master_, destination.data(), destination.size());
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            // The program is not reading: wait for room, or for the order to stop.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) > 0 && fds[1].revents) return false;
        }
        return true;
    }

    bool SleepUntil(Clock::time_point until) override {
        for (;;) {
            pollfd p{wakeRead_, POLLIN, 0};
            if (::poll(&p, 1, PollMsUntil(until)) > 0) return false;
            if (Clock::now() >= until) return true;
        }
    }

    void HangUp() override {
        // Closing both ends: the program's reads and writes then fail as on a hang-up.
        ::close(slave_);
        ::close(master_);
        slave_ = master_ = -1;
    }

    void Wake() override {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    }

  private:
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up of its own
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

}  // namespace

std::unique_ptr<SplicerLine> OpenPtyLine(std::string& path, std::string* error) {
    return PtyLine::Open(path, error);
}

}  // namespace velmora::sim
