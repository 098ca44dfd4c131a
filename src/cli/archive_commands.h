#pragma once
// The archive on the command line: what history, image and backup keep, and
// archive list/csv/tag/undo-tag.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "cli/cli_commands.h"
#include "history/splice_record.h"
#include "settings/backup_texts.h"

namespace velmora::cli {

// Keeps a complete download in the archive (FS/archive.db under the data folder).
// False when it was not kept, the reason told on standard error; the command
// itself stands (it exits with kExitNotArchived).
bool ArchiveDownload(CliContext& context, const RecordStore& records);

int RunArchive(CliContext& context, CommandArgs args);

// Reads --device, --from, --to and --job from `args` into `filter`; the words that
// are not filters stay in `rest`. An error text on a bad or incomplete filter.
// --device D takes the splicer whose serial number is D and every splicer of folder D.
std::optional<std::string> ParseRecordFilter(CommandArgs args, archive::RecordFilter& filter,
                                             std::vector<std::string>& rest);

// Keeps a saved image in the archive (its time stamp, file name, size and hash);
// false, told, when it was not kept.
bool ArchiveImage(CliContext& context, const std::string& stamp, const std::string& fileName,
                  std::span<const std::uint8_t> bytes);

// Keeps a settings backup as a snapshot in the archive; false (told) when it cannot.
bool ArchiveSnapshot(CliContext& context, const SettingsBackup& backup, std::string_view reason);

}  // namespace velmora::cli
