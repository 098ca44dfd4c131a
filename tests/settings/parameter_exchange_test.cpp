#include "settings/parameter_exchange.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/command_catalogue.h"
#include "settings/parameter_rows.h"
#include "settings/settings_backup.h"
#include "settings/settings_texts.h"
#include "settings/value_text.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Hex;
using Bytes = std::vector<std::uint8_t>;

class SettingExchangeTest : public test::SplicerTest {
  protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        store = sim::InstallParameterCommands(*splicer);
        store->FreezeEnvironment(true);
        language = std::make_unique<test::ScopedConfig>(1, workDir.path());
    }
    void TearDown() override {
        language.reset();
        test::SplicerTest::TearDown();
    }

    StepResult ConnectNow() { return Connect(link, session, splicer->PortPath(), 115200); }
    // Connected, with `records` read.
    void ConnectAndRead(std::initializer_list<ParamRecord> records) {
        ASSERT_TRUE(ConnectNow().ok);
        for (ParamRecord r : records) ASSERT_TRUE(ReadRecord(link, session, r).ok);
    }
    void SetSerial(const std::string& bytes) {
        auto config = DecodeDeviceConfig(store->Config());
        config.serialNum = {};
        std::memcpy(config.serialNum.data(), bytes.data(), bytes.size());
        store->SetConfig(EncodeDeviceConfig(config));
    }
    Bytes LastFrame() { return splicer->ReceivedFrames().back(); }

    test::TempDir workDir;
    std::unique_ptr<test::ScopedConfig> language;
    std::shared_ptr<sim::ParameterStore> store;
    ParameterSession session;
};

// The folder is named from offset 40 of the 0x72 reply (the serial number without
// its first character: two bytes for a GBK one, as 中 of 中国12), and names from the
// line never leave the FS folder.
TEST_F(SettingExchangeTest, ConnectNamesASafeDeviceFolder) {
    const struct {
        std::string serial;
        std::string folder;
    } cases[] = {
        {"AB123456", "B123456"},
        {"X../../etc", "___.._etc"},
        {"X..", "__"},
        {std::string("Xa\x01\x7F/b", 6), "a___b"},
        {"X", "unnamed"},
        {"Xback\\slash", "back_slash"},
        {"\xD6\xD0\xB9\xFA\x31\x32", "国12"},
        {"\xD6\xD0", "unnamed"},
    };
    for (const auto& c : cases) {
        SetSerial(c.serial);
        const StepResult result = ConnectNow();
        ASSERT_TRUE(result.ok) << c.serial;
        EXPECT_EQ(result.pane, StatusPane::Success);
        EXPECT_EQ(session.state, ConnectionState::Connected);
        EXPECT_EQ(session.DeviceFolder, workDir.path() / "FS" / c.folder) << c.serial;
        EXPECT_TRUE(std::filesystem::is_directory(session.DeviceFolder)) << c.serial;
        link.Port().ClosePort();
    }
}

// Each step against a misbehaving splicer: the status text, and whether the port
// stays open. A garbled or missing handshake answer leaves the port open for
// another try; an intact one other than 87 60 01 AC closes it. A failed read keeps
// the last good record but a write then needs a new read. How the link words each
// outcome is the link's table.
TEST_F(SettingExchangeTest, FailuresOfEachStep) {
    enum Step { Handshake, ReadSplice, WriteSplice, WriteHeater, Goodbye };
    const std::uint8_t commands[] = {cmd::Handshake, cmd::ReadSplice, cmd::WriteSplice,
                                     cmd::WriteHeater, cmd::Disconnect};
    const struct {
        Step step;
        Fault fault;
        Bytes handshake;  // empty: the accepting answer
        std::string text;
        bool portOpen;
    } cases[] = {
        {Handshake, {FaultKind::Silent}, {}, "No answer,please Exit Program", true},
        {Handshake, {FaultKind::BadCheck}, {}, "check code error", true},
        {Handshake, {}, {0x87, 0x60, 0x01, 0xAB, 0x93}, "data error", false},
        {Handshake, {FaultKind::Reject}, {}, "data error", false},
        {ReadSplice, {FaultKind::Short, 40}, {}, "check code error", true},
        {WriteSplice, {FaultKind::Reject}, {}, "write parameters error", true},
        {WriteHeater, {FaultKind::Reject}, {}, "write Heating Parameters error", true},
        {WriteHeater,
         {FaultKind::WrongEcho},
         {},
         "The write was not confirmed (data error): the splicer may have taken the values; read "
         "the group to check",
         true},
        {Goodbye, {FaultKind::Silent}, {}, "No answer,please Exit Program", false},
        {Goodbye, {}, {}, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.step) + " " + c.text);
        link.Port().ClosePort();
        sim::InstallParameterCommands(*splicer);
        splicer->ClearFaults();
        const std::uint8_t command = commands[c.step];
        const Bytes answer =
            c.handshake.empty() ? Bytes{0x87, 0x60, 0x01, 0xAC, 0x94} : c.handshake;
        splicer->SetHandler(cmd::Handshake, [answer](const sim::Request&) { return answer; });
        if (c.step != Handshake) ConnectAndRead({ParamRecord::Splice, ParamRecord::Heater});
        const auto before = EncodeSpliceParams(session.records.splice);
        const std::size_t readsBefore = FramesOf(cmd::ReadConfig);
        splicer->SetFault(command, c.fault);
        StepResult result;
        switch (c.step) {
            case Handshake:
                result = ConnectNow();
                break;
            case ReadSplice:
                result = ReadRecord(link, session, ParamRecord::Splice);
                break;
            case WriteSplice:
                result = WriteRecord(link, session, ParamRecord::Splice);
                break;
            case WriteHeater:
                result = WriteRecord(link, session, ParamRecord::Heater);
                break;
            case Goodbye:
                result = Disconnect(link, session);
                break;
        }
        EXPECT_EQ(result.ok, c.text.empty());
        EXPECT_FALSE(result.userError);
        EXPECT_EQ(result.pane, c.text.empty() ? StatusPane::Success : StatusPane::Failure);
        EXPECT_EQ(StepStatusText(result), c.text);
        EXPECT_EQ(link.Port().IsOpen(), c.portOpen);
        EXPECT_EQ(session.state, c.portOpen
                                     ? (c.step == Handshake ? ConnectionState::HandshakeUnanswered
                                                            : ConnectionState::Connected)
                                     : ConnectionState::Disconnected);
        if (c.step == Handshake) {
            EXPECT_EQ(FramesOf(cmd::ReadConfig), readsBefore);
        }
        if (c.step == WriteSplice || c.step == WriteHeater) {
            // A lost acknowledgement says what to do next in a box of its own.
            EXPECT_EQ(StepBoxTexts(result).empty(), !c.text.starts_with("The write was not"));
        }
        if (c.step == ReadSplice) {
            EXPECT_EQ(EncodeSpliceParams(session.records.splice), before);
            EXPECT_FALSE(session.RecordWasRead(ParamRecord::Splice));
        }
    }
    ASSERT_TRUE(ConnectNow().ok);
    EXPECT_EQ(Disconnect(link, session).pane, StatusPane::Success);
    EXPECT_EQ(StepBoxTexts(Disconnect(link, session)),
              std::vector<std::string>{"Communication Disconnect"});
}

TEST_F(SettingExchangeTest, ConnectWithoutPortOrWithABadOne) {
    const StepResult none = Connect(link, session, "", 115200);
    EXPECT_TRUE(none.userError);
    EXPECT_EQ(StepBoxTexts(none), std::vector<std::string>{"Port error"});
    const StepResult bad =
        Connect(link, session, (workDir.path() / "no-such-port").string(), 115200);
    EXPECT_FALSE(bad.ok || bad.userError);
    EXPECT_TRUE(StepStatusText(bad).starts_with("Comm port error: ")) << StepStatusText(bad);
    EXPECT_EQ(splicer->ReceivedFrames().size(), 0u);
}

// Groups 3 and 4 share one record: a group-4 write carries the FsConfig fields
// of the last 0x72 reply, even when they changed on the splicer since.
TEST_F(SettingExchangeTest, GroupFourWriteCarriesTheLatestFsConfig) {
    ConnectAndRead({ParamRecord::DeviceConfig});
    auto config = DecodeDeviceConfig(store->Config());
    config.fsMode = 7;
    config.bubble = 0;
    store->SetConfig(EncodeDeviceConfig(config));
    ASSERT_TRUE(ReadRecord(link, session, ParamRecord::DeviceConfig).ok);
    session.records.config.lamp = 0;
    ASSERT_TRUE(WriteRecord(link, session, ParamRecord::DeviceConfig).ok);
    config.lamp = 0;
    EXPECT_EQ(Hex(LastFrame()),
              Hex(LayOutFrame(MakeRequest(cmd::WriteConfig, EncodeDeviceConfig(config)))));
}

TEST_F(SettingExchangeTest, WritesThatSendNothing) {
    EXPECT_EQ(StepBoxTexts(WriteRecord(link, session, ParamRecord::Splice)),
              std::vector<std::string>{"Communication Disconnect"});
    // A group not read since the connection, or whose last read failed, is refused.
    ASSERT_TRUE(ConnectNow().ok);
    const StepResult unread = WriteRecord(link, session, ParamRecord::Heater);
    EXPECT_FALSE(unread.ok);
    EXPECT_TRUE(unread.userError);
    EXPECT_EQ(StepBoxTexts(unread),
              std::vector<std::string>{"Please read this group before writing it"});
    splicer->SetFault(cmd::ReadHeater, Fault{FaultKind::Silent, 0, 1});
    EXPECT_FALSE(ReadRecord(link, session, ParamRecord::Heater).ok);
    EXPECT_TRUE(WriteRecord(link, session, ParamRecord::Heater).userError);
    // The environment is never written, read or not.
    const StepResult environment = WriteRecord(link, session, ParamRecord::Environment);
    EXPECT_TRUE(environment.ok && StepBoxTexts(environment).empty());
    EXPECT_EQ(environment.pane, StatusPane::Unchanged);
    // A reconnection forgets what was read.
    ASSERT_TRUE(ReadRecord(link, session, ParamRecord::Splice).ok);
    ASSERT_TRUE(ConnectNow().ok);
    EXPECT_TRUE(WriteRecord(link, session, ParamRecord::Splice).userError);
    EXPECT_EQ(FramesOf(cmd::WriteSplice) + FramesOf(cmd::WriteHeater), 0u);
}

// A restore writes what Accept would: the backup's rows through the same checks,
// the bytes no row shows only from a backup of this same splicer, and never the
// serial number, whatever the backup holds.
TEST_F(SettingExchangeTest, RestoreWritesOnlyWhatAcceptWould) {
    const OptionTables tables = OptionTablesFor(Config());
    ConnectAndRead({ParamRecord::Splice, ParamRecord::Heater, ParamRecord::DeviceConfig});
    const auto ownSplice = store->Splice();
    const auto ownConfig = store->Config();
    ParameterRecords theirs = session.records;
    theirs.splice.cutAngle = 25;
    theirs.splice.kept28 = {9, 9, 9, 9};
    theirs.config.lamp ^= 1;
    theirs.config.kept32 = {7, 7, 7, 7};
    const std::string own = session.SerialNumber;
    // Of this splicer only when the head line and the configuration record both say so,
    // and its bytes believed only when sealed by its checksum.
    const struct {
        std::string head, record;
        bool sealed, same;
    } cases[] = {{"XX0000000001", "XX0000000001", true, false},
                 {own, "XX0000000001", true, false},
                 {own, own, false, false},
                 {own, own, true, true}};
    for (const auto& [head, record, sealed, same] : cases) {
        SCOPED_TRACE(head + " " + record + (sealed ? " sealed" : ""));
        NameToField(record, theirs.config.serialNum);
        SettingsBackup backup = BackupOf(theirs, kBackupRecords);
        backup.serialNumber = head;
        backup.sealed = sealed;
        store->SetSplice(ownSplice);
        store->SetConfig(ownConfig);
        ASSERT_TRUE(ReadRecords(link, session, kBackupRecords).ok);
        const RestorePlan plan = PlanRestore(backup, kBackupRecords, session, tables);
        EXPECT_TRUE(plan.refusals.empty());
        EXPECT_EQ(plan.changes.size(), 2u) << "the heater record is alike: not written";
        const RestoreWritten written = WriteRestore(link, session, plan);
        ASSERT_TRUE(written.last.ok);
        EXPECT_EQ(written.written.size(), 2u);
        const SpliceParams splice = DecodeSpliceParams(store->Splice());
        const DeviceConfig config = DecodeDeviceConfig(store->Config());
        EXPECT_EQ(splice.cutAngle, 25);
        EXPECT_EQ(config.lamp, theirs.config.lamp);
        EXPECT_EQ(splice.kept28 == theirs.splice.kept28, same);
        EXPECT_EQ(config.kept32 == theirs.config.kept32, same);
        EXPECT_EQ(config.serialNum, DecodeDeviceConfig(ownConfig).serialNum);
    }
    // Values that Accept and write refuse: each row named, nothing written.
    theirs.splice.fiberType = 77;
    theirs.config.fsMode = 200;
    theirs.splice.name1.fill(0xFF);
    const RestorePlan refused =
        PlanRestore(BackupOf(theirs, kBackupRecords), kBackupRecords, session, tables);
    ASSERT_EQ(refused.refusals.size(), 3u);
    EXPECT_TRUE(refused.refusals[0].starts_with("Fiber Type: '77'")) << refused.refusals[0];
    EXPECT_TRUE(refused.refusals[1].starts_with("Name1: ")) << refused.refusals[1];
    EXPECT_TRUE(refused.refusals[2].starts_with("FsMode: '200'")) << refused.refusals[2];
    const std::size_t writes = FramesOf(cmd::WriteSplice) + FramesOf(cmd::WriteConfig);
    EXPECT_FALSE(WriteRestore(link, session, refused).last.ok);
    EXPECT_EQ(FramesOf(cmd::WriteSplice) + FramesOf(cmd::WriteConfig), writes);
}

}  // namespace
}  // namespace velmora
