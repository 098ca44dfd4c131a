// The images of the archive: each image file's name, size and SHA-256 (not its bytes),
// tied to the records of its splicer and time.
#include "archive/archive.h"
#include "archive/archive_splicers.h"
#include "archive/database.h"
#include "archive/splice_time.h"
#include "base/sha256.h"

namespace velmora::archive {
namespace {

// A file name only: nothing that would make it a path, and no NUL.
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::string> ImageProblem(const SplicerIdentity& splicer, const ImageFile& image) {
    if (auto problem = SplicerProblem(splicer)) return problem;
    if (!IsPlainFileName(image.fileName))
        return "the image's file name \"" + image.fileName + "\" is not a plain name";
    if (image.stamp.empty()) return "the image has no time stamp";
    return std::nullopt;
}

}  // namespace

StoreResult Archive::StoreImage(const SplicerIdentity& splicer, const ImageFile& image) {
    return Write("storing an image", [&]() -> StoreResult {
        if (auto problem = ImageProblem(splicer, image))
            return {0, 0, {ErrorCode::InvalidArgument, *problem}};
        const std::string sha = HexText(Sha256Of(image.bytes));
        const std::chrono::sys_seconds now = Now();
        db::Transaction tx(db_);
        const SplicerRow row = TouchSplicer(db_, splicer, now);
        // As a record: the image its folder's splicers of unknown serial number hold is this one's.
        if (row.unknownSerial)
            db::Statement(db_,
                          "UPDATE OR IGNORE images SET splicer_id = ?1 "
                          "WHERE splicer_id = ?2 AND stamp = ?3 AND sha256 = ?4",
                          row.id, *row.unknownSerial, image.stamp, sha)
                .Run();
        StoreResult stored;
        if (const auto known = db::Statement(db_,
                                             "SELECT id FROM images WHERE splicer_id = ?1 AND "
                                             "stamp = ?2 AND sha256 = ?3",
                                             row.id, image.stamp, sha)
                                   .Single()) {
            // The same picture saved again, perhaps under another list position's name.
            stored.id = *known;
            db::Statement(db_, "UPDATE images SET file_name = ?1 WHERE id = ?2", image.fileName,
                          stored.id)
                .Run();
        } else {
            db::Statement insert(db_,
                                 "INSERT INTO images(splicer_id, stamp, splice_time, file_name, "
                                 "size, sha256, stored) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                                 row.id, image.stamp, SpliceTime(image.stamp), image.fileName,
                                 static_cast<std::int64_t>(image.bytes.size()), sha,
                                 now.time_since_epoch().count());
            insert.Run();
            stored.id = insert.InsertedId();
            stored.count = 1;
        }
        tx.Commit();
        return stored;
    });
}

std::optional<std::vector<ArchivedImage>> Archive::Images(std::string_view device) {
    return Run("reading images", [&]() -> std::optional<std::vector<ArchivedImage>> {
        db::Statement query(db_,
                            "SELECT images.id, splicers.folder, images.stamp, images.file_name, "
                            "images.size, images.sha256, (SELECT min(records.id) FROM records "
                            "WHERE records.splicer_id = images.splicer_id AND "
                            "records.splice_time = images.splice_time) "
                            "FROM images JOIN splicers ON splicers.id = images.splicer_id "
                            "WHERE splicers.serial = ?1 OR splicers.folder = ?1 "
                            "ORDER BY images.stamp, images.file_name",
                            device);
        std::vector<ArchivedImage> out;
        while (query.Next()) {
            ArchivedImage& image = out.emplace_back();
            image.id = query.Int(0);
            image.device = query.Text(1);
            image.stamp = query.Text(2);
            image.fileName = query.Text(3);
            image.size = static_cast<std::uint64_t>(query.Int(4));
            image.sha256 = query.Text(5);
            if (!query.IsNull(6)) image.recordId = query.Int(6);
        }
        return out;
    });
}

}  // namespace velmora::archive
