// velmora-cli firmware against the virtual splicer: what the splicer receives and
// what is printed. Its failures are tested with those of the other commands.
#include <gtest/gtest.h>

#include "protocol/command_catalogue.h"
#include "support/cli_runner.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Lines;

constexpr auto kMargin = 20s;
constexpr const char* kSplicerText = "Boot loader V1.2, waiting for firmware";

std::string FirmwareBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 40503u) >> 7);
    return bytes;
}

class FirmwareCliTest : public test::CliTest {};

TEST_F(FirmwareCliTest, SendsTheFileWholeAndPrintsTextPercentagesAndEnd) {
    struct Case {
        std::size_t size;
        const char* lang;
        std::vector<std::string> out;
    } cases[] = {
        {65000, "en",
         {kSplicerText, "Updating ,0%", "Updating ,46%",
          "Updated Finish,Please Restart Program and Fusion Splicer"}},
        {29999, "zh", {kSplicerText, "更新完成，请重新启动程序和熔接机"}},
    };
    std::size_t transfers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string bytes = FirmwareBytes(c.size);
        const test::CliRun r =
            Run({"--lang", c.lang, "firmware", scratch.Write("fw.bin", bytes).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Lines(r.out), c.out);
        ASSERT_TRUE(installed.firmware->WaitForReceipts(++transfers, kMargin));
        EXPECT_EQ(installed.firmware->Receipts().back().bytes, c.size);
        EXPECT_EQ(installed.firmware->Receipts().back().crc32,
                  sim::Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), c.size}));
    }
    // No disconnection after a transfer: the splicer no longer reads frames.
    const std::vector<std::uint8_t> one = {cmd::Handshake, cmd::ReadConfig,
                                           cmd::FirmwareHandshake1, cmd::FirmwareHandshake2};
    std::vector<std::uint8_t> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(Commands(), both);
}

}  // namespace
}  // namespace velmora
