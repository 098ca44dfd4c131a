// The archive through velmora-cli: what it lists, names and undoes, what it keeps,
// and what it refuses (each splice kept once across downloads is the archive's and
// the Archive page's to show).
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "archive/archive.h"
#include "history/csv_export.h"
#include "history/history_texts.h"
#include "protocol/command_catalogue.h"
#include "sim/parameter_commands.h"
#include "sim/record_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

using sim::FaultKind;

class ArchiveCliTest : public test::CliTest {
  protected:
    std::vector<std::string> List(std::vector<std::string> filters = {}) {
        filters.insert(filters.begin(), {"archive", "list"});
        const test::CliRun r = Run(filters);
        EXPECT_EQ(r.status, 0) << r.err;
        return test::Lines(r.out);
    }
};

TEST_F(ArchiveCliTest, ListedOldestFirstAndNamedOnlyAsAsked) {
    // A look before anything was kept makes no archive.
    EXPECT_TRUE(List().empty());
    EXPECT_FALSE(std::filesystem::exists(workDir.path() / "FS" / "archive.db"));
    ASSERT_EQ(Run({"history"}).status, 0);
    const std::vector<std::string> all = List();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(test::kCliRecords));
    EXPECT_TRUE(
        std::is_sorted(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
            return a.substr(a.find('\t')) < b.substr(b.find('\t'));
        }));
    const SpliceRecord first{sim::SampleRecord(0)};
    EXPECT_EQ(all.front(), std::string(sim::kSimSerialNumber) + "\t" + TimeText(first) + "\t" +
                               ResultListText(first, TableLanguage::English) + "\t" +
                               LossText(first) + "\t");

    // A job named by date range, then listed and exported by it.
    const std::string day = TimeText(first).substr(0, 10);
    const test::CliRun tag = Run({"archive", "tag", "Site A", "--from", day, "--to", day});
    ASSERT_EQ(tag.status, 0) << tag.err;
    const std::vector<std::string> site = List({"--job", "Site A"});
    EXPECT_FALSE(site.empty());
    EXPECT_EQ(site.front().substr(site.front().rfind('\t') + 1), "Site A");
    const std::string csv = (scratch.path() / "site.csv").string();
    ASSERT_EQ(Run({"archive", "csv", csv, "--job", "Site A"}).status, 0);
    EXPECT_EQ(test::Lines(test::ReadFileBytes(csv)).size(), site.size() + 1);

    // Every record, and records of another job, are named only when asked for; the
    // last naming is undone. A job name is printed as text, never as terminal codes.
    EXPECT_EQ(Run({"archive", "tag", "Site B"}).status, 2);
    const test::CliRun refused = Run({"archive", "tag", "Site B", "--all"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(std::to_string(site.size()) + " of the " +
                               std::to_string(all.size()) + " records"),
              std::string::npos)
        << refused.err;
    ASSERT_EQ(Run({"archive", "tag", "Site\x1B[2J B", "--all", "--replace"}).status, 0);
    const std::string named = List().front();
    EXPECT_EQ(named.substr(named.rfind('\t') + 1), "Site\\x1B[2J B");
    ASSERT_EQ(Run({"archive", "undo-tag"}).status, 0);
    EXPECT_EQ(List({"--job", "Site A"}), site);

    // The window's result filter and search: the splicer's failures, the rest beyond
    // the report's limits (0.02 dB here) or not; the job found in another case.
    std::ofstream(workDir.path() / "report.ini") << "[Report]\r\nMax_Loss=0.02\r\n";
    std::size_t judged = 0;
    for (const char* result : {"failed", "over-limit", "passed"}) {
        const std::vector<std::string> lines = List({"--result", result});
        judged += lines.size();
        EXPECT_FALSE(lines.empty()) << result;
        for (const std::string& line : lines) {
            const bool failure = line.find("\tFailure\t") != std::string::npos;
            const double loss = std::stod(line.substr(line.find("\t0.") + 1));
            EXPECT_EQ(failure, result == std::string("failed")) << line;
            if (!failure) {
                EXPECT_EQ(loss > 0.02, result == std::string("over-limit")) << line;
            }
        }
    }
    EXPECT_EQ(judged, all.size());
    EXPECT_EQ(List({"--search", "SITE a"}), site);
    // A search is a filter: tag names what it finds without --all.
    ASSERT_EQ(Run({"archive", "tag", "Site A2", "--search", "SITE a", "--replace"}).status, 0);
    EXPECT_EQ(List({"--job", "Site A2"}).size(), site.size());
    ASSERT_EQ(Run({"archive", "undo-tag"}).status, 0);
    EXPECT_EQ(Run({"archive", "list", "--result", "fine"}).status, 2);
    EXPECT_EQ(Run({"archive", "list", "--team", "--search", "site"}).status, 2);

    // Nothing is kept with --no-archive; a bad filter is a usage error.
    sim::InstallRecordCommands(*splicer, test::kCliRecords + 10);
    ASSERT_EQ(Run({"history", "--no-archive"}).status, 0);
    EXPECT_EQ(List().size(), all.size());
    EXPECT_EQ(Run({"archive", "list", "--from", "2026-13-01"}).status, 2);
    // The whole file checked on demand.
    const test::CliRun checked = Run({"archive", "check"});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_NE(checked.out.find(": ok"), std::string::npos) << checked.out;
}

// A backup restores the splicer's settings byte for byte, kept bytes included;
// diff names the rows that changed; an update is preceded by a backup.
TEST_F(ArchiveCliTest, BackupDiffRestoreAndTheBackupBeforeAnUpdate) {
    auto splice = installed.params->Splice();
    splice[30] = 0xC3;  // a byte the page never shows
    installed.params->SetSplice(splice);
    const std::string file = (scratch.path() / "settings.txt").string();
    ASSERT_EQ(Run({"read", "splice"}).status, 0);
    ASSERT_EQ(Run({"backup", file}).status, 0);
    {
        // A read and a backup each leave a snapshot of what the splicer held.
        auto opened = archive::Archive::Open(workDir.path() / "FS" / "archive.db");
        ASSERT_TRUE(opened.archive) << opened.error.message;
        const auto snapshots = opened.archive->Snapshots({});
        ASSERT_TRUE(snapshots.has_value());
        ASSERT_EQ(snapshots->size(), 2u);
        EXPECT_EQ(snapshots->front().groups.front().bytes,
                  std::vector<std::uint8_t>(splice.begin(), splice.end()));
    }

    ASSERT_EQ(Run({"write", "splice", "Cut Angle=2.5"}).status, 0);
    auto changed = installed.params->Splice();
    changed[30] = 0x00;
    installed.params->SetSplice(changed);
    const test::CliRun diff = Run({"diff", file});
    ASSERT_EQ(diff.status, 0) << diff.err;
    EXPECT_NE(diff.out.find("splice\tCut Angle\t"), std::string::npos) << diff.out;

    const test::CliRun restore = Run({"restore", file, "splice"});
    ASSERT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(installed.params->Splice(), splice) << "every byte back as it was";
    EXPECT_EQ(Run({"diff", file}).out, "");
    {
        // The restore keeps a snapshot of what it wrote, as the window does.
        auto opened = archive::Archive::Open(workDir.path() / "FS" / "archive.db");
        ASSERT_TRUE(opened.archive);
        const auto snapshots = opened.archive->Snapshots({});
        ASSERT_TRUE(snapshots && snapshots->size() == 4u);
        EXPECT_EQ(snapshots->back().reason, archive::reason::Write);
    }

    // A file changed by hand, one that lacks a group, or no file at all is refused
    // with what is wrong, and nothing is written.
    std::string text = test::ReadFileBytes(file);
    const std::string lacking =
        scratch.Write("lacking.txt", text.substr(0, text.find("[heating]"))).string();
    text.replace(text.find("VM2406A0153"), 11, "XX0000000001");
    const std::string edited = scratch.Write("edited.txt", text).string();
    const struct {
        std::vector<std::string> args;
        std::string error;
    } refused[] = {
        {{"restore", edited}, "the checksum does not match"},
        {{"restore", lacking}, "the backup holds no heating, config record; name the groups"},
        {{"restore", scratch.path().string()}, "not a file (a folder or a device)"},
        {{"diff", "/dev/zero"}, "not a file (a folder or a device)"},
    };
    for (const auto& r : refused) {
        const test::CliRun run = Run(r.args);
        EXPECT_EQ(run.status, 2) << r.args[1];
        EXPECT_NE(run.err.find(r.error), std::string::npos) << run.err;
    }
    // Without its checksum a file restores its rows alone: the byte no row shows stays.
    installed.params->SetSplice(changed);
    const test::CliRun rowsOnly = Run({"restore", lacking, "splice"});
    EXPECT_EQ(rowsOnly.status, 0) << rowsOnly.err;
    EXPECT_NE(rowsOnly.err.find("only its rows are restored"), std::string::npos);
    auto rows = splice;
    rows[30] = 0x00;
    EXPECT_EQ(installed.params->Splice(), rows);

    // The update is preceded by a backup; without an archive it is refused.
    const std::string firmware = scratch.Write("fw.bin", std::string(4000, 'F')).string();
    const test::CliRun update = Run({"firmware", firmware});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(test::Lines(update.out).front(),
              "Settings backed up in the archive before the update");
    RestartSplicer();
    std::ofstream(workDir.path() / "FS" / "archive.db", std::ios::binary | std::ios::trunc)
        << std::string(4096, 'x');
    // The work is done but not kept: exit status 3, and why.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"history"}, {"image", "1"}}) {
        const test::CliRun run = Run(command);
        EXPECT_EQ(run.status, 3) << command[0];
        EXPECT_FALSE(run.out.empty()) << command[0];
        EXPECT_NE(run.err.find("is damaged"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Run({"firmware", firmware}).status, 1);
    EXPECT_EQ(Run({"firmware", firmware, "--no-backup"}).status, 0);
    // A backup the archive cannot keep is done, but says so in its exit status.
    RestartSplicer();
    const test::CliRun unkept = Run({"backup", file});
    EXPECT_EQ(unkept.status, 3);
    EXPECT_NE(unkept.err.find("archive"), std::string::npos) << unkept.err;
}

// Records are kept as they arrive: a download that ends early (the line lost, or
// Ctrl-C while the splicer has stopped sending) keeps every record that came whole,
// once; the whole download after it adds only the rest. Ctrl-C wakes the blocked
// wait at once: it is told as a cancel, not as the splicer stopping seconds later.
TEST_F(ArchiveCliTest, ADownloadCutShortKeepsWhatCameOnceAndTheNextOnlyTheRest) {
    constexpr int kRecords = 1234;  // more than two of the batches stored as they come
    constexpr int kCut = 700 * 38 + 5;
    const struct {
        sim::Fault fault;
        bool interrupt;
        std::string reason;
    } cases[] = {
        {{FaultKind::HangUp, kCut}, false, "Port lost"},
        {{FaultKind::Short, kCut}, true, "Download cancelled after "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::filesystem::remove_all(workDir.path() / "FS");
        RestartSplicer();
        sim::InstallRecordCommands(*splicer, kRecords);
        splicer->SetFault(cmd::RecordDownload, c.fault);
        const test::CliRun cut = test::RunProgram(
            test::kCliProgram, {"--port", splicer->PortPath(), "history"}, workDir.path(),
            std::chrono::seconds(60), [&](pid_t pid) {
                // Handshake, configuration, count, download: the stream has begun.
                if (c.interrupt && splicer->WaitForFrames(4, std::chrono::seconds(10)))
                    kill(pid, SIGINT);
            });
        EXPECT_EQ(cut.status, 1);
        EXPECT_NE(cut.err.find(c.reason), std::string::npos) << cut.err;
        EXPECT_EQ(List().size(), test::Lines(cut.out).size()) << "each record that came, once";

        RestartSplicer();  // the one that hung up is gone
        sim::InstallRecordCommands(*splicer, kRecords);
        ASSERT_EQ(Run({"history"}).status, 0);
        EXPECT_EQ(List().size(), static_cast<std::size_t>(kRecords));
    }
}

}  // namespace
}  // namespace velmora
