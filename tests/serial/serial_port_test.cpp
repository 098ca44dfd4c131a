// The serial port over a real pseudo-terminal; the test holds the far end.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "protocol/link.h"
#include "protocol/outcome_texts.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono_literals;

// The device end of a pseudo-terminal pair, as a splicer would hold it.
class FarEnd {
  public:
    FarEnd() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        grantpt(master_);
        unlockpt(master_);
        char name[128] = {};
        ptsname_r(master_, name, sizeof name);
        path_ = name;
        // Keep one descriptor of the port side so that the far end stays up between opens.
        keep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    }
    ~FarEnd() { HangUp(); }
    void HangUp() {
        for (int* fd : {&keep_, &master_})
            if (*fd >= 0) ::close(*fd), *fd = -1;
    }
    const std::string& path() const { return path_; }
    void Write(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }
    // Reads until `count` bytes are in or 5 s pass.
    std::vector<std::uint8_t> Read(std::size_t count) {
        std::vector<std::uint8_t> got;
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t buf[4096];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int master_ = -1;
    int keep_ = -1;
    std::string path_;
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
    return v;
}

TEST(SerialPort, WritesEveryByteInOrder) {
    FarEnd far;
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(far.path(), 115200)) << port.LastError();
    for (std::size_t size :
         {std::size_t{0}, std::size_t{2048}, std::size_t{5000}, std::size_t{70000}}) {
        auto data = Pattern(size);
        std::vector<std::uint8_t> got;
        // A block larger than the pseudo-terminal's buffer only gets out while the far end reads.
        std::thread reader([&] { got = far.Read(size); });
        EXPECT_EQ(port.SendBytes(data), static_cast<long>(size));
        reader.join();
        EXPECT_EQ(got, data) << size << " bytes";
    }
}

TEST(SerialPort, ReadsAtMost5000BytesAtATime) {
    FarEnd far;
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(far.path(), 115200));
    auto data = Pattern(7000);
    far.Write(data);
    std::vector<std::uint8_t> got;
    std::vector<std::uint8_t> buffer(8000);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
        if (port.WaitReadable(100ms) != WaitResult::Readable) continue;
        std::size_t n = port.ReadAvailable(buffer);
        EXPECT_LE(n, kReadCap);
        got.insert(got.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(port.ReadAvailable(buffer), 0u);
    EXPECT_EQ(port.WaitReadable(20ms), WaitResult::TimedOut);
}

TEST(SerialPort, OpenCloseAndSpeeds) {
    FarEnd far;
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(far.path(), 256000));
    EXPECT_EQ(port.ActualSpeed(), 256000);
    // A second open keeps the first device and speed.
    EXPECT_TRUE(port.OpenPort("/dev/null", 115200));
    EXPECT_EQ(port.Device(), far.path());
    EXPECT_EQ(port.ActualSpeed(), 256000);
    port.ClosePort();
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
    std::uint8_t buf[8];
    EXPECT_EQ(port.ReadAvailable(buf), 0u);
    EXPECT_EQ(port.SendBytes(std::span<const std::uint8_t>(buf, 8)), -1);
    EXPECT_EQ(port.WaitReadable(1ms), WaitResult::NotOpen);
}

TEST(SerialPort, OpenFailuresSayWhy) {
    SerialPort port;
    EXPECT_FALSE(port.OpenPort("/dev/velmora-no-such-port", 115200));
    EXPECT_NE(port.LastError().find("No such file"), std::string::npos) << port.LastError();
    EXPECT_FALSE(port.OpenPort("/dev/null", 115200));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.LastError().empty());
}

// A port the system refuses to this user (a pseudo-terminal of mode 000, opened
// by an unprivileged user) says how to get the right to use serial ports.
TEST(SerialPort, APortRefusedToTheUserNamesTheDialoutGroup) {
    FarEnd far;
    ASSERT_EQ(::chmod(far.path().c_str(), 0), 0);
    // Root opens it whatever its mode, so this is tried as "nobody" when run as root.
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
            Link link;
            OpenFailure failure;
            bool ok = !link.OpenPort(far.path(), 115200, failure) && failure.accessDenied &&
                      failure.reason.find(far.path()) != std::string::npos;
            for (int flag : {1, 0}) {
                test::ScopedConfig language(flag);
                const std::string text = PortOpenFailureText(failure.reason, true);
                std::fprintf(stderr, "%s\n", text.c_str());
                ok = ok && text.starts_with(Say(msg::CommPortError) + ": " + failure.reason) &&
                     text.find("usermod -aG dialout") != std::string::npos;
            }
            // Any other failure keeps its text.
            OpenFailure missing;
            ok = ok && !link.OpenPort("/dev/velmora-no-such-port", 115200, missing) &&
                 !missing.accessDenied;
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "usermod -aG dialout");
}

TEST(SerialPort, AHangUpClosesThePort) {
    FarEnd far;
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(far.path(), 115200));
    far.HangUp();
    EXPECT_EQ(port.WaitReadable(2s), WaitResult::PortLost);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.WasLost());
    port.ClosePort();
}

// A second program on the same port is refused by the lock file serial tools
// use; a lock left by a process that died does not block the next open.
TEST(SerialPort, ALockFileKeepsASecondProgramOff) {
    test::TempDir locks;
    setenv("VELMORA_LOCK_DIR", locks.path().c_str(), 1);
    FarEnd far;
    std::string lockName = "LCK.." + fs::path(far.path()).lexically_relative("/dev").string();
    for (char& c : lockName)
        if (c == '/') c = '_';
    const fs::path file = locks.path() / lockName;

    SerialPort first;
    ASSERT_TRUE(first.OpenPort(far.path(), 115200)) << first.LastError();
    EXPECT_TRUE(fs::exists(file));
    // Another program: a lock holding a living process that is not this one.
    first.ClosePort();
    EXPECT_FALSE(fs::exists(file));
    std::ofstream(file) << "         1\n";  // init never goes away
    SerialPort second;
    EXPECT_FALSE(second.OpenPort(far.path(), 115200));
    EXPECT_NE(second.LastError().find("in use by another program (process 1)"), std::string::npos)
        << second.LastError();
    // A process that died leaves its lock behind: taken over.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    std::ofstream(file) << child << "\n";
    EXPECT_TRUE(second.OpenPort(far.path(), 115200)) << second.LastError();
    second.ClosePort();
    unsetenv("VELMORA_LOCK_DIR");
}

}  // namespace
}  // namespace velmora
