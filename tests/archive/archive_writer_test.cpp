// The window's archive thread: a look before anything was archived leaves no file
// behind, and what is handed over before it ends is all stored.
#include "archive/archive_writer.h"

#include <gtest/gtest.h>

#include "sim/record_commands.h"
#include "support/test_support.h"

namespace velmora::archive {
namespace {

TEST(ArchiveWriter, AQueryCreatesNothingAndEveryStoreHandedOverIsKept) {
    test::TempDir dir;
    const std::filesystem::path file = ArchiveFile(dir.path());
    bool nothingYet = false;
    std::size_t stored = 0;
    {
        ArchiveWriter writer(file);
        writer.PostQuery([&](Archive* archive, const ArchiveError& error) {
            nothingYet = !archive && error.code == ErrorCode::NoArchive;
            EXPECT_FALSE(std::filesystem::exists(file));
        });
        for (int i = 0; i < 20; ++i)
            writer.Post([&, i](Archive* archive, const ArchiveError&) {
                ASSERT_NE(archive, nullptr);
                const SpliceRecord record{sim::SampleRecord(i)};
                stored += archive->StoreDownload({"M1", ""}, std::span(&record, 1)).count;
            });
    }  // ends only once the queue is done
    EXPECT_TRUE(nothingYet);
    EXPECT_EQ(stored, 20u);
    auto opened = Archive::Open(file);
    ASSERT_TRUE(opened.archive);
    EXPECT_EQ(opened.archive->Records({})->size(), 20u);
}

}  // namespace
}  // namespace velmora::archive
