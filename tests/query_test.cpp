// The queries through the command table: exact writes, result lines and
// what the target holds afterwards.
#include "tool_fixture.h"

#include <string>

#include "cli/commands.h"

using tapsim::Scenario;
using tapsim::TapState;

namespace {

} // namespace

class QueryTest : public ToolTest {
  protected:
    Captured run(std::vector<std::string> args)
    {
        std::vector<char *> argv;
        ToolRun r = tool_run(args, argv);
        return capture([&] { return dispatch_command(&r); });
    }
};

TEST_F(QueryTest, IdcodePrintsTheCodeMostSignificantByteFirst)
{
    Scenario s;
    s.idcode = 0x34008093;
    start(s);
    open_adapter();
    Captured c = run({"idcode"});
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "34 00 80 93\n");
    EXPECT_EQ(written(), concat({reset_writes(),
                                 to_shift_dr_writes(),
                                 {{0x39, 0x03, 0x00, 0, 0, 0, 0}}}));
    EXPECT_EQ(final_state(), TapState::ShiftDR);
    EXPECT_TRUE(instructions().empty()); // Test-Logic-Reset selected IDCODE
}

TEST_F(QueryTest, UserWordsLoadTheirInstructionAndPrintOneByte)
{
    struct Case {
        const char *word;
        uint8_t code;
        uint32_t value;
        std::string line;
    } cases[] = {
        {"user1", 0x02, 0x12345661, "61:a\n"},
        {"user2", 0x03, 0x41, "41:A\n"},
        {"user3", 0x1A, 0xFFFFFF7E, "7e:~\n"},
        {"user4", 0x1B, 0x00, std::string("00:\0\n", 5)},
    };
    for (const Case &c : cases) {
        Scenario s;
        for (uint32_t &u : s.user)
            u = 0xEEEEEEEE; // a wrong register would show
        s.user[&c - cases] = c.value;
        start(s);
        open_adapter();
        Captured got = run({c.word});
        EXPECT_EQ(got.result, 0) << c.word;
        EXPECT_EQ(got.out, c.line) << c.word;
        EXPECT_EQ(written(), concat({reset_writes(),
                                     ir_writes(c.code),
                                     to_shift_dr_writes(),
                                     {{0x39, 0x00, 0x00, 0x00}}}))
            << c.word;
        EXPECT_EQ(instructions(), std::vector<uint8_t>{c.code}) << c.word;
        EXPECT_EQ(final_state(), TapState::ShiftDR) << c.word;
    }
}

TEST_F(QueryTest, ResetClearsTheConfigurationAndPrintsNothing)
{
    open_adapter();
    Captured c = run({"reset"});
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(written(),
              concat({reset_writes(), ir_writes(0x0B), reset_writes()}));
    EXPECT_EQ(instructions(), std::vector<uint8_t>{0x0B});
    EXPECT_FALSE(rec().done);
    EXPECT_EQ(final_state(), TapState::RunTestIdle);
}

TEST_F(QueryTest, WordsThatNameNoCommandPrintUsageAndSendNothing)
{
    for (const char *word : {"user5", "IDCODE", "", "Reset", "user", "load2"}) {
        start(Scenario());
        open_adapter();
        Captured c = run({word});
        EXPECT_EQ(c.result, -1) << word;
        EXPECT_EQ(c.out, "./tapline [idcode/reset/load <bitstream.bit>] \n")
            << word;
        EXPECT_TRUE(write_log().empty()) << word;
    }
}

TEST_F(QueryTest, AFailedReadOrStepPrintsNoResultLine)
{
    struct Case {
        const char *word;
        Scenario scenario;
        const char *out, *err;
    } cases[4] = {{"idcode", {}, "", "Ftdi read failed\n"},
                  {"user1", {}, "", "Ftdi read failed\n"},
                  {"idcode", {}, "", "Can't reset TAP: write failed\n"},
                  {"user3", {}, "Write loop failed\n", ""}};
    cases[0].scenario.faults.error_read = 2; // the first read is the probe's
    cases[1].scenario.faults.error_read = 2;
    cases[2].scenario.faults.short_write = 2 + 1;  // first reset clock
    cases[3].scenario.faults.short_write = 2 + 11; // instruction shift
    for (const Case &c : cases) {
        start(c.scenario);
        open_adapter();
        Captured got = run({c.word});
        EXPECT_EQ(got.result, -1) << c.word;
        EXPECT_EQ(got.out, c.out) << c.word;
        EXPECT_EQ(got.err, c.err) << c.word;
    }
}
