// Time-outs on model time: two runs of one scenario leave the same record,
// byte for byte, and a one-second bound costs a second of model time.
#include <gtest/gtest.h>

#include "bitfile_writer.h"
#include "run_tool.h"
#include "temp_bit.h"

namespace {

struct RepeatCase {
    const char *name;
    const char *command;
    EnvList env;
    uint64_t min_reads, max_reads; // bulk reads of the whole run
};

void PrintTo(const RepeatCase &c, std::ostream *os)
{
    *os << c.name;
}

class RepeatRun : public ::testing::TestWithParam<RepeatCase> {};

} // namespace

TEST_P(RepeatRun, LeavesTheSameRecordTwice)
{
    const RepeatCase &c = GetParam();
    TempBit bit(bitgen::make_bitfile({}, bitgen::config_stream(20000)));
    std::vector<std::string> args = {c.command};
    if (args[0] == "load")
        args.push_back(bit.path);
    const ToolRun first = run_tool(args, c.env);
    const ToolRun second = run_tool(args, c.env);
    EXPECT_EQ(first.status, 1) << first.err;
    ASSERT_TRUE(first.has_record) << first.err;
    EXPECT_EQ(first.record_text, second.record_text);
    const auto reads =
        std::count_if(first.record.bulk.begin(), first.record.bulk.end(),
                      [](const auto &b) { return b.in; });
    EXPECT_GE(static_cast<uint64_t>(reads), c.min_reads);
    EXPECT_LE(static_cast<uint64_t>(reads), c.max_reads);
}

// A silent adapter is given up after a second: a thousand reads at 1 ms on
// the full-speed chip, nearly eight thousand at 125 µs (each of the tool's
// clock readings takes its microsecond too).
INSTANTIATE_TEST_SUITE_P(
    Scenarios, RepeatRun,
    ::testing::Values(RepeatCase{"silent_full_speed",
                                 "idcode",
                                 {{"TAPSIM_SILENT_FROM", "2"}},
                                 990,
                                 1010},
                      RepeatCase{"silent_high_speed",
                                 "idcode",
                                 {{"TAPSIM_SILENT_FROM", "2"},
                                  {"TAPSIM_VARIANT", "hs"}},
                                 7800,
                                 8010},
                      RepeatCase{"never_clears",
                                 "load",
                                 {{"TAPSIM_CLEAR_US", "4294967295"}},
                                 500,
                                 1010}),
    [](const auto &info) { return std::string(info.param.name); });
