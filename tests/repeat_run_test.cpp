// The bench's time is model time: two runs of one scenario leave the same
// record, byte for byte, and the tool's one-second bounds cost a second of
// model time, not a second of wall time's worth of reads.
#include <gtest/gtest.h>

#include "bitfile_writer.h"
#include "run_tool.h"
#include "temp_bit.h"

namespace {

struct RepeatCase {
    const char *name;
    bool load;
    EnvList env;
    int status;
    uint64_t min_reads, max_reads; // bulk reads of the whole run
};

void PrintTo(const RepeatCase &c, std::ostream *os)
{
    *os << c.name;
}

class RepeatRun : public ::testing::TestWithParam<RepeatCase> {};

uint64_t reads(const tapsim::Record &r)
{
    uint64_t n = 0;
    for (const tapsim::BulkTransfer &b : r.bulk)
        n += b.in;
    return n;
}

} // namespace

TEST_P(RepeatRun, LeavesTheSameRecordTwice)
{
    const RepeatCase &c = GetParam();
    TempBit bit(bitgen::make_bitfile({}, bitgen::config_stream(20000)));
    std::vector<std::string> args = {"idcode"};
    if (c.load)
        args = {"load", bit.path};
    const ToolRun first = run_tool(args, c.env);
    const ToolRun second = run_tool(args, c.env);
    EXPECT_EQ(first.status, c.status) << first.err;
    ASSERT_TRUE(first.has_record) << first.err;
    EXPECT_EQ(first.record_text, second.record_text);
    EXPECT_GE(reads(first.record), c.min_reads);
    EXPECT_LE(reads(first.record), c.max_reads);
}

// A silent adapter is given up after a second of model time: a thousand
// reads at 1 ms each on the full-speed chip, nearly eight thousand at
// 125 µs (the tool's clock readings take their microsecond each).
INSTANTIATE_TEST_SUITE_P(
    Scenarios, RepeatRun,
    ::testing::Values(RepeatCase{"idcode", false, {}, 0, 1, 10},
                      RepeatCase{"load", true, {}, 0, 1, 100},
                      RepeatCase{"silent_full_speed",
                                 false,
                                 {{"TAPSIM_SILENT_FROM", "2"}},
                                 1,
                                 990,
                                 1010},
                      RepeatCase{"silent_high_speed",
                                 false,
                                 {{"TAPSIM_SILENT_FROM", "2"},
                                  {"TAPSIM_VARIANT", "hs"}},
                                 1,
                                 7800,
                                 8010},
                      RepeatCase{"never_clears",
                                 true,
                                 {{"TAPSIM_CLEAR_US", "4294967295"}},
                                 1,
                                 500,
                                 1010}),
    [](const auto &info) { return std::string(info.param.name); });
