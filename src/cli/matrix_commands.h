#pragma once
// A job's deliverables on the command line: matrix JOB -o FILE.xlsx|FILE.csv and
// geojson JOB -o FILE.geojson, and what the job's other file commands share.
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/atomic_file.h"
#include "cli/cli_commands.h"
#include "jobs/matrix_csv.h"
#include "jobs/splice_matrix.h"

namespace velmora::cli {

int RunMatrix(CliContext& context, CommandArgs args);
int RunGeoJson(CliContext& context, CommandArgs args);

// A command that writes a file: its words, -o FILE (or --output; "-" the standard
// output), --format, and --encoding for a CSV file.
struct OutputCommand {
    std::vector<std::string> words;
    std::string file;
    std::string format;  // "xlsx", "csv", "svg"...: --format, else the file's extension
    jobs::CsvEncoding encoding = jobs::CsvEncoding::OfTheTables;
};

// The command's words (`needed` of `names` at least, all of them at most) and its
// options, in any order; an error text when they are not as they should be.
// `formats` are those the command writes: one alone is written whatever the name.
std::optional<std::string> ParseOutputCommand(CommandArgs args,
                                              const std::set<std::string_view>& formats,
                                              std::initializer_list<std::string_view> names,
                                              std::size_t needed, OutputCommand& parsed);

// The job's matrix, against its limits (the report's remembered ones where it sets
// none); nothing once the reason has been told on standard error.
std::optional<jobs::SpliceMatrix> ReadJobMatrix(const std::string& job);
// Prints the file's name once written (on standard error when the file went to
// standard output), else says why not; the exit status.
int Written(const FileWriteResult& written, const std::string& file);

}  // namespace velmora::cli
