#include "settings/parameter_exchange.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/command_catalogue.h"
#include "settings/parameter_rows.h"
#include "settings/settings_texts.h"
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
    // Connected, with `groups` read.
    void ConnectAndRead(std::initializer_list<int> groups) {
        ASSERT_TRUE(ConnectNow().ok);
        for (int g : groups) ASSERT_TRUE(ReadGroup(link, session, g).ok) << g;
    }
    void SetSerial(const std::string& bytes) {
        auto config = DecodeDeviceConfig(store->Config());
        config.serialNum = {};
        std::memcpy(config.serialNum.data(), bytes.data(), bytes.size());
        store->SetConfig(EncodeDeviceConfig(config));
    }
    Bytes LastFrame() { return splicer->ReceivedFrames().back(); }
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
// the last good record but a write then needs a new read.
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
        {ReadSplice, {FaultKind::BadCheck}, {}, "check code error", true},
        {ReadSplice, {FaultKind::Reject}, {}, "data error", true},
        {ReadSplice, {FaultKind::Short, 40}, {}, "check code error", true},
        {WriteSplice, {FaultKind::Reject}, {}, "write parameters error", true},
        {WriteHeater, {FaultKind::Reject}, {}, "write Heating Parameters error", true},
        {WriteHeater, {FaultKind::WrongEcho}, {}, "data error", true},
        {Goodbye, {FaultKind::Silent}, {}, "No answer,please Exit Program", false},
        {Goodbye, {FaultKind::Reject}, {}, "data error", false},
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
        if (c.step != Handshake) ConnectAndRead({group::Splice, group::Heating});
        const auto before = EncodeSpliceParams(session.records.splice);
        const std::size_t readsBefore = FramesWith(cmd::ReadConfig);
        splicer->SetFault(command, c.fault);
        StepResult result;
        switch (c.step) {
            case Handshake:
                result = ConnectNow();
                break;
            case ReadSplice:
                result = ReadGroup(link, session, group::Splice);
                break;
            case WriteSplice:
                result = WriteGroup(link, session, group::Splice);
                break;
            case WriteHeater:
                result = WriteGroup(link, session, group::Heating);
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
            EXPECT_EQ(FramesWith(cmd::ReadConfig), readsBefore);
        }
        if (c.step == WriteSplice || c.step == WriteHeater) {
            EXPECT_TRUE(StepBoxTexts(result).empty());
        }
        if (c.step == ReadSplice) {
            EXPECT_EQ(EncodeSpliceParams(session.records.splice), before);
            EXPECT_FALSE(session.GroupWasRead(group::Splice));
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

// A write sends the kept bytes exactly as the last read gave them.
TEST_F(SettingExchangeTest, WriteSendsKeptBytesBack) {
    auto splice = store->Splice();
    for (std::size_t i : {28, 29, 30, 31, 50, 51}) splice[i] = static_cast<std::uint8_t>(0xC0 + i);
    for (std::size_t i = 66; i < 82; ++i) splice[i] = static_cast<std::uint8_t>(i * 7);
    store->SetSplice(splice);
    ConnectAndRead({group::Splice});
    const StepResult result = WriteGroup(link, session, group::Splice);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.pane, StatusPane::Success);
    EXPECT_EQ(StepBoxTexts(result), std::vector<std::string>{"Parameter in success"});
    EXPECT_EQ(Hex(LastFrame()), Hex(LayOutFrame(MakeRequest(cmd::WriteSplice, splice))));
}

// Groups 3 and 4 share one record: a group-4 write carries the FsConfig fields
// of the last 0x72 reply, even when they changed on the splicer since.
TEST_F(SettingExchangeTest, GroupFourWriteCarriesTheLatestFsConfig) {
    ConnectAndRead({group::FsConfig});
    auto config = DecodeDeviceConfig(store->Config());
    config.fsMode = 7;
    config.bubble = 0;
    store->SetConfig(EncodeDeviceConfig(config));
    ASSERT_TRUE(ReadGroup(link, session, group::System).ok);
    session.records.config.lamp = 0;
    ASSERT_TRUE(WriteGroup(link, session, group::System).ok);
    config.lamp = 0;
    EXPECT_EQ(Hex(LastFrame()),
              Hex(LayOutFrame(MakeRequest(cmd::WriteConfig, EncodeDeviceConfig(config)))));
}

TEST_F(SettingExchangeTest, WritesThatSendNothing) {
    EXPECT_EQ(StepBoxTexts(WriteGroup(link, session, group::Splice)),
              std::vector<std::string>{"Communication Disconnect"});
    // A group not read since the connection, or whose last read failed, is refused.
    ASSERT_TRUE(ConnectNow().ok);
    const StepResult unread = WriteGroup(link, session, group::Heating);
    EXPECT_FALSE(unread.ok);
    EXPECT_TRUE(unread.userError);
    EXPECT_EQ(StepBoxTexts(unread),
              std::vector<std::string>{"Please read this group before writing it"});
    splicer->SetFault(cmd::ReadHeater, Fault{FaultKind::Silent, 0, 1});
    EXPECT_FALSE(ReadGroup(link, session, group::Heating).ok);
    EXPECT_TRUE(WriteGroup(link, session, group::Heating).userError);
    // The environment is never written, read or not.
    const StepResult environment = WriteGroup(link, session, group::Environment);
    EXPECT_TRUE(environment.ok && StepBoxTexts(environment).empty());
    EXPECT_EQ(environment.pane, StatusPane::Unchanged);
    // A reconnection forgets what was read.
    ASSERT_TRUE(ReadGroup(link, session, group::Splice).ok);
    ASSERT_TRUE(ConnectNow().ok);
    EXPECT_TRUE(WriteGroup(link, session, group::Splice).userError);
    EXPECT_EQ(FramesWith(cmd::WriteSplice) + FramesWith(cmd::WriteHeater), 0u);
}

}  // namespace
}  // namespace velmora
