// A laptop's id: made once and then read back, never a second one beside it; a file
// that holds no id (cut short, scribbled) is replaced by a new one.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "team/team_sync.h"

namespace velmora::test {
namespace {

TEST(LaptopId, MadeOnceAndAFileWithoutOneReplaced) {
    for (const char* before : {"", "0123", "not an id at all\n"}) {
        SCOPED_TRACE(before);
        const TempDir folder;
        if (*before) folder.Write("laptop-id.txt", before);
        std::string error;
        const std::string id = team::LaptopId(folder.path(), error);
        EXPECT_EQ(id.size(), 36u) << error;
        EXPECT_EQ(ReadFileBytes(folder.path() / "laptop-id.txt"), id + "\n");
        EXPECT_EQ(team::LaptopId(folder.path(), error), id);
    }
}

}  // namespace
}  // namespace velmora::test
