#include "settings/parameter_exchange.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/command_catalogue.h"
#include "settings/parameter_rows.h"
#include "sim/parameter_commands.h"
#include "support/test_support.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using test::Hex;

// Generous: the splicer answers in microseconds, but a loaded machine may be slow.
constexpr auto kMargin = 5s;

std::vector<std::uint8_t> Frame(std::uint8_t command, std::span<const std::uint8_t> data) {
    return LayOutFrame(MakeRequest(command, data));
}

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

    std::vector<std::uint8_t> LastFrame() {
        const auto frames = splicer->ReceivedFrames();
        return frames.empty() ? std::vector<std::uint8_t>{} : frames.back();
    }

    // Frames the splicer has received with this command byte.
    std::size_t FramesWith(std::uint8_t command) {
        std::size_t n = 0;
        for (const auto& f : splicer->ReceivedFrames()) n += f.size() > 1 && f[1] == command;
        return n;
    }

    test::TempDir workDir;
    std::unique_ptr<test::ScopedConfig> language;
    std::shared_ptr<sim::ParameterStore> store;
    ParameterSession session;
};

TEST_F(SettingExchangeTest, ConnectNamesTheDeviceFolderFromOffsetForty) {
    auto config = DecodeDeviceConfig(store->Config());
    config.serialNum = {};
    std::memcpy(config.serialNum.data(), "AB123456", 8);
    store->SetConfig(EncodeDeviceConfig(config));

    const StepResult result = ConnectNow();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.pane, StatusPane::Success);
    EXPECT_EQ(session.state, ConnectionState::Connected);
    EXPECT_EQ(link.DeviceFolder, workDir.path() / "FS" / "B123456");
    EXPECT_TRUE(std::filesystem::is_directory(link.DeviceFolder));
    const auto frames = splicer->ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex(frames[0]), "87 60 01 00 E8");
    EXPECT_EQ(Hex(frames[1]), "87 72 01 00 FA");
}

// Names that arrive from the line never leave the FS folder.
TEST_F(SettingExchangeTest, DeviceNamesAreMadeSafe) {
    struct Case {
        std::string serial;  // the field's bytes; its first byte is dropped
        std::string folder;
    };
    const Case cases[] = {
        {"X../../etc", "___.._etc"},
        {"X..", "__"},
        {std::string("Xa\x01\x7F/b", 6), "a___b"},
        {"X", "unnamed"},
        {"Xback\\slash", "back_slash"},
    };
    for (const Case& c : cases) {
        auto config = DecodeDeviceConfig(store->Config());
        config.serialNum = {};
        std::memcpy(config.serialNum.data(), c.serial.data(), c.serial.size());
        store->SetConfig(EncodeDeviceConfig(config));
        ASSERT_TRUE(ConnectNow().ok) << c.serial;
        EXPECT_EQ(link.DeviceFolder, workDir.path() / "FS" / c.folder) << c.serial;
        EXPECT_TRUE(std::filesystem::is_directory(link.DeviceFolder)) << c.serial;
        link.Port().ClosePort();
    }
}

TEST_F(SettingExchangeTest, SilentHandshakeKeepsThePortOpenAndConnectAsksAgain) {
    splicer->SetFault(cmd::Handshake, Fault{FaultKind::Silent, 0, 1});
    const StepResult first = ConnectNow();
    EXPECT_FALSE(first.ok);
    EXPECT_FALSE(first.userError);
    EXPECT_EQ(first.pane, StatusPane::Failure);
    EXPECT_EQ(link.CommStatusText, "No answer,please Exit Program");
    EXPECT_EQ(session.state, ConnectionState::HandshakeUnanswered);
    EXPECT_TRUE(link.Port().IsOpen());
    EXPECT_TRUE(link.DeviceFolder.empty());

    const StepResult second = ConnectNow();
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(FramesWith(cmd::Handshake), 2u);
}

TEST_F(SettingExchangeTest, RefusedHandshakesCloseThePort) {
    const std::vector<std::vector<std::uint8_t>> replies = {
        {0x87, 0x60, 0x01, 0xAB, 0x93},  // data byte not 0xAC
        {0x87, 0xEC, 0x01, 0xAC, 0x20},  // rejection
    };
    for (const auto& reply : replies) {
        splicer->SetHandler(cmd::Handshake, [reply](const sim::Request&) { return reply; });
        link.CommStatusText = "stale";
        const StepResult result = ConnectNow();
        EXPECT_FALSE(result.ok) << Hex(reply);
        EXPECT_EQ(result.pane, StatusPane::Failure);
        EXPECT_EQ(link.CommStatusText, "data error") << Hex(reply);
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(session.state, ConnectionState::Disconnected);
    }
    EXPECT_EQ(FramesWith(cmd::ReadConfig), 0u);
}

TEST_F(SettingExchangeTest, ConnectWithoutPortOrWithABadOne) {
    const StepResult none = Connect(link, session, "", 115200);
    EXPECT_TRUE(none.userError);
    EXPECT_EQ(none.boxes, std::vector<std::string>{"Port error"});
    const StepResult bad =
        Connect(link, session, (workDir.path() / "no-such-port").string(), 115200);
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.userError);
    EXPECT_TRUE(link.CommStatusText.starts_with("Comm port error: ")) << link.CommStatusText;
    EXPECT_EQ(splicer->ReceivedFrames().size(), 0u);
}

// Every group read from the virtual splicer, then shown.
TEST_F(SettingExchangeTest, ReadsEveryGroup) {
    ASSERT_TRUE(ConnectNow().ok);
    const OptionTables tables = OptionTablesFor(Config());
    const std::string serialRow = "VM2406A0153";
    for (int g = 0; g < kGroupCount; ++g) {
        const StepResult result = ReadGroup(link, session, g);
        ASSERT_TRUE(result.ok) << g;
        EXPECT_EQ(result.pane, StatusPane::Success);
        EXPECT_EQ(link.Reply().size(), WireOfGroup(g)->ReadReplyLength());
        EXPECT_TRUE(session.GroupWasRead(g));
    }
    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group::System);
    ShowGroup(group::System, session.records, tables, rows);
    EXPECT_EQ(rows[0].value, serialRow);
}

TEST_F(SettingExchangeTest, ReadFailuresAndGroupFourWhileDisconnected) {
    StepResult closed = ReadGroup(link, session, group::System);
    EXPECT_EQ(closed.outcome, Outcome::NotOpen);
    EXPECT_EQ(closed.boxes, std::vector<std::string>{"Communication Disconnect"});
    EXPECT_EQ(link.CommStatusText, "Communication Disconnect");
    EXPECT_EQ(closed.pane, StatusPane::Failure);

    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Splice).ok);
    const auto before = EncodeSpliceParams(session.records.splice);
    struct Case {
        Fault fault;
        std::string text;
    };
    const Case cases[] = {
        {{FaultKind::BadCheck, 0, 1}, "check code error"},
        {{FaultKind::Reject, 0, 1}, "data error"},
        {{FaultKind::WrongEcho, 0, 1}, "data error"},
        {{FaultKind::Short, 40, 1}, "check code error"},
    };
    for (const Case& c : cases) {
        splicer->SetFault(cmd::ReadSplice, c.fault);
        const StepResult result = ReadGroup(link, session, group::Splice);
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_EQ(result.pane, StatusPane::Failure);
        EXPECT_EQ(link.CommStatusText, c.text);
        // The record keeps the last good read, but a write now needs a new read.
        EXPECT_EQ(EncodeSpliceParams(session.records.splice), before);
        EXPECT_FALSE(session.GroupWasRead(group::Splice));
    }
}

// A write sends the kept bytes exactly as the last read gave them.
TEST_F(SettingExchangeTest, WriteSendsKeptBytesBack) {
    auto splice = store->Splice();
    for (std::size_t i : {28, 29, 30, 31, 50, 51}) splice[i] = static_cast<std::uint8_t>(0xC0 + i);
    for (std::size_t i = 66; i < 82; ++i) splice[i] = static_cast<std::uint8_t>(i * 7);
    store->SetSplice(splice);
    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Splice).ok);

    const StepResult result = WriteGroup(link, session, group::Splice);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.pane, StatusPane::Success);
    EXPECT_EQ(result.boxes, std::vector<std::string>{"Parameter in success"});
    EXPECT_EQ(Hex(LastFrame()), Hex(Frame(cmd::WriteSplice, splice)));
}

// Groups 3 and 4 share one record: a group-4 write carries the FsConfig fields
// of the last 0x72 reply, even when they changed on the splicer since.
TEST_F(SettingExchangeTest, GroupFourWriteCarriesTheLatestFsConfig) {
    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::FsConfig).ok);
    auto config = DecodeDeviceConfig(store->Config());
    config.fsMode = 7;
    config.bubble = 0;
    store->SetConfig(EncodeDeviceConfig(config));
    ASSERT_TRUE(ReadGroup(link, session, group::System).ok);

    std::vector<GridRow> rows = BuildGroupRows(BuildParamRows(), group::System);
    const OptionTables tables = OptionTablesFor(Config());
    ShowGroup(group::System, session.records, tables, rows);
    std::vector<std::string> texts;
    for (const auto& row : rows) texts.push_back(row.value);
    texts[5] = "Off";  // Lamp
    ASSERT_TRUE(ValidateAndEncode(group::System, texts, tables, session.records).empty());
    ASSERT_TRUE(WriteGroup(link, session, group::System).ok);

    config.lamp = 0;
    EXPECT_EQ(Hex(LastFrame()), Hex(Frame(cmd::WriteConfig, EncodeDeviceConfig(config))));
    EXPECT_EQ(DecodeDeviceConfig(store->Config()).lamp, 0);
}

TEST_F(SettingExchangeTest, WriteOutcomes) {
    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Splice).ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Heating).ok);
    struct Case {
        int group;
        std::uint8_t command;
        Fault fault;
        std::string text;
    };
    const Case cases[] = {
        {group::Splice, cmd::WriteSplice, {FaultKind::Reject, 0, 1}, "write parameters error"},
        {group::Heating, cmd::WriteHeater, {FaultKind::Reject, 0, 1},
         "write Heating Parameters error"},
        {group::Splice, cmd::WriteSplice, {FaultKind::BadCheck, 0, 1}, "check code error"},
        {group::Heating, cmd::WriteHeater, {FaultKind::WrongEcho, 0, 1}, "data error"},
    };
    for (const Case& c : cases) {
        splicer->SetFault(c.command, c.fault);
        const StepResult result = WriteGroup(link, session, c.group);
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_TRUE(result.boxes.empty()) << c.text;
        EXPECT_EQ(result.pane, StatusPane::Failure);
        EXPECT_EQ(link.CommStatusText, c.text);
    }
}

TEST_F(SettingExchangeTest, WritesThatSendNothing) {
    // Not connected: the box and the status text.
    StepResult closed = WriteGroup(link, session, group::Splice);
    EXPECT_EQ(closed.boxes, std::vector<std::string>{"Communication Disconnect"});

    // A group not read since the connection (or whose last read failed) is refused.
    ASSERT_TRUE(ConnectNow().ok);
    StepResult unread = WriteGroup(link, session, group::Heating);
    EXPECT_FALSE(unread.ok);
    EXPECT_TRUE(unread.userError);
    EXPECT_EQ(unread.boxes, std::vector<std::string>{"Please read this group before writing it"});
    splicer->SetFault(cmd::ReadHeater, Fault{FaultKind::Silent, 0, 1});
    EXPECT_FALSE(ReadGroup(link, session, group::Heating).ok);
    EXPECT_TRUE(WriteGroup(link, session, group::Heating).userError);
    // The environment is never written, read or not.
    StepResult environment = WriteGroup(link, session, group::Environment);
    EXPECT_TRUE(environment.ok);
    EXPECT_EQ(environment.pane, StatusPane::Unchanged);
    EXPECT_TRUE(environment.boxes.empty());

    const std::size_t before = splicer->ReceivedFrames().size();
    // A reconnection forgets what was read.
    ASSERT_TRUE(ReadGroup(link, session, group::Splice).ok);
    ASSERT_TRUE(ConnectNow().ok);
    EXPECT_TRUE(WriteGroup(link, session, group::Splice).userError);
    EXPECT_EQ(FramesWith(cmd::WriteSplice) + FramesWith(cmd::WriteHeater), 0u);
    EXPECT_EQ(splicer->ReceivedFrames().size(), before + 3);  // read, handshake, 0x72
}

// One exchange at a time: a request while the line is claimed sends nothing.
TEST_F(SettingExchangeTest, SecondRequestWhileOneIsInFlightIsRefused) {
    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Heating).ok);
    std::vector<StepResult> nested;
    // The pump runs before the first wait on the reply, with the line claimed.
    const Pump pump = [&] {
        if (nested.empty()) {
            nested.push_back(ReadGroup(link, session, group::Splice));
            nested.push_back(WriteGroup(link, session, group::Heating));
            nested.push_back(Disconnect(link, session));
        }
    };
    const StepResult outer = WriteGroup(link, session, group::Heating, pump);
    EXPECT_TRUE(outer.ok);
    ASSERT_EQ(nested.size(), 3u);
    for (const StepResult& r : nested) {
        EXPECT_EQ(r.outcome, Outcome::Busy);
        EXPECT_EQ(r.boxes, std::vector<std::string>{"Communication busy, please wait"});
        EXPECT_EQ(r.pane, StatusPane::Unchanged);
    }
    EXPECT_TRUE(link.Port().IsOpen());
    EXPECT_EQ(FramesWith(cmd::ReadSplice), 0u);
    EXPECT_EQ(FramesWith(cmd::WriteHeater), 1u);
}

TEST_F(SettingExchangeTest, DisconnectClosesWhateverTheAnswer) {
    struct Case {
        Fault fault;
        StatusPane pane;
        std::string text;
    };
    const Case cases[] = {
        {{FaultKind::None, 0, 0}, StatusPane::Success, ""},
        {{FaultKind::Silent, 0, 1}, StatusPane::Failure, "No answer,please Exit Program"},
        {{FaultKind::BadCheck, 0, 1}, StatusPane::Failure, "check code error"},
        {{FaultKind::Reject, 0, 1}, StatusPane::Failure, "data error"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ConnectNow().ok);
        splicer->SetFault(cmd::Disconnect, c.fault);
        link.CommStatusText.clear();
        const StepResult result = Disconnect(link, session);
        EXPECT_EQ(result.pane, c.pane) << c.text;
        EXPECT_EQ(link.CommStatusText, c.text);
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(session.state, ConnectionState::Disconnected);
    }
    EXPECT_EQ(Disconnect(link, session).boxes,
              std::vector<std::string>{"Communication Disconnect"});
}

TEST_F(SettingExchangeTest, DisconnectOnExitSendsOnceWithoutWaiting) {
    SendDisconnectOnExit(link);  // closed: nothing
    ASSERT_TRUE(ConnectNow().ok);
    const std::size_t before = splicer->ReceivedFrames().size();
    SendDisconnectOnExit(link);
    EXPECT_FALSE(link.Port().IsOpen());
    ASSERT_TRUE(splicer->WaitForFrames(before + 1, kMargin));
    EXPECT_EQ(Hex(LastFrame()), "87 68 01 00 F0");
    EXPECT_EQ(FramesWith(cmd::Disconnect), 1u);
}

TEST_F(SettingExchangeTest, ChineseTexts) {
    test::ScopedConfig chinese(0, workDir.path());
    splicer->SetFault(cmd::Handshake, Fault{FaultKind::Silent, 0, 1});
    EXPECT_FALSE(ConnectNow().ok);
    EXPECT_EQ(link.CommStatusText, "数据无响应，请退出程序重新连接");
    ASSERT_TRUE(ConnectNow().ok);
    ASSERT_TRUE(ReadGroup(link, session, group::Heating).ok);
    splicer->SetFault(cmd::WriteHeater, Fault{FaultKind::Reject, 0, 1});
    EXPECT_FALSE(WriteGroup(link, session, group::Heating).ok);
    EXPECT_EQ(link.CommStatusText, "写参数错误");
    EXPECT_EQ(WriteGroup(link, session, group::Heating).boxes,
              std::vector<std::string>{"参数写入成功"});
}

}  // namespace
}  // namespace velmora
