// What libftdi 0.20 itself gets wrong, pinned so that a change of library
// or host shows. The tool calls none of these functions.
#include <gtest/gtest.h>

#include <cstring>

#include "bench.h"

namespace {

bool big_endian_host()
{
    const uint16_t one = 1;
    uint8_t first = 0;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

// Leaves a known byte in the stack the next call's frame will occupy, so
// that what an uninitialised local holds there is not by chance right.
__attribute__((noinline)) void paint_stack(uint8_t byte)
{
    volatile uint8_t area[512];
    for (volatile uint8_t &b : area)
        b = byte;
}

class LatencyReadBack : public ::testing::TestWithParam<uint8_t> {};

} // namespace

// ftdi_get_latency_timer reads the chip's one byte into an unsigned short
// and returns that short's low half. The byte lands in the low half only on
// a little-endian host; on a big-endian one it lands in the high half and
// the value returned is whatever the stack held (ftdi_read_chipid and the
// EEPROM reads share the pattern). The chip did receive the setting.
TEST_P(LatencyReadBack, IsTheChipsValueOnlyOnLittleEndianHosts)
{
    const uint8_t set = GetParam();
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(ftdi_set_latency_timer(&b.ctx, set), 0);
    EXPECT_EQ(tapsim::record().latency, set);

    unsigned char got = 0;
    paint_stack(0xA5);
    ASSERT_EQ(ftdi_get_latency_timer(&b.ctx, &got), 0);
    const tapsim::Record &r = tapsim::record();
    ASSERT_FALSE(r.controls.empty());
    EXPECT_EQ(r.controls.back().kind, tapsim::ControlKind::GetLatency);
    if (big_endian_host())
        EXPECT_NE(got, set) << "libftdi 0.20's byte-order bug is gone";
    else
        EXPECT_EQ(got, set);
}

INSTANTIATE_TEST_SUITE_P(Values, LatencyReadBack,
                         ::testing::Values(1, 2, 16, 255));
