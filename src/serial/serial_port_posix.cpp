// SerialPort over POSIX termios.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "serial/line_speed_posix.h"
#include "serial/serial_port.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

int PollTimeout(std::chrono::milliseconds wait) {
    return static_cast<int>(std::clamp<long long>(wait.count(), 0, 1 << 30));
}

// Where serial tools leave their lock files; tests point it elsewhere.
std::filesystem::path LockFolder() {
    const char* folder = std::getenv("VELMORA_LOCK_DIR");
    return folder && *folder ? folder : "/run/lock";
}

// LCK..ttyUSB0 for /dev/ttyUSB0 (through links, so /dev/serial/by-id names share it).
std::filesystem::path LockFileFor(const std::string& device) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(device, ec);
    if (ec) real = device;
    std::string name = real.lexically_relative("/dev").string();
    if (name.empty() || name.starts_with("..")) name = real.filename().string();
    for (char& c : name)
        if (c == '/') c = '_';
    return LockFolder() / ("LCK.." + name);
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

// Takes the device's lock file, as serial tools do, so that a second program
// never shares the line; a lock left by a process that died is taken over.
// False with the holder's process id when another process holds it. A lock
// folder that cannot be written leaves the port unlocked (TIOCEXCL still holds).
bool SerialPort::TakeLock(const std::string& device, int& holder) {
    // A pseudo-terminal's number is given to the next one as soon as its far end
    // closes, so its name says nothing lasting: only real devices are locked,
    // unless a lock folder is named explicitly.
    std::error_code ec;
    const std::string real = std::filesystem::canonical(device, ec).string();
    if (real.starts_with("/dev/pts/") && !std::getenv("VELMORA_LOCK_DIR")) return true;
    const std::filesystem::path file = LockFileFor(device);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            [[maybe_unused]] ssize_t written = ::write(fd, text, static_cast<std::size_t>(n));
            ::close(fd);
            lockFile_ = file;
            return true;
        }
        if (errno != EEXIST) return true;
        char text[32] = {};
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (in >= 0) {
            [[maybe_unused]] ssize_t got = ::read(in, text, sizeof text - 1);
            ::close(in);
        }
        holder = std::atoi(text);
        if (ProcessAlive(holder)) return false;
        ::unlink(file.c_str());  // stale: its process is gone
    }
    return true;
}

void SerialPort::ReleaseLock() {
    if (lockFile_.empty()) return;
    ::unlink(lockFile_.c_str());
    lockFile_.clear();
}

SerialPort::SerialPort() {
    // Wake() must be callable from any thread at any time, so the pipe lives as
    // long as the object, not as long as one opening of the port.
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_ = ends[0];
        wakeWrite_ = ends[1];
    }
}

SerialPort::~SerialPort() {
    ClosePort();
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void SerialPort::Wake() {
    // A full pipe already holds a wake: nothing is lost when this write fails.
    const std::uint8_t byte = 1;
    if (wakeWrite_ < 0) return;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
}

void SerialPort::Fail(const char* what) {
    lastError_ = std::string(what) + ": " + std::strerror(errno);
}

bool SerialPort::OpenPort(const std::string& device, int bitsPerSecond) {
    if (IsOpen()) return true;
    lastError_.clear();
    accessDenied_ = false;
    if (bitsPerSecond <= 0) {
        errno = EINVAL;
        Fail("invalid speed");
        return false;
    }
    int holder = 0;
    if (!TakeLock(device, holder)) {
        lastError_ =
            device + ": in use by another program (process " + std::to_string(holder) + ")";
        return false;
    }
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        accessDenied_ = errno == EACCES || errno == EPERM;
        Fail(device.c_str());
        ReleaseLock();
        return false;
    }
    auto fail = [&](const char* what) {
        Fail(what);
        ::close(fd);
        ReleaseLock();
        return false;
    };
    // A file, a pipe or /dev/null opens too; none of them is a line to a splicer.
    if (!::isatty(fd)) {
        ::close(fd);
        ReleaseLock();
        lastError_ = device + ": not a serial port";
        return false;
    }
    if (ioctl(fd, TIOCEXCL) != 0) return fail("exclusive access");
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return fail("not a serial port");
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // A non-blocking read with nothing queued then fails with EAGAIN, while
    // a read of 0 bytes can only mean the device hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail("line settings");
    if (!serial::SetLineSpeed(fd, bitsPerSecond)) return fail("line speed");
    int rts = TIOCM_RTS;
    // A pseudo-terminal has no modem lines; that is no reason to refuse it.
    if (ioctl(fd, TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail("RTS line");
    tcflush(fd, TCIOFLUSH);

    device_ = device;
    speed_ = bitsPerSecond;
    lost_ = false;
    fd_ = fd;
    return true;
}

void SerialPort::ClosePort() {
    ReleaseLock();
    int fd = fd_.exchange(-1);
    if (fd >= 0) {
        if (!lost_) tcdrain(fd);
        // The exclusive flag belongs to the terminal, not to our descriptor: it
        // outlives the close while the far end holds the device open.
        ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
}

void SerialPort::MarkLost() {
    lost_ = true;
    lastError_ = "the port went away";
    int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    ReleaseLock();
}

bool SerialPort::DrainOutput() {
    int fd = fd_.load();
    if (fd < 0) return false;
    while (tcdrain(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EIO || errno == ENXIO || errno == ENODEV) {
            MarkLost();
        } else {
            Fail("drain");
        }
        return false;
    }
    return true;
}

int SerialPort::ActualSpeed() const {
    int fd = fd_.load();
    return fd >= 0 ? serial::GetLineSpeed(fd) : -1;
}

void SerialPort::DiscardInput() {
    int fd = fd_.load();
    if (fd >= 0) tcflush(fd, TCIFLUSH);
}

bool SerialPort::WriteAll(const std::uint8_t* data, std::size_t length) {
    const auto deadline = Clock::now() + kWriteTimeout;
    std::size_t written = 0;
    while (written < length) {
        int fd = fd_.load();
        if (fd < 0) {
            lastError_ = "the port is closed";
            return false;
        }
        ssize_t n = ::write(fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV) {
                MarkLost();
            } else {
                Fail("write");
            }
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            Fail("write");
            return false;
        }
        if (interrupted_) {
            lastError_ = "write: interrupted";
            return false;
        }
        // A splicer that stopped reading must not hold off a cancel: wait in short slices.
        pollfd p{fd, POLLOUT, 0};
        int rc = ::poll(&p, 1, PollTimeout(std::min(left, std::chrono::milliseconds(100))));
        if (rc > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            MarkLost();
            return false;
        }
    }
    return true;
}

std::size_t SerialPort::ReadAvailable(std::span<std::uint8_t> destination) {
    int fd = fd_.load();
    if (fd < 0 || destination.empty()) return 0;
    std::size_t want = std::min(kReadCap, destination.size());
    for (;;) {
        ssize_t n = ::read(fd, destination.data(), want);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return 0;
        // 0 bytes from a raw terminal with VMIN 1, or EIO: the device hung up.
        MarkLost();
        return 0;
    }
}

WaitResult SerialPort::WaitReadable(std::chrono::milliseconds maxWait) {
    int fd = fd_.load();
    if (fd < 0) return WaitResult::NotOpen;
    // One poll for the whole wait: the port, and the pipe a cancel or an interrupt
    // writes to, so the thread sleeps until there is something to do.
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    const nfds_t count = wakeRead_ >= 0 ? 2 : 1;
    const auto deadline = Clock::now() + maxWait;
    int rc;
    for (;;) {
        rc = ::poll(
            p, count,
            PollTimeout(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now())));
        if (rc >= 0 || errno != EINTR) break;
    }
    if (rc == 0) return WaitResult::TimedOut;
    if (rc < 0 || (p[0].revents & POLLNVAL))
        return IsOpen() ? WaitResult::TimedOut : WaitResult::NotOpen;
    if (count == 2 && (p[1].revents & POLLIN)) {
        std::uint8_t drained[64];
        while (::read(wakeRead_, drained, sizeof drained) > 0) {
        }
        // Bytes that came with the wake are still reported as such.
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) return WaitResult::TimedOut;
    }
    if (p[0].revents == 0) return WaitResult::TimedOut;
    // A hung-up terminal also reports POLLIN; it is readable only while bytes remain.
    int queued = 0;
    bool hungUp = (p[0].revents & (POLLHUP | POLLERR)) != 0;
    if (hungUp && ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) return WaitResult::Readable;
    if (!hungUp && (p[0].revents & POLLIN)) return WaitResult::Readable;
    MarkLost();
    return WaitResult::PortLost;
}

}  // namespace velmora
