#pragma once
// A job's deliverables on the command line: matrix JOB -o FILE.xlsx|FILE.csv and
// geojson JOB -o FILE.geojson, and what the job's other file commands share.
#include <optional>
#include <string>

#include "base/atomic_file.h"
#include "cli/cli_commands.h"
#include "jobs/splice_matrix.h"

namespace velmora::cli {

int RunMatrix(CliContext& context, CommandArgs args);
int RunGeoJson(CliContext& context, CommandArgs args);

// The job's matrix, against its limits (the report's remembered ones where it sets
// none); nothing once the reason has been told on standard error.
std::optional<jobs::SpliceMatrix> ReadJobMatrix(const std::string& job);
// Prints the file's name once written, else says why not; the exit status.
int Written(const FileWriteResult& written, const std::string& file);

}  // namespace velmora::cli
