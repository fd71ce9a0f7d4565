// The JTAG target seen through libftdi and the MPSSE engine: probing, TAP
// movement, and the registers behind each instruction.
#include <gtest/gtest.h>

#include "bench.h"

using tapsim::Scenario;
using tapsim::TapState;
using S = tapsim::TapState;

namespace {

std::vector<TapState> states_of(const tapsim::Record &r)
{
    std::vector<TapState> out;
    for (const auto &run : r.states)
        for (uint64_t i = 0; i < run.count; ++i)
            out.push_back(run.state);
    return out;
}

} // namespace

TEST(Jtag, ProbeSensesTargetPower)
{
    for (bool powered : {true, false}) {
        SCOPED_TRACE(powered);
        Scenario s;
        s.target_powered = powered;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        const uint8_t pins = b.probe();
        EXPECT_EQ((pins >> 4) & 1, powered ? 1 : 0);
        // Outputs read back as driven: TCK low, TDI low, TMS high.
        EXPECT_EQ(pins & 0x0B, 0x08);
        EXPECT_EQ(tapsim::record().tck_cycles, 0u);
    }
}

TEST(Jtag, WalkThroughAllSixteenStates)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    // From Test-Logic-Reset through every state and back.
    const int walk[] = {0, 1, 0, 0, 1, 0, 1, 1, 1, 1,
                        0, 0, 1, 0, 1, 1, 0, 1, 1, 1};
    const std::vector<TapState> want = {
        S::RunTestIdle,  S::SelectDRScan, S::CaptureDR,    S::ShiftDR,
        S::Exit1DR,      S::PauseDR,      S::Exit2DR,      S::UpdateDR,
        S::SelectDRScan, S::SelectIRScan, S::CaptureIR,    S::ShiftIR,
        S::Exit1IR,      S::PauseIR,      S::Exit2IR,      S::UpdateIR,
        S::RunTestIdle,  S::SelectDRScan, S::SelectIRScan, S::TestLogicReset};
    Bytes cmds = Bench::setup();
    for (size_t i = 0; i < std::size(walk); i += 7) {
        uint8_t bits = 0;
        int n = 0;
        for (size_t j = i; j < std::size(walk) && n < 7; ++j, ++n)
            if (walk[j])
                bits = static_cast<uint8_t>(bits | 1 << n);
        const Bytes t = mp::tms(bits, n);
        cmds.insert(cmds.end(), t.begin(), t.end());
    }
    ASSERT_EQ(b.write(cmds), static_cast<int>(cmds.size()));
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(states_of(r), want);
    EXPECT_EQ(r.tck_cycles, std::size(walk));
    // One Shift-IR clock (the one leaving it) moved the captured 110101
    // (configured at power-up) one place: TDI 0 in at the top.
    EXPECT_EQ(r.instructions, Bytes{0x1A});
}

TEST(Jtag, TmsWrittenOnTheRisingEdgeReachesTheTargetOneClockLate)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    // 0x4A changes TMS on the rising edge, where the target samples it.
    ASSERT_EQ(b.write(cat({Bench::setup(), {0x4A, 0x03, 0x02}})), 13);
    // The target saw the set-up's TMS high first, then 0, 1, 0.
    const std::vector<TapState> want = {S::TestLogicReset, S::RunTestIdle,
                                        S::SelectDRScan, S::CaptureDR};
    EXPECT_EQ(states_of(tapsim::record()), want);
}

TEST(Jtag, IdcodeAfterReset)
{
    for (uint32_t code : {0x01C22093u, 0x13631093u}) {
        Scenario s;
        s.idcode = code;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        EXPECT_EQ(le32(b.idcode_after_reset()), code);
        EXPECT_TRUE(tapsim::record().instructions.empty()); // selected by reset
        EXPECT_EQ(tapsim::record().states.back().state, S::RunTestIdle);
        EXPECT_EQ(tapsim::record().idcode_reads, 1u);
    }
}

TEST(Jtag, UnpoweredTargetStaysSilent)
{
    Scenario s;
    s.target_powered = false;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    EXPECT_EQ(le32(b.idcode_after_reset()), 0xFFFFFFFFu);
    b.write(cat({load_ir(0x0B), load_ir(0x05)}));
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.idcode_reads, 0u);
    EXPECT_TRUE(r.states.empty());
    EXPECT_TRUE(r.instructions.empty());
    EXPECT_GT(r.tck_cycles, 0u);
}

TEST(Jtag, IrCapturesLowBitsZeroOne)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(),
                 reset_to_idle(),
                 to_shift_ir(),
                 mp::shift({0x3F}, 6, true, true),
                 exit_to_idle(),
                 {0x87}}));
    const Bytes got =
        mp::shift_result(b.read(mp::answer_size(6, true)), 6, true);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], 0x35); // DONE, INIT, ISC_DONE: configured at power-up
    EXPECT_EQ(tapsim::record().instructions, Bytes{0x3F});
}

TEST(Jtag, DataRegisterPerInstruction)
{
    Scenario s;
    s.user[0] = 0x11223341;
    s.user[1] = 0x55667742;
    s.user[2] = 0x99AABB43;
    s.user[3] = 0xDDEEFF44;
    struct Case {
        uint8_t ir;
        size_t bits;
        Bytes tdi;
        Bytes tdo;
    };
    const Case cases[] = {
        {0x02, 32, {}, {0x41, 0x33, 0x22, 0x11}},
        {0x03, 32, {}, {0x42, 0x77, 0x66, 0x55}},
        // Spartan-3E has two user registers: 0x1A/0x1B are undefined
        // there, so BYPASS (the family table is in chain_test.cpp).
        {0x1A, 9, {0xA5, 0x01}, {0x4A, 0x01}},
        {0x1B, 9, {0xA5, 0x01}, {0x4A, 0x01}},
        {0x09, 32, {}, {0x93, 0x20, 0xC2, 0x01}},
        // One-bit bypass: a 0, then TDI one clock late.
        {0x3F, 9, {0xA5, 0x01}, {0x4A, 0x01}},
        {0x0B, 9, {0xA5, 0x01}, {0x4A, 0x01}}, // JPROGRAM's register is bypass
        {0x10, 9, {0xFF, 0x00}, {0xFE, 0x01}}, // an unknown code too
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.ir));
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(),
                     reset_to_idle(),
                     load_ir(c.ir),
                     read_dr(c.bits, c.tdi),
                     {0x87}}));
        EXPECT_EQ(mp::shift_result(b.read(mp::answer_size(c.bits, true)),
                                   c.bits, true),
                  c.tdo);
        EXPECT_EQ(tapsim::record().instructions, Bytes{c.ir});
    }
}

TEST(Jtag, EitherBitOrderAndReadEdge)
{
    Scenario s;
    s.user[0] = 0x8040C123;
    struct Case {
        uint8_t opcode; // byte shift of 4 bytes while staying in Shift-DR
        bool msb_first;
    };
    for (const Case &c :
         {Case{0x39, false}, Case{0x3D, false}, Case{0x31, true},
          Case{0x35, true}, Case{0x20, true}, Case{0x2C, false}}) {
        SCOPED_TRACE(int(c.opcode));
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        Bytes cmd = {c.opcode, 0x03, 0x00};
        if (c.opcode & 0x10)
            cmd.insert(cmd.end(), 4, 0x00);
        b.write(cat({Bench::setup(),
                     reset_to_idle(),
                     load_ir(0x02),
                     to_shift_dr(),
                     cmd,
                     {0x87}}));
        const Bytes got = b.read(4);
        Bytes want = {0x23, 0xC1, 0x40, 0x80};
        if (c.msb_first)
            for (uint8_t &w : want)
                w = rev8(w);
        EXPECT_EQ(got, want);
    }
}

TEST(Jtag, TdiWrittenOnTheRisingEdgeArrivesOneClockLate)
{
    struct Case {
        uint8_t opcode;
        uint8_t tdo;
    };
    // In bypass with TDI low before: shift out 0xFF, read what comes back.
    for (const Case &c : {Case{0x39, 0xFE}, Case{0x38, 0xFC}}) {
        SCOPED_TRACE(int(c.opcode));
        Bench b;
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(),
                     reset_to_idle(),
                     load_ir(0x3F),
                     to_shift_dr(),
                     {c.opcode, 0x00, 0x00, 0xFF, 0x87}}));
        EXPECT_EQ(b.read(1), Bytes{c.tdo});
    }
}

TEST(Jtag, ChipResetLeavesTheTapAlone)
{
    Scenario s;
    s.user[0] = 0xCAFE0031;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(), reset_to_idle(), load_ir(0x02)}));
    const auto states_before = tapsim::record().states.size();
    ASSERT_EQ(ftdi_usb_reset(&b.ctx), 0);
    EXPECT_EQ(tapsim::record().states.size(), states_before);
    b.write(cat({read_dr(32), {0x87}}));
    EXPECT_EQ(le32(mp::shift_result(b.read(5), 32, true)), 0xCAFE0031u);
}
