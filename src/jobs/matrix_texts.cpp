#include "jobs/matrix_texts.h"

#include "base/messages.h"
#include "history/splice_record.h"

namespace velmora::jobs {

std::string LossFigure(int hundredths) {
    const int whole = hundredths / 100, part = hundredths % 100;
    return std::to_string(whole) + (part < 10 ? ".0" : ".") + std::to_string(part);
}

std::string MatrixCaptions::Verdict(const JobVerdict& v) const {
    switch (v.state) {
        case JobState::NotStarted:
            return jobNotStarted;
        case JobState::InProgress:
            break;
        case JobState::Failed:
            return jobFailed;
        case JobState::Passed:
            return jobPassed;
    }
    return FillNumbered(jobInProgress, {std::to_string(v.spliced), std::to_string(v.planned)});
}

MatrixCaptions LoadMatrixCaptions() {
    namespace k = keys::job_files;
    namespace j = keys::judging;
    MatrixCaptions c;
    for (const MatrixColumnInfo& column : MatrixColumns())
        c.columns[static_cast<std::size_t>(column.column)] = Text(column.caption);
    for (std::size_t i = 0; i < kColourCount; ++i) c.colours[i] = Text(k::ColourNames[i]);
    for (std::size_t i = 0; i < c.marks.size(); ++i) c.marks[i] = Text(j::Marks[i]);
    const std::array<const TextKey*, 4> states{&k::StateNotStarted, &k::StateInProgress,
                                               &k::StateFailed, &k::StatePassed};
    for (std::size_t i = 0; i < states.size(); ++i) c.states[i] = Text(*states[i]);
    for (auto [text, key] : {std::pair{&c.title, &k::MatrixTitle},
                             {&c.summary, &k::SummarySheet},
                             {&c.customer, &k::Customer},
                             {&c.contractor, &k::Contractor},
                             {&c.technicians, &k::Technicians},
                             {&c.notes, &k::Notes},
                             {&c.closure, &k::Closure},
                             {&c.closures, &k::Closures},
                             {&c.location, &k::Location},
                             {&c.latitude, &k::Latitude},
                             {&c.longitude, &k::Longitude},
                             {&c.positions, &k::Positions},
                             {&c.spliced, &k::Spliced},
                             {&c.overLimit, &k::OverLimit},
                             {&c.respliced, &k::Respliced},
                             {&c.planned, &k::Planned},
                             {&c.unplaced, &k::Unplaced},
                             {&c.testSplices, &k::TestSplices},
                             {&c.total, &k::Total},
                             {&c.replaced, &k::Replaced},
                             {&c.replacedSplice, &k::ReplacedSplice},
                             {&c.replacedCount, &k::ReplacedCount},
                             {&c.failures, &k::Failures},
                             {&c.noFailures, &k::NoFailures},
                             {&c.fibres, &k::Fibres},
                             {&c.cause, &k::Cause},
                             {&c.job, &j::Job},
                             {&c.verdict, &j::Verdict},
                             {&c.passed, &j::Passed},
                             {&c.maxLoss, &j::MaxLoss},
                             {&c.maxAngle, &j::MaxAngle},
                             {&c.number, &j::Number},
                             {&c.jobPassed, &k::JobPassed},
                             {&c.jobFailed, &k::JobNotPassed},
                             {&c.jobNotStarted, &k::JobNotStarted},
                             {&c.jobInProgress, &k::JobInProgress}})
        *text = Text(*key);
    return c;
}

std::array<std::string, kMatrixColumns> RowTexts(const MatrixRow& row,
                                                 const MatrixCaptions& captions) {
    std::array<std::string, kMatrixColumns> cells;
    for (const MatrixColumnInfo& column : MatrixColumns())
        cells[static_cast<std::size_t>(column.column)] = column.read(row, captions).text;
    return cells;
}

std::string SpliceText(const MatrixSplice& splice, const MatrixCaptions& captions) {
    return captions.number + " " + std::to_string(splice.number) + " " + splice.splicer + " " +
           TimeText(splice.record) + " " + LossFigure(splice.record.loss()) + " dB " +
           captions.Mark(splice.mark);
}

std::string ReplacedText(const MatrixSplice& attempt, const MatrixCaptions& captions) {
    return FillNumbered(captions.replacedSplice,
                        {std::to_string(attempt.number), LossFigure(attempt.record.loss()),
                         captions.Mark(attempt.mark)});
}

std::string ReplacedText(const MatrixRow& row, const MatrixCaptions& captions) {
    std::string text;
    for (const MatrixSplice& attempt : row.resplices)
        text += (text.empty() ? "" : "; ") + ReplacedText(attempt, captions);
    return text;
}

std::string ReplacedText(const MatrixRow& row) {
    if (row.resplices.empty()) return {};
    MatrixCaptions words;
    words.replacedSplice = Text(keys::job_files::ReplacedSplice);
    for (std::size_t i = 0; i < words.marks.size(); ++i)
        words.marks[i] = Text(keys::judging::Marks[i]);
    return ReplacedText(row, words);
}

}  // namespace velmora::jobs
