#pragma once
// The archive on the command line: what history, image and backup keep, and
// archive list/csv/tag/undo-tag.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "cli/cli_commands.h"
#include "history/splice_record.h"
#include "settings/backup_texts.h"

namespace velmora::cli {

// Keeps the records of a download in the archive (FS/archive.db under the data
// folder) while they arrive: every kBatch records go to the archive's own thread
// as one store, so that storing them costs the command almost nothing after the
// last record. Each record is stored once (the archive knows a record by its
// splicer and bytes, so a batch boundary changes nothing); records that came
// whole stay kept when the download ends early.
class DownloadArchiver {
  public:
    static constexpr std::size_t kBatch = 500;
    // Off (nothing kept, nothing told) when `keep` is false.
    DownloadArchiver(CliContext& context, bool keep);
    ~DownloadArchiver();
    DownloadArchiver(const DownloadArchiver&) = delete;
    DownloadArchiver& operator=(const DownloadArchiver&) = delete;

    // Records that just arrived, in order; any thread, one at a time.
    void Add(const std::vector<SpliceRecord>& records);
    // Hands what has arrived to the archive now (the last record is in), from the
    // thread that calls Add.
    void Flush();
    // Stores what is left and waits for every store. False when something was not
    // kept, the reason told on standard error.
    bool Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

int RunArchive(CliContext& context, CommandArgs args);

// The filters of the archive's records, options that take a value.
inline const std::set<std::string_view> kFilterOptions = {"--device", "--from", "--to", "--job"};
// The archive's own commands also take the records of one verdict against the report's
// limits and those a text search finds.
inline const std::set<std::string_view> kResultOptions = {"--result", "--search"};

// Takes the filters among `words` into `filter`; an error text on a bad one. --device
// D takes the splicer whose serial number is D and every splicer of folder D.
std::optional<std::string> ParseRecordFilter(const CommandWords& words,
                                             archive::RecordFilter& filter);

// Keeps a saved image in the archive (its time stamp, file name, size and hash);
// false, told, when it was not kept.
bool ArchiveImage(CliContext& context, const std::string& stamp, const std::string& fileName,
                  std::span<const std::uint8_t> bytes);

// Keeps a settings backup as a snapshot in the archive; false (told) when it cannot.
bool ArchiveSnapshot(CliContext& context, const SettingsBackup& backup, std::string_view reason);

}  // namespace velmora::cli
