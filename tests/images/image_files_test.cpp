#include "images/image_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(ImageFileNames, StampThenPositionWithoutLeadingZeros) {
    const ImageEntry january{0, 16, 1, 2, 3, 4, 5};
    const ImageEntry december{0, 16, 12, 5, 9, 7, 3};
    EXPECT_EQ(ImageFileName(january, 0), "201601020304050.jpg");
    EXPECT_EQ(ImageFileName(january, 12), "2016010203040512.jpg");
    EXPECT_EQ(ImageFileName(december, 2), "201612050907032.jpg");

    const ImageCatalogue catalogue = {january, january, december};
    EXPECT_EQ(ImageFilePath("/data/FS/A1", catalogue, 2),
              fs::path("/data/FS/A1/JPG/201612050907032.jpg"));
    EXPECT_FALSE(ImageFilePath("/data/FS/A1", catalogue, 3)) << "past the catalogue";
    EXPECT_FALSE(ImageFilePath("", catalogue, 0)) << "no device folder yet";
}

TEST(JpgFolder, MadeInsideTheDeviceFolderOnly) {
    test::TempDir dir;
    const fs::path device = dir.path() / "FS" / "A1";
    EXPECT_TRUE(EnsureJpgFolder(device)) << "missing parents are made too";
    EXPECT_TRUE(fs::is_directory(device / "JPG"));
    EXPECT_TRUE(EnsureJpgFolder(device)) << "an existing folder is no error";

    // Before the first connection: nothing, neither at the root nor in the working directory.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_FALSE(EnsureJpgFolder({}));
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(dir.path() / "JPG"));
    EXPECT_TRUE(JpgFolder({}).empty());

    dir.Write("FS/file", "not a folder");
    EXPECT_FALSE(EnsureJpgFolder(dir.path() / "FS" / "file"));
}

TEST(ImageFileSave, WritesTheBytesUnchangedAndReplacesWhole) {
    test::TempDir dir;
    const fs::path path = dir.path() / "201612050907032.jpg";
    const Bytes first = sim::SimulatedImageJpeg(0);
    const Bytes second = {0xFF, 0xD8, 0x00, 0x0A, 0xFF, 0xD9};
    EXPECT_FALSE(ImageFileExists(path));
    ASSERT_TRUE(SaveImageFile(path, first).saved);
    EXPECT_TRUE(ImageFileExists(path));
    EXPECT_EQ(ReadAll(path), first);
    ASSERT_TRUE(SaveImageFile(path, second).saved);
    EXPECT_EQ(ReadAll(path), second) << "a shorter image leaves nothing of the longer one";
    ASSERT_TRUE(SaveImageFile(path, {}).saved);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(EntriesIn(dir.path()), 1u) << "no temporary file left behind";
}

TEST(ImageFileSave, AFailureSaysSoAndLeavesNothingBehind) {
    test::TempDir dir;
    const Bytes image = {0xFF, 0xD8, 0xFF, 0xD9};
    struct Case {
        const char* what;
        fs::path path;
    };
    fs::create_directories(dir.path() / "JPG" / "taken.jpg");
    const Case cases[] = {
        {"folder missing", dir.path() / "missing" / "a.jpg"},
        {"a folder stands at the path", dir.path() / "JPG" / "taken.jpg"},
    };
    for (const Case& c : cases) {
        SaveResult result = SaveImageFile(c.path, image);
        EXPECT_FALSE(result.saved) << c.what;
        EXPECT_NE(result.errorText.find("Image file could not be saved: " + c.path.string()),
                  std::string::npos)
            << c.what << ": " << result.errorText;
    }
    EXPECT_EQ(EntriesIn(dir.path() / "JPG"), 1u) << "only the folder that was there";
    EXPECT_TRUE(fs::is_directory(dir.path() / "JPG" / "taken.jpg"));
}

TEST(SimulatedImages, RealJpegsOfPlausibleSizeAlwaysTheSame) {
    for (int index : {0, 1, 5, 254}) {
        const Bytes jpeg = sim::SimulatedImageJpeg(index);
        EXPECT_GE(jpeg.size(), 20u * 1024) << index;
        EXPECT_LE(jpeg.size(), 80u * 1024) << index;
        ASSERT_GE(jpeg.size(), 4u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8) << "starts with a JPEG start-of-image marker";
        EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
        EXPECT_EQ(jpeg.back(), 0xD9) << "ends with the end-of-image marker";
        EXPECT_EQ(jpeg, sim::SimulatedImageJpeg(index));
    }
    EXPECT_NE(sim::SimulatedImageJpeg(0), sim::SimulatedImageJpeg(1));
}

}  // namespace
}  // namespace velmora
