// Replacing a file on POSIX: a write that fails part way, or a program that dies
// in the middle of one, leaves the old file byte for byte. A child process does
// the write under a file-size limit, which a write in place would cut the old file at.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace velmora
