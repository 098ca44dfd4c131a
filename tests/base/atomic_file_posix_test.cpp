// Writing an output on POSIX: a write that fails part way, or a program that dies
// in the middle of one, leaves the old file byte for byte (a child process does the
// write under a file-size limit, which a write in place would cut the old file at);
// and whatever the output names, only a regular file's content is ever replaced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "base/atomic_file.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFilePosix, AWriteCutShortLeavesTheOldFileWhole) {
    const std::string before = "old file\n",
                      after = "a new file, longer than the writer may make\n";
    struct Case {
        const char* what;
        bool oldFile;
        bool room;         // no file-size limit: the control case
        bool diesAtLimit;  // SIGXFSZ kills the writer instead of failing its write
    } cases[] = {
        {"the write fails", true, false, false},
        {"the write fails, no file before", false, false, false},
        {"the writer dies mid-write", true, false, true},
        {"room enough", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const fs::path target = dir.path() / "Splice.csv";
        if (c.oldFile) dir.Write("Splice.csv", before);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore{0, 0}, size{16, 16};
            setrlimit(RLIMIT_CORE, &noCore);
            if (!c.room) setrlimit(RLIMIT_FSIZE, &size);
            signal(SIGXFSZ, c.diesAtLimit ? SIG_DFL : SIG_IGN);
            const FileWriteResult result = ReplaceFile(target, after);
            _exit(result.ok ? 0 : result.reason.empty() ? 2 : 1);  // a failure tells why
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.diesAtLimit) {
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
            EXPECT_EQ(test::ReadFileBytes(target), before);
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), c.room ? 0 : 1);
        EXPECT_EQ(test::ReadFileBytes(target), c.room ? after : c.oldFile ? before : "");
        std::string names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names += entry.path().filename().string() + " ";
        EXPECT_EQ(names, c.room || c.oldFile ? "Splice.csv " : "") << "nothing but the file";
    }
}

// Each kind of output through the one writer. The devices are made in the test's own
// folder (the machine's /dev is never touched); without the right to make them,
// their rows are left out.
TEST(AtomicFilePosix, OutputTargets) {
    const std::string bytes = "new content\n";
    const struct Case {
        const char* what;
        std::function<fs::path(const test::TempDir&)> make;  // the output; "" when not made
        bool ok;
        fs::file_type stays;  // what the output itself is afterwards
        const char* written;  // the file that must hold `bytes` afterwards, if any
        const char* reason;   // part of the failure's reason
    } cases[] = {
        {"regular file", [](auto& d) { return d.Write("out.csv", "old"); }, true,
         fs::file_type::regular, "out.csv", ""},
        {"symbolic link",
         [](auto& d) {
             d.Write("shared/real.csv", "old");
             fs::create_symlink("shared/real.csv", d.path() / "link.csv");
             return d.path() / "link.csv";
         },
         true, fs::file_type::symlink, "shared/real.csv", ""},
        {"dangling link",
         [](auto& d) {
             fs::create_directory(d.path() / "shared");
             fs::create_symlink("shared/new.csv", d.path() / "link.csv");
             return d.path() / "link.csv";
         },
         true, fs::file_type::symlink, "shared/new.csv", ""},
        {"links in a loop",
         [](auto& d) {
             fs::create_symlink("b", d.path() / "a");
             fs::create_symlink("a", d.path() / "b");
             return d.path() / "a";
         },
         false, fs::file_type::symlink, nullptr, "symbolic links"},
        {"folder",
         [](auto& d) {
             fs::create_directory(d.path() / "folder");
             return d.path() / "folder";
         },
         false, fs::file_type::directory, nullptr, "Is a directory"},
        {"FIFO",
         [](auto& d) {
             return ::mkfifo((d.path() / "fifo").c_str(), 0600) == 0 ? d.path() / "fifo" : "";
         },
         true, fs::file_type::fifo, nullptr, ""},
        {"null device",
         [](auto& d) {
             const fs::path node = d.path() / "null";
             return ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? node : "";
         },
         true, fs::file_type::character, nullptr, ""},
        {"full device",
         [](auto& d) {
             const fs::path node = d.path() / "full";
             return ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 ? node : "";
         },
         false, fs::file_type::character, nullptr, "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir dir;
        const fs::path output = c.make(dir);
        if (output.empty()) continue;  // not allowed to make it here
        // A FIFO's reader is there before the write (opened without waiting for a
        // writer), and reads what came once it is done: a write that never came reads
        // as nothing, never as a wait.
        std::error_code ec;
        const int reader = fs::is_fifo(fs::status(output, ec))
                               ? ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                               : -1;
        const FileWriteResult result = ReplaceFile(output, bytes);
        std::string read;
        char piece[64];
        for (ssize_t n; reader >= 0 && (n = ::read(reader, piece, sizeof piece)) > 0;)
            read.append(piece, static_cast<std::size_t>(n));
        EXPECT_EQ(result.ok, c.ok) << result.reason;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(fs::symlink_status(output).type(), c.stays);
        if (c.written) {
            EXPECT_EQ(test::ReadFileBytes(dir.path() / c.written), bytes);
        }
        if (reader >= 0) {
            EXPECT_EQ(read, bytes);
            ::close(reader);
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            EXPECT_FALSE(entry.path().extension() == ".tmp") << entry.path();
    }

    // Made only where nothing is yet: the first file stands, a second is told so.
    {
        const test::TempDir dir;
        const auto makeNew = [&](std::string_view text) {
            return PreparedFile(dir.path() / "id.txt", text).CommitNew();
        };
        EXPECT_TRUE(makeNew("first").ok);
        const FileWriteResult second = makeNew("second");
        EXPECT_TRUE(!second.ok && second.existed) << second.reason;
        EXPECT_EQ(test::ReadFileBytes(dir.path() / "id.txt"), "first");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }

    // "-" is the standard output, written in order after what was printed before.
    const test::TempDir dir;
    const fs::path out = dir.path() / "stdout";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        std::printf("first\n");
        const bool ok = IsStandardOutput(kStandardOutput) && IsStandardOutput("/dev/stdout") &&
                        !IsStandardOutput(out.parent_path()) &&
                        ReplaceFile(kStandardOutput, bytes).ok;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(test::ReadFileBytes(out), "first\n" + bytes);
}

}  // namespace
}  // namespace velmora
