// A settings backup file as a person may have edited, cut or damaged it, through
// ParseBackupText. What is read back is a backup that writes and reads again to
// the same records; nothing else is ever taken for one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "settings/backup_texts.h"

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const std::optional<SettingsBackup> backup =
        ParseBackupText(velmora_fuzz::AsText(std::span(data, size)), error);
    if (!backup) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    for (const auto& [record, bytes] : backup->records) {
        FUZZ_CHECK(bytes.size() == InfoOf(record).size);
        FUZZ_CHECK(InfoOf(record).writeCommand.has_value());
    }
    static const OptionTables tables = OptionTablesFor(Config());
    std::string again;
    const std::optional<SettingsBackup> reread = ParseBackupText(BackupText(*backup, tables), again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(reread->records == backup->records);
    FUZZ_CHECK(reread->serialNumber == backup->serialNumber);
    return 0;
}
