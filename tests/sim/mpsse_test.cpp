// The MPSSE engine's stream handling: commands split over bulk writes, bad
// opcodes, answers spread over packets, and clock accounting.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "bench.h"

using tapsim::Scenario;
using tapsim::Variant;

TEST(Mpsse, CommandsSplitAnywhereAcrossBulkWrites)
{
    Scenario s;
    s.idcode = 0x0A5C3093;
    const Bytes cmds =
        cat({Bench::setup(), reset_to_idle(), read_dr(32), {0x87}});
    for (size_t piece : {size_t(1), size_t(2), size_t(5), cmds.size()}) {
        SCOPED_TRACE(piece);
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        for (size_t i = 0; i < cmds.size(); i += piece)
            b.write(Bytes(cmds.begin() + i,
                          cmds.begin() + std::min(cmds.size(), i + piece)));
        EXPECT_EQ(le32(mp::shift_result(b.read(5), 32, true)), 0x0A5C3093u);
        EXPECT_TRUE(tapsim::record().protocol_errors.empty());
    }
}

TEST(Mpsse, LongPayloadSplitOverWritesShiftsOnce)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(
        cat({Bench::setup(), reset_to_idle(), load_ir(0x05), to_shift_dr()}));
    Bytes payload(10000);
    std::iota(payload.begin(), payload.end(), 0);
    const Bytes cmd = cat({{0x19, 0x0F, 0x27}, payload}); // 10000 bytes
    b.write(Bytes(cmd.begin(), cmd.begin() + 2)); // opcode, half the length
    b.write(Bytes(cmd.begin() + 2, cmd.begin() + 7000));
    b.write(Bytes(cmd.begin() + 7000, cmd.end()));
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.config_bits, 80000u);
    const tapsim::MpsseCommand &last = r.commands.back();
    EXPECT_EQ(last.opcode, 0x19);
    EXPECT_EQ(last.clocks, 80000u);
    EXPECT_EQ(last.out.size, 10000u);
    EXPECT_EQ(last.out.head,
              Bytes(payload.begin(), payload.begin() + tapsim::Blob::kKeep));
}

TEST(Mpsse, BadOpcodeIsAnsweredAndSkipped)
{
    struct Case {
        Variant variant;
        uint8_t opcode;
        bool bad;
    };
    const Case cases[] = {
        {Variant::FullSpeed, 0xAA, true},  {Variant::FullSpeed, 0x40, true},
        {Variant::FullSpeed, 0x8A, true},  {Variant::FullSpeed, 0x00, true},
        {Variant::HighSpeed, 0x8A, false}, {Variant::HighSpeed, 0xAB, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.opcode));
        Scenario s;
        s.variant = c.variant;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(), {c.opcode, 0x81, 0x87}}));
        const Bytes got = b.read(c.bad ? 3 : 1);
        const Bytes want = c.bad ? Bytes{0xFA, c.opcode, 0xFC} : Bytes{0xFC};
        EXPECT_EQ(got, want);
        EXPECT_EQ(b.read(1, 2), Bytes{}); // nothing else queued
        EXPECT_EQ(tapsim::record().protocol_errors.size(), c.bad ? 1u : 0u);
    }
}

TEST(Mpsse, AnswersLargerThanAPacketLoseOnlyStatusBytes)
{
    for (Variant v : {Variant::FullSpeed, Variant::HighSpeed}) {
        const size_t packet = v == Variant::FullSpeed ? 64 : 512;
        SCOPED_TRACE(packet);
        Scenario s;
        s.variant = v;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        // No more than the chip-to-host buffer holds, nor one bulk read.
        Bytes pattern(v == Variant::FullSpeed ? 384 : 3000);
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        // Loopback: TDI comes back as TDO.
        const size_t n = pattern.size() - 1;
        b.write(cat({Bench::setup(),
                     {0x84, 0x39, static_cast<uint8_t>(n & 0xFF),
                      static_cast<uint8_t>(n >> 8)},
                     pattern,
                     {0x87}}));
        EXPECT_EQ(b.read(pattern.size()), pattern);
        const tapsim::BulkTransfer *first = nullptr;
        for (const auto &t : tapsim::record().bulk)
            if (t.in && t.result > 2 && !first)
                first = &t;
        ASSERT_NE(first, nullptr);
        // Every packet starts with the two status bytes.
        const size_t packets = (pattern.size() + packet - 3) / (packet - 2);
        EXPECT_EQ(static_cast<size_t>(first->result),
                  pattern.size() + 2 * packets);
        EXPECT_EQ(first->data.head[0], 0x32);
        EXPECT_EQ(first->data.head[1], 0x60);
        if (packet < tapsim::Blob::kKeep) {
            EXPECT_EQ(first->data.head[packet + 1], 0x60);
        }
    }
}

TEST(Mpsse, DataBeforeMpsseModeIsOnlyRecorded)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    b.write(cat({Bench::setup(), reset_to_idle(), {0x81, 0x87}}));
    EXPECT_EQ(b.read(1, 3), Bytes{});
    const tapsim::Record &r = tapsim::record();
    EXPECT_TRUE(r.commands.empty());
    EXPECT_EQ(r.tck_cycles, 0u);
    ASSERT_FALSE(r.bulk.empty());
    EXPECT_EQ(r.bulk.front().data.size, 15u);
}

TEST(Mpsse, ClockCountAndWireTimeFollowTheDivisor)
{
    struct Case {
        Variant variant;
        Bytes clock_setup;
        double hz;
    };
    const Case cases[] = {
        {Variant::FullSpeed, {0x86, 0x05, 0x00}, 1e6}, // 12 MHz / 12
        {Variant::FullSpeed, {0x86, 0x00, 0x00}, 6e6},
        {Variant::HighSpeed, {0x8A, 0x86, 0x02, 0x00}, 10e6}, // 60 MHz / 6
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hz);
        Scenario s;
        s.variant = c.variant;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        // 1000 bytes and 5 bits into bypass.
        b.write(cat({Bench::setup(),
                     c.clock_setup,
                     reset_to_idle(),
                     load_ir(0x3F),
                     to_shift_dr(),
                     {0x19, 0xE7, 0x03},
                     Bytes(1000, 0x55),
                     {0x1B, 0x04, 0x00}}));
        const tapsim::Record &r = tapsim::record();
        const uint64_t clocks = 6 + (4 + 6 + 2) + 3 + 8000 + 5;
        EXPECT_EQ(r.tck_cycles, clocks);
        EXPECT_NEAR(r.wire_seconds, clocks / c.hz, 1e-9);
        EXPECT_EQ(r.state_count(tapsim::TapState::ShiftDR), 8006u);
    }
}

TEST(Mpsse, GarbageKeepsTheRecordBounded)
{
    Scenario s;
    s.variant = Variant::HighSpeed;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    const size_t extra = 1000;
    const size_t n = tapsim::Record::kMaxEntries + extra;
    // 2,000 bad opcodes a write: their answers fit the 4 KiB buffer; the
    // send-immediate after them is a command too.
    const size_t piece = 2000;
    Bytes got;
    for (size_t sent = 0; sent < n; sent += piece) {
        const size_t k = std::min(piece, n - sent);
        Bytes cmds(k, 0xAA);
        cmds.push_back(0x87);
        ASSERT_EQ(b.write(cmds), static_cast<int>(k + 1));
        const Bytes part = b.read(2 * k);
        got.insert(got.end(), part.begin(), part.end());
    }
    const tapsim::Record &r = tapsim::record();
    const size_t writes = (n + piece - 1) / piece;
    EXPECT_EQ(r.commands.size(), tapsim::Record::kMaxEntries);
    EXPECT_EQ(r.protocol_errors.size(), tapsim::Record::kMaxEntries);
    EXPECT_EQ(r.dropped, 2 * extra + writes);
    // Every opcode was still answered.
    ASSERT_EQ(got.size(), 2 * n);
    EXPECT_EQ(got[2 * n - 2], 0xFA);
    EXPECT_EQ(got[2 * n - 1], 0xAA);
}
