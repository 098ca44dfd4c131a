// The archive through velmora-cli: every splice of every download kept once,
// whatever is downloaded again, across days and splicer clears.
#include <gtest/gtest.h>

#include "history/csv_export.h"
#include "history/history_texts.h"
#include "sim/record_commands.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

class ArchiveCliTest : public test::CliTest {
  protected:
    std::vector<std::string> List(std::vector<std::string> filters = {}) {
        filters.insert(filters.begin(), {"archive", "list"});
        const test::CliRun r = Run(filters);
        EXPECT_EQ(r.status, 0) << r.err;
        return test::Lines(r.out);
    }
};

TEST_F(ArchiveCliTest, EverySpliceOnceAcrossDownloads) {
    // Monday and Tuesday: the same 40 records downloaded twice.
    ASSERT_EQ(Run({"history"}).status, 0);
    ASSERT_EQ(Run({"history", "--csv"}).status, 0);
    EXPECT_EQ(List().size(), static_cast<std::size_t>(test::kCliRecords));
    // Wednesday: ten more on the splicer; each splice still listed once, oldest first.
    sim::InstallRecordCommands(*splicer, test::kCliRecords + 10);
    ASSERT_EQ(Run({"history"}).status, 0);
    const std::vector<std::string> all = List();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(test::kCliRecords + 10));
    EXPECT_TRUE(
        std::is_sorted(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
            return a.substr(a.find('\t')) < b.substr(b.find('\t'));
        }));
    const SpliceRecord first{sim::SampleRecord(0)};
    EXPECT_EQ(all.front(), std::string(test::kSimDeviceName) + "\t" + TimeText(first) + "\t" +
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

    // Nothing is kept with --no-archive; a bad filter is a usage error.
    sim::InstallRecordCommands(*splicer, test::kCliRecords + 20);
    ASSERT_EQ(Run({"history", "--no-archive"}).status, 0);
    EXPECT_EQ(List().size(), all.size());
    EXPECT_EQ(Run({"archive", "list", "--from", "2026-13-01"}).status, 2);
}

}  // namespace
}  // namespace velmora
