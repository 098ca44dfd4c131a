// Jobs, closures and placing splices through velmora-cli, in the exact forms scripts
// use, against the archive a download fills.
#include <gtest/gtest.h>

#include "support/cli_runner.h"

namespace velmora {
namespace {

class JobCliTest : public test::CliTest {
  protected:
    // Runs a command that must succeed; its output.
    std::string Ok(std::vector<std::string> args) {
        const test::CliRun run = Run(args);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        return run.out;
    }
    std::vector<std::string> Show() { return test::Lines(Ok({"closure", "show", kJob, "C-17"})); }

    const std::string kJob = "Route 7";
};

TEST_F(JobCliTest, AJobIsBuiltPlacedAndShownAndEveryRefusalChangesNothing) {
    Ok({"history"});
    // Tagging creates the job; renamed, its records follow it.
    Ok({"archive", "tag", "North", "--all"});
    Ok({"job", "edit", "North", "--rename", kJob, "--customer", "城网", "--max-loss", "0.10"});
    // A header line, then each job: verdict, spliced and planned positions, failed, over a
    // limit, replaced, records, unplaced, test splices, details.
    std::vector<std::string> jobs = test::Lines(Ok({"job", "list"}));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_TRUE(jobs[0].starts_with("name\tverdict\tspliced\tplanned\t")) << jobs[0];
    EXPECT_TRUE(jobs[1].starts_with(kJob + "\t")) << jobs[1];
    EXPECT_TRUE(jobs[1].ends_with("\t0\t0\t0\t0\t0\t40\t40\t0\t城网\t\t\t0.10\t")) << jobs[1];
    Ok({"closure", "add", kJob, "C-17", "--location", "Main St", "--lat", "52.1", "--lon", "4.3"});
    Ok({"cable", "add", kJob, "C-17", "F-112", "48"});
    Ok({"cable", "add", kJob, "C-17", "F-113", "48", "--per-tube", "6"});
    Ok({"tray", "add", kJob, "C-17", "1"});
    Ok({"tray", "add", kJob, "C-17", "2", "--capacity", "24"});

    // The twelve latest records, oldest first, on positions 1.. and fibres 1..
    EXPECT_EQ(
        Ok({"place", kJob, "C-17", "1", "1", "--a", "F-112:1", "--b", "F-113:1", "--last", "12"}),
        "12 splices placed on tray 1 from position 1\n");
    std::vector<std::string> shown = Show();
    ASSERT_EQ(shown.size(), 12u);
    const std::string seventh = "1\t7\tF-112\t7\tblue/red\tF-113\t7\torange/blue\t";
    EXPECT_EQ(shown[6].substr(0, seventh.size()), seventh);
    // An earlier record placed again on position 1 is its re-splice; ids from the list.
    const std::vector<std::string> listed = test::Lines(Ok({"archive", "list", "--ids"}));
    ASSERT_EQ(listed.size(), 40u);
    const std::string first = listed[0].substr(0, listed[0].find('\t'));
    const std::string second = listed[1].substr(0, listed[1].find('\t'));
    Ok({"place", kJob, "C-17", "1", "1", "--a", "F-112:1", "--b", "F-113:1", "--record", first});
    Ok({"test-splice", "--record", second});
    shown = Show();
    EXPECT_EQ(shown[0].substr(shown[0].rfind('\t')), "\t1");

    // The tray's diagram as SVG and PNG, each opened by a reader of its own: a line a
    // position; every tray of the closure, one below another, when none is named.
    const std::string svg = scratch.path() / "tray 1.svg", png = scratch.path() / "c17.png";
    EXPECT_EQ(Ok({"diagram", kJob, "C-17", "1", "-o", svg}), svg + "\n");
    EXPECT_EQ(Ok({"diagram", kJob, "C-17", "-o", png}), png + "\n");
    const test::CliRun read = test::RunProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, struct, xml.etree.ElementTree as ET\n"
         "svg = ET.parse(sys.argv[1]).getroot()\n"
         "print(sum(1 for l in svg.iter('{http://www.w3.org/2000/svg}line')))\n"
         "png = open(sys.argv[2], 'rb').read()\n"
         "print(png[:8] == b'\\x89PNG\\r\\n\\x1a\\n', struct.unpack('>II', png[16:24])[0])\n",
         svg, png},
        scratch.path());
    EXPECT_EQ(test::Lines(read.out), (std::vector<std::string>{"16", "True 1440"})) << read.err;

    const std::string before = Ok({"closure", "show", kJob, "C-17"}) + Ok({"job", "list"});
    const struct {
        std::vector<std::string> args;
        std::string why;
    } refused[] = {
        {{"place", kJob, "C-17", "1", "12", "--a", "F-112:12", "--b", "F-113:12", "--last", "2"},
         "Position 13 is beyond the tray's capacity"},
        {{"place", kJob, "C-17", "2", "1", "--a", "F-112:1", "--b", "F-113:30", "--last", "1"},
         "Fibre F-112:1 is already joined"},
        {{"place", kJob, "C-17", "2", "1", "--a", "F-112:20", "--b", "F-113:20", "--last", "30"},
         "The job has only 26 unplaced"},
        {{"place", kJob, "C-17", "2", "1", "--a", "F-112:20", "--b", "F-113:20", "--record", first},
         "is already placed"},
        {{"place", kJob, "C-17", "2", "1", "--a", "F-112:20", "--last", "1"}, "place needs"},
        {{"cable", "add", kJob, "C-17", "F-9", "900"}, "A cable has 12 to 864 fibres, not 900"},
        {{"closure", "add", kJob, "C-19", "--lat", "10"}, "Give both latitude"},
        {{"closure", "add", kJob, "C-19", "--lat", "91", "--lon", "0"}, "Give both latitude"},
        {{"closure", "show", kJob, "C-99"}, "There is no closure C-99"},
        {{"diagram", kJob, "C-99", "-o", "x.svg"}, "There is no closure C-99"},
        {{"diagram", kJob, "C-17", "3", "-o", "x.svg"}, "There is no tray 3"},
        {{"diagram", kJob, "C-17", "1", "-o", "x.pdf"}, "diagram writes a .svg or a .png"},
        {{"job", "create", kJob}, "The name Route 7 is already taken"},
        {{"job", "create", "X", "--max-loss", "0.123"}, "--max-loss needs a number"},
        {{"test-splice", "--record", "999999"}, "There is no splice record 999999"},
        {{"unplace", "South", "C-17", "1", "1"}, "There is no job South"},
    };
    for (const auto& r : refused) {
        const test::CliRun run = Run(r.args);
        EXPECT_EQ(run.status, 2) << r.why;
        EXPECT_NE(run.err.find(r.why), std::string::npos) << run.err;
    }
    EXPECT_EQ(Ok({"closure", "show", kJob, "C-17"}) + Ok({"job", "list"}), before);

    // Planned ahead of splicing: the job is in progress, 12 of 14 positions spliced.
    Ok({"plan", "add", kJob, "C-17", "2", "1", "--a", "F-112:30", "--b", "F-113:30"});
    Ok({"plan", "add", kJob, "C-17", "2", "2", "--a", "F-112:31", "--b", "F-113:31"});
    jobs = test::Lines(Ok({"job", "list"}));
    std::vector<std::string> fields;
    for (std::size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1)
        fields.push_back(jobs[1].substr(at, (tab = jobs[1].find('\t', at)) - at));
    ASSERT_GE(fields.size(), 8u) << jobs[1];
    EXPECT_EQ(std::vector(fields.begin() + 2, fields.begin() + 4),
              (std::vector<std::string>{"12", "14"}));
    EXPECT_EQ(fields[6], "1") << "the replaced attempt, apart";
    EXPECT_EQ(fields[1], fields[4] == "0" && fields[5] == "0" ? "in progress" : "failed");
    const test::CliRun planTwice =
        Run({"plan", "add", kJob, "C-17", "2", "3", "--a", "F-112:30", "--b", "F-113:32"});
    EXPECT_EQ(planTwice.status, 2);
    EXPECT_NE(planTwice.err.find("Fibre F-112:30 is already joined"), std::string::npos);

    EXPECT_EQ(Ok({"unplace", kJob, "C-17", "1", "1"}), "2 splices taken off tray 1, position 1\n");
    EXPECT_EQ(Show()[0], "1\t1\tF-112\t1\tblue/blue\tF-113\t1\tblue/blue\t\t\t\t\t0");
    const std::string listed17 = Ok({"closure", "list", kJob});
    EXPECT_TRUE(listed17.starts_with("C-17\tMain St\t52.100000\t4.300000\t14\t11\t")) << listed17;
}

}  // namespace
}  // namespace velmora
