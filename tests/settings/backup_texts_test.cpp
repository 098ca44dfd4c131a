#include "settings/backup_texts.h"

#include <gtest/gtest.h>

#include <functional>

#include "archive/snapshot_backup.h"
#include "settings/value_text.h"
#include "support/test_support.h"

namespace velmora {
namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string WithoutChecksum(const std::string& text) {
    return text.substr(0, text.find("sha256\t"));
}

// A backup file read back as it was written, in either language, whatever a
// person's editor did to its line ends; a file changed by hand, cut short or
// damaged is refused with what is wrong.
TEST(BackupText, ReadBackOrRefusedWithTheReason) {
    test::ScopedConfig english(1);
    ParameterRecords records;
    records.splice.cutAngle = 30;
    NameToField("A\tB\\C", records.splice.name1);  // a tab and a backslash in a name
    SettingsBackup backup = BackupOf(records, kBackupRecords);
    backup.serialNumber =
        "VM\x1B"
        "01";
    backup.device =
        "M\x1B"
        "01";
    const std::string text = BackupText(backup, OptionTablesFor(Config()));
    OptionTables chinese = ChineseOptionTables();
    const std::string inChinese = BackupText(backup, chinese);
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    using Change = std::function<std::string(const std::string&)>;
    const struct {
        const char* what;
        Change change;
        std::string error;  // "" when read
    } cases[] = {
        {"as written", [](auto& t) { return t; }, ""},
        {"written in Chinese", [&](auto&) { return inChinese; }, ""},
        {"byte-order mark and CRLF", [&](auto&) { return "\xEF\xBB\xBF" + crlf; }, ""},
        {"written before the checksum", [](auto& t) { return WithoutChecksum(t); }, ""},
        {"a head line changed", [](auto& t) { return Replaced(t, "taken\t", "taken\t1"); },
         "the checksum does not match"},
        {"a shown value changed by hand",
         [](auto& t) { return WithoutChecksum(Replaced(t, "Cut Angle\t3.0", "Cut Angle\t2.5")); },
         "the row shows '2.5' but the bytes of [splice] hold '3.0'"},
        {"a row missing",
         [](auto& t) { return WithoutChecksum(Replaced(t, "Cut Angle\t3.0\n", "")); },
         "[splice] lists 19 rows, not 20"},
        {"bytes cut short", [](auto& t) { return t.substr(0, t.find("bytes\t") + 20); },
         "the bytes of [splice] are not a record of its size"},
        {"an unknown section", [](auto& t) { return Replaced(t, "[heating]", "[heater]"); },
         "no record is called [heater]"},
        {"text after the checksum", [](auto& t) { return t + "more\n"; },
         "text after the checksum"},
        {"not a backup", [](auto&) { return std::string("device\tX\n"); }, "not a settings backup"},
        {"a name not UTF-8", [](auto& t) { return Replaced(t, "device\t", "device\t\xBD\xD3"); },
         "line 2: not UTF-8 text"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<SettingsBackup> read = ParseBackupText(c.change(text), error);
        if (!c.error.empty()) {
            EXPECT_FALSE(read) << c.what;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
            continue;
        }
        ASSERT_TRUE(read) << c.what << ": " << error;
        EXPECT_EQ(read->records, backup.records) << c.what;
        EXPECT_EQ(read->serialNumber, backup.serialNumber) << c.what;
        EXPECT_EQ(read->device, backup.device) << c.what;
        EXPECT_EQ(read->sealed, c.change(text).find("sha256") != std::string::npos) << c.what;
    }
}

// A snapshot of a splicer the archive knows by its folder alone is named by the
// serial number in its configuration record.
TEST(BackupText, SnapshotOfAnUnknownSerialIsNamedByItsRecord) {
    ParameterRecords records;
    NameToField("VM0001", records.config.serialNum);
    archive::ParameterSnapshot snapshot;
    snapshot.groups = {
        {ParamRecord::DeviceConfig, EncodeRecord(ParamRecord::DeviceConfig, records)}};
    std::string error;
    EXPECT_EQ(archive::BackupFromSnapshot(snapshot, error)->serialNumber, "VM0001");
}

}  // namespace
}  // namespace velmora
