// The queries through the command table: exact writes, result lines and
// what the target holds afterwards.
#include "tool_fixture.h"

#include <algorithm>
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
    EXPECT_EQ(written(), concat({{detect_write()},
                                 reset_writes(),
                                 to_shift_dr_writes(),
                                 {{0x39, 0x03, 0x00, 0, 0, 0, 0}}}));
    EXPECT_EQ(final_state(), TapState::ShiftDR);
    // The detection leaves BYPASS; Test-Logic-Reset selected IDCODE again.
    EXPECT_EQ(instructions(), std::vector<uint8_t>{0x3F});
}

// Each family's user instructions: the Spartan-3 generation has two user
// registers, Spartan-6 four with USER3 and USER4 at 0x1A and 0x1B,
// 7-series and UltraScale four at 0x22 and 0x23; a device no table knows keeps
// 0x1A and 0x1B.
TEST_F(QueryTest, UserWordsLoadTheirFamilysInstructionAndPrintOneByte)
{
    struct Case {
        uint32_t idcode;
        unsigned reg; // 1..4
        uint8_t code; // 0: the family has no such register
        const char *refusal;
    } cases[] = {
        {0x01C22093, 1, 0x02, nullptr},
        {0x01C22093, 2, 0x03, nullptr},
        {0x01C22093, 3, 0, "XC3S500E has no user data register 3\n"},
        {0x02218093, 4, 0, "XC3S200A has no user data register 4\n"},
        {0x04001093, 3, 0x1A, nullptr},
        {0x04001093, 4, 0x1B, nullptr},
        {0x0362D093, 1, 0x02, nullptr},
        {0x0362D093, 3, 0x22, nullptr},
        {0x0362D093, 4, 0x23, nullptr},
        {0x03727093, 3, 0x22, nullptr},
        {0x03822093, 3, 0x22, nullptr},
        {0x04A63093, 4, 0x23, nullptr},
        {0x0A001093, 3, 0x1A, nullptr},
        // Stacked parts whose master field no table gives.
        {0x04B51093, 1, 0,
         "XCVU13P: its SLRs' user registers are not supported\n"},
        {0x0390D093, 4, 0,
         "XCKU115: its SLRs' user registers are not supported\n"},
    };
    const uint32_t values[4] = {0x12345661, 0x41, 0xFFFFFF7E, 0x00};
    const std::string lines[4] = {"61:a\n", "41:A\n", "7e:~\n",
                                  std::string("00:\0\n", 5)};
    for (const Case &c : cases) {
        Scenario s;
        s.idcode = c.idcode;
        for (uint32_t &u : s.user)
            u = 0xEEEEEEEE; // a wrong register would show
        s.user[c.reg - 1] = values[c.reg - 1];
        start(s);
        open_adapter();
        const std::string word = "user" + std::to_string(c.reg);
        const std::string what = word + " on " + std::to_string(c.idcode);
        Captured got = run({word});
        if (!c.code) {
            EXPECT_EQ(got.result, -1) << what;
            EXPECT_EQ(got.err, c.refusal) << what;
            EXPECT_EQ(written(), Writes{detect_write()}) << what;
            continue;
        }
        EXPECT_EQ(got.result, 0) << what;
        EXPECT_EQ(got.out, lines[c.reg - 1]) << what;
        // Known families get DONE checked first.
        const bool known = c.idcode != 0x0A001093;
        Writes expected = {detect_write()};
        if (known)
            expected.push_back(capture_write(0x09));
        EXPECT_EQ(written(), concat({expected,
                                     reset_writes(),
                                     ir_writes(c.code),
                                     to_shift_dr_writes(),
                                     {{0x39, 0x00, 0x00, 0x00}}}))
            << what;
        const std::vector<uint8_t> insns = instructions();
        ASSERT_FALSE(insns.empty()) << what;
        EXPECT_EQ(insns.back(), c.code) << what;
        EXPECT_EQ(final_state(), TapState::ShiftDR) << what;
    }
}

TEST_F(QueryTest, ResetClearsTheConfigurationAndPrintsNothing)
{
    open_adapter();
    Captured c = run({"reset"});
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(written(), concat({{detect_write()},
                                 reset_writes(),
                                 ir_writes(0x0B),
                                 reset_writes()}));
    EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x3F, 0x0B}));
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
                  {"user2", {}, "Write loop failed\n", "Write loop failed\n"}};
    // The first read is the probe's, the second the detection's.
    cases[0].scenario.faults.error_read = 3;
    cases[1].scenario.faults.error_read = 3;
    cases[2].scenario.faults.short_write = 2 + 2;  // first reset clock
    cases[3].scenario.faults.short_write = 2 + 13; // instruction shift
    for (const Case &c : cases) {
        start(c.scenario);
        open_adapter();
        Captured got = run({c.word});
        EXPECT_EQ(got.result, -1) << c.word;
        EXPECT_EQ(got.out, c.out) << c.word;
        EXPECT_EQ(got.err, c.err) << c.word;
    }
}

// A user register needs a running design: no value is made up for a TDO
// line stuck at either level or for an FPGA that is not configured.
TEST_F(QueryTest, UserWordsRefuseADeviceThatCannotHaveAUserRegister)
{
    struct Case {
        int tdo_stuck;
        bool configured;
        const char *err;
    } cases[] = {
        {1, true, "No FPGA answers on JTAG (ID code ffffffff)\n"},
        {0, true, "No FPGA answers on JTAG (ID code 00000000)\n"},
        {-1, false, "The FPGA is not configured: it has no user registers\n"},
    };
    for (const Case &c : cases) {
        Scenario s;
        s.tdo_stuck = c.tdo_stuck;
        s.configured = c.configured;
        start(s);
        open_adapter();
        Captured got = run({"user1"});
        EXPECT_EQ(got.result, -1) << c.err;
        EXPECT_EQ(got.out, "") << c.err;
        EXPECT_EQ(got.err, c.err);
        // The detection, and for a device that answers its DONE read.
        EXPECT_EQ(written().size(), c.tdo_stuck < 0 ? 2u : 1u) << c.err;
        const std::vector<uint8_t> insns = instructions();
        EXPECT_EQ(std::count(insns.begin(), insns.end(), 0x02), 0) << c.err;
    }
}
