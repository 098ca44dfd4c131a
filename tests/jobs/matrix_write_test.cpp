// Writing a job's deliverables on every platform (the Windows build runs this under
// Wine): complete files under a Chinese folder name, nothing at all on failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/path_text.h"
#include "jobs/closures_geojson.h"
#include "jobs/matrix_csv.h"
#include "jobs/matrix_xlsx.h"
#include "support/matrix_fixture.h"
#include "support/test_support.h"

namespace velmora::jobs {
namespace {

namespace fs = std::filesystem;

TEST(MatrixWrite, WrittenWholeOrNotAtAll) {
    const test::TempDir dir;
    const SpliceMatrix matrix = test::FixtureMatrix();
    const MatrixCaptions captions = LoadMatrixCaptions();
    for (const fs::path& folder : {dir.path() / PathFromText("交付"), dir.path() / "missing"}) {
        const bool exists = folder.filename() != "missing";
        if (exists) fs::create_directory(folder);
        const FileWriteResult results[] = {
            WriteMatrixXlsx(folder / "m.xlsx", matrix, captions),
            WriteMatrixCsv(folder / "m.csv", matrix, captions, TableLanguage::Chinese),
            WriteClosuresGeoJson(folder / "m.geojson", matrix),
        };
        for (const FileWriteResult& result : results) {
            EXPECT_EQ(result.ok, exists) << result.reason;
            EXPECT_EQ(result.reason.empty(), exists) << result.reason;
        }
        EXPECT_EQ(fs::exists(folder), exists);
        if (exists) {
            EXPECT_EQ(test::ReadFileBytes(folder / "m.xlsx").substr(0, 4), "PK\x03\x04");
        }
    }
}

}  // namespace
}  // namespace velmora::jobs
