#pragma once
// How a job's deliverables (the splice matrix as XLSX and CSV, the closures as
// GeoJSON, the job's report) and the front ends word the matrix and the job's
// verdict: captions from the language files (section "Job", English defaults) and
// the texts of a position's cells, shared so that a column reads the same in every
// file.
#include <array>
#include <cstddef>
#include <string>

#include "base/language.h"
#include "jobs/fibre_colours.h"
#include "jobs/job_verdict.h"
#include "jobs/matrix_columns.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// Every caption the deliverables use, looked up once (a lookup reads the language file).
struct MatrixCaptions {
    std::array<std::string, kMatrixColumns> columns;
    std::array<std::string, kColourCount> colours;
    std::array<std::string, 5> marks;  // in the order of Mark
    std::string title, summary, customer, contractor, technicians, notes, closure, closures,
        location, latitude, longitude, positions, spliced, overLimit, respliced, planned, unplaced,
        testSplices, total, replaced, replacedSplice, replacedCount, failures, noFailures, fibres,
        cause;
    // Words the report shares: how splices are judged and numbered.
    std::string job, verdict, passed, maxLoss, maxAngle, number;
    // The verdicts: a sentence each, and a word each.
    std::string jobPassed, jobFailed, jobNotStarted, jobInProgress;
    std::array<std::string, 4> states;  // in the order of JobState

    const std::string& operator[](MatrixColumn c) const {
        return columns[static_cast<std::size_t>(c)];
    }
    const std::string& Colour(FibreColour c) const { return colours[static_cast<std::size_t>(c)]; }
    // "Pass", "Splice failed", "Loss over limit"...
    const std::string& Mark(velmora::Mark mark) const {
        return marks[static_cast<std::size_t>(mark)];
    }
    // "The job is in progress: 18 of 24 positions spliced" and the like.
    std::string Verdict(const JobVerdict& verdict) const;
    // "in progress" and the like.
    const std::string& State(JobState state) const {
        return states[static_cast<std::size_t>(state)];
    }
};
MatrixCaptions LoadMatrixCaptions();

// "0.02": hundredths of a dB with a decimal point whatever the locale.
std::string LossFigure(int hundredths);

// A position's cells as text, in column order: what the CSV file holds ("" where a
// planned position has no splice yet). Numbers in the C locale: loss "0.02", time
// "2026-03-07 09:05:30".
std::array<std::string, kMatrixColumns> RowTexts(const MatrixRow& row,
                                                 const MatrixCaptions& captions);

// "No. 12 M2406A0153 2026-03-07 09:05:30 0.35 dB Splice failed": one splice named
// wherever a list of them is shown (test splices, unplaced records).
std::string SpliceText(const MatrixSplice& splice, const MatrixCaptions& captions);

// "No. 19, 0.20 dB, Splice failed": an attempt a later splice replaced; the attempts
// of a position, oldest first, separated by "; " ("" when it has none).
std::string ReplacedText(const MatrixSplice& attempt, const MatrixCaptions& captions);
std::string ReplacedText(const MatrixRow& row, const MatrixCaptions& captions);
// The same in the run's language, looking up only the words it needs: for a list
// that words its rows one at a time.
std::string ReplacedText(const MatrixRow& row);

}  // namespace velmora::jobs
