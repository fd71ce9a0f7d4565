// UltraScale streams through the configuration engine as they arrive (the
// sync word at any bit offset): one flipped bit in any register write after
// RCRC fails the CRC (writes before it, TIMER and WBSTAR, no CRC covers),
// and a stacked part's SLRs each check their own.
#include <gtest/gtest.h>

#include "bitfile_writer.h"
#include "config_engine.h"

using bitgen::Family;
using tapsim::ConfigError;

namespace {

// The stream after `skew` one bits of padding, 32 bits at a time.
void feed(tapsim::ConfigEngine &e, const bitgen::Bytes &s, unsigned skew)
{
    uint64_t acc = (1ull << skew) - 1;
    unsigned bits = skew;
    for (uint8_t b : s) {
        acc = acc << 8 | b;
        if ((bits += 8) >= 32)
            e.input_word(static_cast<uint32_t>(acc >> (bits -= 32)));
    }
}

// Byte offset of the nth aligned header h followed by the word `next`
// (any word if next is 0), plus `words` words.
size_t offset(const bitgen::Bytes &s, uint32_t h, int nth, uint32_t next,
              size_t words)
{
    auto at = [&s](size_t i) {
        return uint32_t{s[i]} << 24 | s[i + 1] << 16 | s[i + 2] << 8 | s[i + 3];
    };
    for (size_t i = 0; i + 8 <= s.size(); i += 4)
        if (at(i) == h && (next == 0 || at(i + 4) == next) && nth-- == 0)
            return i + 4 * words;
    ADD_FAILURE() << std::hex << "no header " << h;
    return 0;
}

struct Spot {
    const char *name;
    uint32_t header; // 0: no flip
    int nth;
    uint32_t next;
    size_t words; // after the header
    unsigned bit; // 0: the most significant
    ConfigError error;
    uint32_t stat; // after 12 start-up clocks
};

// A no-op turned type 3 is no packet: BAD_PACKET_ERROR, and the load goes
// on. The STAT of a CRC error keeps INIT_B high, as on 7-series.
// clang-format off
constexpr ConfigError kOk = ConfigError::None, kCrc = ConfigError::Crc;
const Spot kSpots[] = {
    {"none",          0,          0, 0, 0,   0,  kOk,  0x02107DFC},
    {"noop_to_type3", 0xAA995566, 0, 0, 1,   1,  kOk,  0x22107DFC},
    {"register_13",   0x30026001, 0, 0, 1,   0,  kCrc, 0x02001D0D},
    {"cor1",          0x3001C001, 0, 0, 1,   31, kCrc, 0x02001D0D},
    {"frame_type2",   0x30004000, 0, 0, 202, 9,  kCrc, 0x02001D0D},
    {"frame_type1",   0x30002001, 4, 0, 35,  30, kCrc, 0x02001D0D}, // 1 frame
    {"mfwr_dummy",    0x30014007, 0, 0, 3,   0,  kCrc, 0x02001D0D},
    {"mfwr_far",      0x30002001, 2, 0, 1,   23, kCrc, 0x02001D0D},
    {"command_start", 0x30008001, 0, 5, 1,   31, kCrc, 0x02001D0D},
    {"last_crc",      0x30000001, 1, 0, 1,   31, kCrc, 0x02001D0D},
};
struct Part { const char *name; Family family; uint32_t idcode; unsigned skew; };
const Part kParts[] = {{"ku060", Family::UltraScale, 0x13919093, 5},
                       {"ku19p", Family::UltraScalePlus, 0x04ACF093, 0},
                       {"zu2_pl", Family::UltraScalePlus, 0x04711093, 31}};
// clang-format on

tapsim::EngineSettings blank(uint32_t idcode)
{
    tapsim::EngineSettings s;
    s.idcode = idcode;
    s.configured = false;
    return s;
}

class UltraScaleFlip : public ::testing::TestWithParam<std::tuple<int, int>> {};

} // namespace

TEST_P(UltraScaleFlip, OneBitInAnyWriteAfterRcrcFailsTheCrc)
{
    const Part &p = kParts[std::get<0>(GetParam())];
    const Spot &spot = kSpots[std::get<1>(GetParam())];
    bitgen::StreamPlan plan;
    plan.family = p.family;
    plan.idcode = p.idcode;
    plan.frames = 5;
    bitgen::Bytes s = bitgen::family_stream(plan);
    if (spot.header)
        bitgen::flip_bit(
            s, offset(s, spot.header, spot.nth, spot.next, spot.words) * 8 +
                   spot.bit);
    tapsim::ConfigEngine e(blank(p.idcode));
    e.program(0);
    feed(e, s, p.skew);
    for (int i = 0; i < 12; ++i)
        e.startup_clock();
    EXPECT_EQ(e.error(), spot.error);
    EXPECT_EQ(e.done(), spot.error == kOk);
    EXPECT_EQ(e.stat(0), spot.stat);
    EXPECT_EQ(e.frames(), 5u); // type-2 and type-1 FDRI writes alike
}

INSTANTIATE_TEST_SUITE_P(
    Parts, UltraScaleFlip,
    ::testing::Combine(::testing::Range(0, 3), ::testing::Range(0, 10)),
    [](const ::testing::TestParamInfo<std::tuple<int, int>> &i) {
        return std::string(kParts[std::get<0>(i.param)].name) + "_" +
               kSpots[std::get<1>(i.param)].name;
    });

TEST(UltraScaleClearing, TheFamilysTimeOrThePartsOwn)
{
    // KU040 (no time given), KU3P, KU19P, ZU2's programmable logic, XC7A35T
    const uint32_t ids[] = {0x03822093, 0x04A63093, 0x24ACF093, 0x04711093,
                            0x0362D093};
    const uint32_t us[] = {5000, 7500, 8500, 7500, 5000};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tapsim::clear_us_of(ids[i]), us[i]) << std::hex << ids[i];
}

namespace {

struct StackCase {
    const char *name;
    int flipped;            // a frame bit in this SLR's stream; -1: none
    uint32_t slave2_idcode; // what the last stream writes
    ConfigError errors[3];
};
class StackedVu9p : public ::testing::TestWithParam<StackCase> {};

} // namespace

TEST_P(StackedVu9p, EachSlrChecksItsOwnStreamAndDoneWaitsForAll)
{
    const StackCase &c = GetParam();
    const uint32_t ids[] = {0x04B31093, 0x04B22093, 0x04B24093};
    bitgen::StreamPlan plan;
    plan.family = Family::UltraScalePlus;
    plan.idcode = ids[0];
    plan.frames = 5;
    plan.slaves = {ids[1], c.slave2_idcode};
    bitgen::Bytes s = bitgen::family_stream(plan);
    if (c.flipped >= 0) // 100 words after the SLR's ID code: its frames
        bitgen::flip_bit(s, offset(s, 0x30018001, 0, ids[c.flipped], 101) * 8);
    tapsim::SlrStack stack(blank(ids[0]));
    ASSERT_EQ(stack.size(), 3u);
    stack.program(0);
    feed(stack.master(), s, 0);
    for (int i = 0; i < 12; ++i)
        stack.startup_clock();
    bool all = true;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stack.slr(i).error(), c.errors[i]) << "SLR " << i;
        all = all && c.errors[i] == kOk;
    }
    EXPECT_EQ(stack.done(), all);
    EXPECT_EQ(stack.init(0), c.errors[2] != ConfigError::Id);
    EXPECT_EQ(stack.slr(2).frames(), c.errors[2] == ConfigError::Id ? 0u : 5u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Loads, StackedVu9p, ::testing::Values(
    StackCase{"good",            -1, 0x04B24093, {kOk,  kOk,  kOk}},
    StackCase{"slave2_flipped",   2, 0x04B24093, {kOk,  kOk,  kCrc}},
    StackCase{"slave1_flipped",   1, 0x04B24093, {kOk,  kCrc, kOk}},
    StackCase{"master_flipped",   0, 0x04B24093, {kCrc, kOk,  kOk}},
    StackCase{"slave2_other_id", -1, 0x04B22093, {kOk,  kOk,  ConfigError::Id}}),
    [](const ::testing::TestParamInfo<StackCase> &i) { return std::string(i.param.name); });
// clang-format on
