// Where downloaded images go and under which names.
#include "images/image_files.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(ImageFiles, NamedByStampAndPositionInsideTheDeviceFolder) {
    const ImageEntry january{0, 16, 1, 2, 3, 4, 5};
    const ImageEntry december{0, 16, 12, 5, 9, 7, 3};
    EXPECT_EQ(ImageFileName(january, 0), "201601020304050.jpg");
    EXPECT_EQ(ImageFileName(january, 12), "2016010203040512.jpg");
    const ImageCatalogue catalogue = {january, january, december};
    EXPECT_EQ(ImageFilePath("/data/FS/A1", catalogue, 2),
              fs::path("/data/FS/A1/JPG/201612050907032.jpg"));
    EXPECT_FALSE(ImageFilePath("/data/FS/A1", catalogue, 3)) << "past the catalogue";
    EXPECT_FALSE(ImageFilePath("", catalogue, 0)) << "no device folder yet";

    // Before the first connection: nothing, neither at the root nor in the working directory.
    test::TempDir dir;
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_FALSE(EnsureJpgFolder({}));
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(dir.path() / "JPG"));
}

}  // namespace
}  // namespace velmora
