// The families' CRC steps against values worked out apart from them: the
// reflected CRCs by polynomial division (the same method gives CRC-32C
// "123456789" = 0xE3069283 and CRC-16/ARC 0xBB3D), the 22-bit one by hand.
#include <gtest/gtest.h>

#include "config_crc.h"

namespace {

struct CrcCase {
    const char *name;
    uint32_t (*step)(uint32_t, uint32_t, uint32_t);
    uint32_t start, reg, data, after;
};

class CrcStep : public ::testing::TestWithParam<CrcCase> {};

} // namespace

TEST_P(CrcStep, MatchesTheWorkedValue)
{
    const CrcCase &c = GetParam();
    EXPECT_EQ(c.step(c.start, c.reg, c.data), c.after);
}

using tapsim::crc16_step;
using tapsim::crc22_step;
using tapsim::crc32c_step;

// FDRI 0x12345678 then CMD START from zero; the 22-bit step by hand:
// (0x0E << 16 | 0x0400), then shifted with 0x0E1093 added; with bit 21 set
// it leaves and 0x9081 comes in.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Families, CrcStep, ::testing::Values(
    CrcCase{"crc32c_frame",      crc32c_step, 0,          0x02, 0x12345678, 0xB5C6D078},
    CrcCase{"crc32c_then_start", crc32c_step, 0xB5C6D078, 0x04, 5,          0x92362008},
    CrcCase{"crc16_frame",       crc16_step,  0,          0x02, 0x12345678, 0x2BEB},
    CrcCase{"crc16_then_start",  crc16_step,  0x2BEB,     0x04, 5,          0xC703},
    // The stored value is the remainder: feeding it leaves zero.
    CrcCase{"crc16_of_itself",   crc16_step,  0xC703,     0x00, 0xC703,     0},
    CrcCase{"crc22_idcode_high", crc22_step,  0,          0x0E, 0x0400,     0x0E0400},
    CrcCase{"crc22_idcode_low",  crc22_step,  0x0E0400,   0x0E, 0x1093,     0x121893},
    CrcCase{"crc22_feedback",    crc22_step,  0x200000,   0x03, 0xFFFF,     0x036F7E}),
    [](const ::testing::TestParamInfo<CrcCase> &i) { return std::string(i.param.name); });
// clang-format on
