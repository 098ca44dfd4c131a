#pragma once
// A job's splice matrix built directly, for the tests and benchmarks of what is
// written from it (XLSX, CSV, GeoJSON, the job's report): names a sheet cannot take
// as they are (Chinese past 31 characters, []:*?/\, a clash ignoring case), a
// re-splice, a failure, a planned position, one record unplaced and one test splice.
#include <cstdint>
#include <string>

#include "jobs/splice_matrix.h"

namespace velmora::test {

// A record of 2026-03-07 10:<minute>:<second> with its result and loss.
inline SpliceRecord MatrixRecord(int loss, int result, int minute, int second = 0) {
    SpliceRecord r;
    r.bytes[0] = 26, r.bytes[1] = 3, r.bytes[2] = 7, r.bytes[3] = 10;
    r.bytes[4] = static_cast<std::uint8_t>(minute), r.bytes[5] = static_cast<std::uint8_t>(second);
    r.bytes[6] = static_cast<std::uint8_t>(result);
    r.bytes[8] = static_cast<std::uint8_t>(loss & 0xFF);
    r.bytes[9] = static_cast<std::uint8_t>(loss >> 8);
    r.bytes[10] = r.bytes[12] = 5;  // cleave angles 0.5 degrees
    r.bytes[16] = 1;
    return r;
}

inline jobs::MatrixSplice MatrixSpliceOf(std::int64_t number, int loss, int result, int minute,
                                         const Limits& limits = {}) {
    jobs::MatrixSplice s;
    s.recordId = number;
    s.splicer = "AM2406A0153";
    s.number = number;
    s.record = MatrixRecord(loss, result, minute, static_cast<int>(number % 60));
    s.mark = Judge(s.record, limits);
    return s;
}

// Position `position` of tray `tray` joining fibre `fibre` of cables "F-112" and
// "F-7", both with 12 fibres a tube.
inline jobs::MatrixRow MatrixRowOf(int tray, int position, int fibre) {
    jobs::MatrixRow row;
    row.tray = tray;
    row.position = position;
    row.a = {"F-112", fibre, jobs::PlaceOfFibre(fibre)};
    row.b = {"F-7", fibre, jobs::PlaceOfFibre(fibre)};
    return row;
}

// What ReadMatrix counts of a closure's rows.
inline jobs::MatrixCounts CountRows(const std::vector<jobs::MatrixRow>& rows) {
    return jobs::CountRows(rows);
}

inline jobs::MatrixClosure MatrixClosureOf(std::string name, std::optional<jobs::GeoPoint> point,
                                           std::vector<jobs::MatrixRow> rows) {
    jobs::MatrixClosure closure;
    closure.closure.details = {.name = std::move(name), .location = "", .point = point};
    closure.rows = std::move(rows);
    closure.counts = CountRows(closure.rows);
    return closure;
}

inline void AddTotals(jobs::SpliceMatrix& m) {
    std::vector<jobs::MatrixRow> all;
    for (const jobs::MatrixClosure& c : m.closures)
        all.insert(all.end(), c.rows.begin(), c.rows.end());
    m.totals = jobs::CountRows(all);
}

// The fixture: three closures. The first (Chinese, 36 characters, located) holds
// tray 1: position 1 passed, 2 failed and re-spliced within the limits, 3 over the
// loss limit, 4 planned; tray 2 position 1 joins fibre 13 (tube 2, orange; fibre
// blue). The second ("C/17:[a]", located) and the third ("c_17__a_", no location)
// make the same sheet name once made safe.
inline jobs::SpliceMatrix FixtureMatrix() {
    jobs::SpliceMatrix m;
    m.job.details = {.name = "Ring 7 北段",
                     .customer = "Netco, Ltd.",
                     .contractor = "Fibre \"Works\"",
                     .technicians = "李伟",
                     .notes = "",
                     .limits = {}};
    std::vector<jobs::MatrixRow> rows{MatrixRowOf(1, 1, 1), MatrixRowOf(1, 2, 2),
                                      MatrixRowOf(1, 3, 3), MatrixRowOf(1, 4, 4),
                                      MatrixRowOf(2, 1, 13)};
    rows[0].splice = MatrixSpliceOf(101, 2, 0, 1);
    rows[1].resplices = {MatrixSpliceOf(102, 35, 1, 2)};
    rows[1].splice = MatrixSpliceOf(103, 4, 0, 3);
    rows[2].splice = MatrixSpliceOf(104, 25, 0, 4);
    rows[4].splice = MatrixSpliceOf(105, 3, 0, 5);
    m.closures.push_back(
        MatrixClosureOf("北门一号接头盒位于北段环路第七号人井内东侧墙上的第二层支架之上的接头盒子",
                        jobs::GeoPoint{31.2304, 121.4737}, std::move(rows)));
    m.closures.back().closure.details.location = "北门 \"7\"\tpit";
    std::vector<jobs::MatrixRow> second{MatrixRowOf(1, 1, 5)};
    second[0].splice = MatrixSpliceOf(106, 1, 0, 6);
    m.closures.push_back(
        MatrixClosureOf("C/17:[a]", jobs::GeoPoint{-33.8688, 151.2093}, std::move(second)));
    m.closures.push_back(MatrixClosureOf("c_17__a_", std::nullopt, {MatrixRowOf(1, 1, 6)}));
    m.unplaced = {MatrixSpliceOf(107, 5, 0, 7)};
    m.testSplices = {MatrixSpliceOf(108, 9, 0, 8)};
    AddTotals(m);
    m.job.records = 8;
    m.job.placed = 6;
    m.job.testSplices = 1;
    return m;
}

}  // namespace velmora::test
