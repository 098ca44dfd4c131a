#pragma once
// The archive on the command line: what history stores, and archive list/csv/tag.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_commands.h"
#include "history/splice_record.h"
#include "settings/backup_texts.h"

namespace velmora::cli {

// Keeps a complete download in the archive (FS/archive.db under the working
// directory). A failure is told on standard error; the command itself stands.
void ArchiveDownload(CliContext& context, const RecordStore& records);

int RunArchive(CliContext& context, CommandArgs args);

// Keeps a saved image in the archive (its time stamp, file name, size and hash).
void ArchiveImage(CliContext& context, const std::string& stamp, const std::string& fileName,
                  std::span<const std::uint8_t> bytes);

// Keeps a settings backup as a snapshot in the archive; false (told) when it cannot.
bool ArchiveSnapshot(CliContext& context, const SettingsBackup& backup, std::string_view reason);

}  // namespace velmora::cli
