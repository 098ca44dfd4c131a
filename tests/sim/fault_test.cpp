// The virtual splicer's fault descriptions, as given on its command line.
#include "sim/fault.h"

#include <gtest/gtest.h>

namespace velmora::sim {
namespace {

TEST(ParseFault, AcceptsTheDocumentedForms) {
    struct Case {
        const char* text;
        std::uint8_t command;
        FaultKind kind;
        int arg;
        int times;
    } cases[] = {
        {"60:silent", 0x60, FaultKind::Silent, 0, -1},
        {"6a:delay:2000", 0x6A, FaultKind::Delay, 2000, -1},
        {"6A:trickle:5", 0x6A, FaultKind::Trickle, 5, -1},
        {"68:reject x1", 0x68, FaultKind::Reject, 0, 1},
        {"71:hangup:100x2", 0x71, FaultKind::HangUp, 100, 2},
        {"73:badcheck", 0x73, FaultKind::BadCheck, 0, -1},
        {"72:wrongecho", 0x72, FaultKind::WrongEcho, 0, -1},
        {"64:short:10", 0x64, FaultKind::Short, 10, -1},
    };
    for (const auto& c : cases) {
        std::string error;
        auto parsed = ParseFault(c.text, &error);
        ASSERT_TRUE(parsed) << c.text << ": " << error;
        EXPECT_EQ(parsed->command, c.command) << c.text;
        EXPECT_EQ(parsed->fault.kind, c.kind) << c.text;
        EXPECT_EQ(parsed->fault.arg, c.arg) << c.text;
        EXPECT_EQ(parsed->fault.times, c.times) << c.text;
    }
    for (const char* bad : {"", "60", "zz:silent", "100:silent", "60:explode", "60:delay:-5",
                            "60:delay:abc", "60:silent x0"}) {
        std::string error;
        EXPECT_FALSE(ParseFault(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace velmora::sim
