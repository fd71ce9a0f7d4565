// The STAT register read as a client reads it (CFG_IN request words, then
// CFG_OUT), and the configuration CRC refusing a single flipped bit. The
// expected values are the facts' bit layouts, worked out by hand.
#include <gtest/gtest.h>

#include "bench.h"
#include "bitfile_writer.h"

using bitgen::Family;

namespace {

struct Part {
    Family family;
    uint32_t idcode, other; // the device, and a part of the same family
    unsigned bits;          // packet word
    std::vector<uint32_t> request;
    std::vector<uint32_t> desync; // CMD DESYNC and two no-ops
};

const Part kParts[] = {
    {Family::Spartan3E,
     0x41C22093,
     0x01C1A093,
     32,
     {0xAA995566, 0x20000000, 0x2800E001, 0x20000000, 0x20000000},
     {0x30008001, 0x0000000D, 0x20000000, 0x20000000}},
    {Family::Spartan3A,
     0x02218093,
     0x02210093,
     16,
     {0xFFFF, 0xAA99, 0x2000, 0x2901, 0x2000, 0x2000},
     {0x30A1, 0x000D, 0x2000, 0x2000}},
    {Family::Spartan6,
     0x04001093,
     0x04002093,
     16,
     {0xFFFF, 0xAA99, 0x5566, 0x2000, 0x2901, 0x2000, 0x2000},
     {0x30A1, 0x000D, 0x2000, 0x2000}},
    {Family::Series7,
     0x0362D093,
     0x03631093,
     32,
     {0xAA995566, 0x20000000, 0x2800E001, 0x20000000, 0x20000000},
     {0x30008001, 0x0000000D, 0x20000000, 0x20000000}},
};

// Words MSB first, as LSB-first byte shifts of mirrored bytes send them.
Bytes shifted(const std::vector<uint32_t> &words, unsigned bits)
{
    Bytes out;
    for (uint32_t w : words)
        for (int i = static_cast<int>(bits) - 8; i >= 0; i -= 8)
            out.push_back(rev8(static_cast<uint8_t>(w >> i)));
    return out;
}

// Shifts words into CFG_IN from Run-Test/Idle, back to Run-Test/Idle.
Bytes cfg_in(const std::vector<uint32_t> &words, unsigned bits)
{
    const Bytes d = shifted(words, bits);
    return cat({load_ir(0x05), to_shift_dr(),
                mp::shift(d, d.size() * 8, true, false), exit_to_idle()});
}

// From Run-Test/Idle; leaves the TAP in Run-Test/Idle, the configuration
// logic desynchronised: still synced, a Spartan-6 would take the next sync
// word as packets. Without rest, the TAP goes from Exit1-DR through
// Update-DR straight on to Select-IR-Scan.
uint32_t read_stat(Bench &b, const Part &p, bool rest = false)
{
    const Bytes req = shifted(p.request, p.bits);
    Bytes cmds = cat({load_ir(0x05), to_shift_dr(),
                      mp::shift(req, req.size() * 8, true, false)});
    cmds = rest ? cat({cmds, exit_to_idle(), load_ir(0x04), to_shift_dr()})
                : cat({cmds, mp::tms(0x07, 5),
                       mp::shift({0x04}, 6, true, false), mp::tms(0x03, 4)});
    b.write(
        cat({cmds, mp::shift({}, p.bits, true, true), exit_to_idle(), {0x87}}));
    const Bytes r =
        mp::shift_result(b.read(mp::answer_size(p.bits, true)), p.bits, true);
    b.write(cfg_in(p.desync, p.bits));
    uint32_t v = 0; // the first bit out is the most significant
    for (unsigned i = 0; i < p.bits && i / 8 < r.size(); ++i)
        v = v << 1 | ((r[i / 8] >> (i % 8)) & 1);
    return v;
}

Bytes stream(const Part &p, uint32_t idcode, int64_t flip = -1)
{
    bitgen::StreamPlan plan;
    plan.family = p.family;
    plan.idcode = idcode;
    plan.size = 3000;
    plan.flip_bit = flip;
    return bitgen::family_stream(plan);
}

// JPROGRAM, the stream through CFG_IN, JSTART and 21 start-up clocks.
void load(Bench &b, const Bytes &s)
{
    const Bytes body = bitgen::mirrored(s);
    b.write(cat({load_ir(0x0B), load_ir(0x05), to_shift_dr(),
                 mp::shift(body, body.size() * 8, true, false), exit_to_idle(),
                 load_ir(0x0C), mp::tms(0, 7), mp::tms(0, 7), mp::tms(0, 7)}));
}

enum class State { Configured, Cleared, Loaded, IdError, CrcError, LockWait };

struct StatCase {
    const char *name;
    size_t part; // in kParts
    State state;
    uint32_t stat;
};

class Stat : public ::testing::TestWithParam<StatCase> {};

} // namespace

TEST_P(Stat, ReadsTheFamilysLayoutAndLeavesItAsItWas)
{
    const StatCase &c = GetParam();
    const Part &p = kParts[c.part];
    tapsim::Scenario s;
    s.idcode = p.idcode;
    s.clear_us = 0;
    s.startup_clocks = c.state == State::LockWait ? 1000 : 12;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(), reset_to_idle()}));
    if (c.state == State::Cleared)
        b.write(load_ir(0x0B));
    else if (c.state == State::IdError)
        load(b, stream(p, p.other));
    else if (c.state == State::CrcError)
        load(b, stream(p, p.idcode, 3000 * 4 + 5)); // a frame data bit
    else if (c.state != State::Configured)
        load(b, stream(p, p.idcode));
    const bool done = tapsim::record().done;
    EXPECT_EQ(read_stat(b, p), c.stat);
    EXPECT_EQ(read_stat(b, p), c.stat);
    EXPECT_EQ(tapsim::record().done, done);
    EXPECT_EQ(tapsim::record().stat, c.stat);
}

INSTANTIATE_TEST_SUITE_P(
    States, Stat,
    ::testing::Values(StatCase{"s3e_configured", 0, State::Configured, 0x1DEC},
                      StatCase{"s3e_cleared", 0, State::Cleared, 0x0D0C},
                      StatCase{"s3e_loaded", 0, State::Loaded, 0x1DEC},
                      StatCase{"s3e_id_error", 0, State::IdError, 0x250C},
                      StatCase{"s3e_crc_error", 0, State::CrcError, 0x050D},
                      StatCase{"s3e_lock_wait", 0, State::LockWait, 0x0D08},
                      StatCase{"s3a_configured", 1, State::Configured, 0x3A3C},
                      StatCase{"s3a_cleared", 1, State::Cleared, 0x1A04},
                      StatCase{"s3a_loaded", 1, State::Loaded, 0x3A3C},
                      StatCase{"s3a_id_error", 1, State::IdError, 0x0A06},
                      StatCase{"s3a_crc_error", 1, State::CrcError, 0x0A05},
                      StatCase{"s3a_lock_wait", 1, State::LockWait, 0x1A00},
                      StatCase{"s6_configured", 2, State::Configured, 0x323C},
                      StatCase{"s6_cleared", 2, State::Cleared, 0x1204},
                      StatCase{"s6_loaded", 2, State::Loaded, 0x323C},
                      StatCase{"s6_id_error", 2, State::IdError, 0x0206},
                      StatCase{"s6_crc_error", 2, State::CrcError, 0x0205},
                      StatCase{"s6_lock_wait", 2, State::LockWait, 0x1200},
                      StatCase{"a7_configured", 3, State::Configured, 0x1075FC},
                      StatCase{"a7_cleared", 3, State::Cleared, 0x150C},
                      StatCase{"a7_loaded", 3, State::Loaded, 0x1075FC},
                      StatCase{"a7_id_error", 3, State::IdError, 0x850C},
                      StatCase{"a7_crc_error", 3, State::CrcError, 0x150D},
                      StatCase{"a7_lock_wait", 3, State::LockWait, 0x81508}),
    [](const ::testing::TestParamInfo<StatCase> &i) {
        return std::string(i.param.name);
    });

TEST(StatRead, RestingInIdleBeforeCfgOutLosesItOnSpartan6Only)
{
    for (size_t i : {size_t{2}, size_t{3}}) {
        const Part &p = kParts[i];
        tapsim::Scenario s;
        s.idcode = p.idcode;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(), reset_to_idle()}));
        EXPECT_EQ(read_stat(b, p, true), i == 2 ? 0u : 0x1075FCu);
        EXPECT_EQ(read_stat(b, p), i == 2 ? 0x323Cu : 0x1075FCu);
    }
}
