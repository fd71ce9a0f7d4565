// Configuration through JPROGRAM, CFG_IN and JSTART: what the FPGA keeps of
// the stream, and when DONE rises.
#include <gtest/gtest.h>

#include "bench.h"

using tapsim::Scenario;

namespace {

// FNV-1a 64, written out here to check the record's figure.
uint64_t fnv(const Bytes &b)
{
    uint64_t h = 14695981039346656037ull;
    for (uint8_t c : b)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

// A bit file's body: padding, the sync word, some frames.
Bytes design(size_t frames)
{
    Bytes d = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66};
    for (size_t i = 0; i < frames; ++i)
        d.push_back(static_cast<uint8_t>(i * 37 + 11));
    return d;
}

// A part of no known family clears at once: these cases are about the
// bits on the wire, so the sync word and start-up clocks are all it takes.
Scenario wire_only()
{
    Scenario s;
    s.idcode = 0x0A5C3093;
    s.clear_us = 0;
    return s;
}

enum class Send { Reversed, MsbFirst, Mirrored, BitByBit };

// Shifts the stream into CFG_IN, in the way asked, from Shift-DR.
Bytes send(const Bytes &d, Send how)
{
    Bytes out;
    for (size_t i = 0; i < d.size(); ++i) {
        const bool last = i + 1 == d.size();
        switch (how) {
        case Send::Reversed:   // LSB-first byte shifts of mirrored bytes: MSB
                               // leaves first
        case Send::Mirrored: { // the bytes as they are: LSB leaves first
            const uint8_t b = how == Send::Reversed ? rev8(d[i]) : d[i];
            const Bytes c = last ? mp::shift({b}, 8, true, false)
                                 : mp::shift({b}, 8, false, false);
            out.insert(out.end(), c.begin(), c.end());
            break;
        }
        case Send::MsbFirst: // 0x11: bytes out, MSB first, -ve write
            if (!last) {
                out.insert(out.end(), {0x11, 0x00, 0x00, d[i]});
            } else {
                out.insert(out.end(),
                           {0x13, 0x06, d[i]}); // seven bits MSB first
                const Bytes t = mp::tms(0x01, 1, d[i] & 1);
                out.insert(out.end(), t.begin(), t.end());
            }
            break;
        case Send::BitByBit: // one bit-mode command per bit: the slow path
            for (int k = 7; k >= 0; --k) {
                const bool bit = (d[i] >> k) & 1;
                if (last && k == 0)
                    out.insert(out.end(),
                               {0x4B, 0x00,
                                static_cast<uint8_t>(0x01 | (bit ? 0x80 : 0))});
                else
                    out.insert(out.end(),
                               {0x1B, 0x00, static_cast<uint8_t>(bit ? 1 : 0)});
            }
            break;
        }
    }
    return out;
}

Bytes load(const Bytes &body, uint8_t idle_clocks)
{
    Bytes out =
        cat({Bench::setup(), reset_to_idle(), load_ir(0x0B), load_ir(0x05),
             to_shift_dr(), body, exit_to_idle(), load_ir(0x0C)});
    while (idle_clocks > 0) {
        const uint8_t n = idle_clocks > 7 ? 7 : idle_clocks;
        const Bytes t = mp::tms(0x00, n);
        out.insert(out.end(), t.begin(), t.end());
        idle_clocks = static_cast<uint8_t>(idle_clocks - n);
    }
    return out;
}

} // namespace

TEST(Config, DoneRisesOnlyWhenTheSyncWordArrivesInOrder)
{
    const Bytes d = design(300);
    struct Case {
        const char *name;
        Send how;
        uint8_t idle_clocks;
        bool done;
    };
    const Case cases[] = {
        {"reversed bytes, LSB first", Send::Reversed, 12, true},
        {"MSB-first commands", Send::MsbFirst, 12, true},
        {"bit by bit", Send::BitByBit, 16, true},
        {"mirrored twin", Send::Mirrored, 12, false},
        {"too few start-up clocks", Send::Reversed, 11, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(wire_only());
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        const Bytes cmds = load(send(d, c.how), c.idle_clocks);
        ASSERT_EQ(b.write(cmds), static_cast<int>(cmds.size()));
        const tapsim::Record &r = tapsim::record();
        EXPECT_EQ(r.done, c.done);
        EXPECT_EQ(r.config_bits, d.size() * 8);
        EXPECT_EQ(r.instructions, (Bytes{0x0B, 0x05, 0x0C}));
        Bytes arrived = d;
        if (c.how == Send::Mirrored)
            for (uint8_t &x : arrived)
                x = rev8(x);
        EXPECT_EQ(r.config_data, arrived);
        EXPECT_EQ(r.config_hash, fnv(arrived));
        EXPECT_EQ(r.sync_seen, c.how != Send::Mirrored);
    }
}

// Packs `lead` one bits and then the bytes d, MSB first, zero-padded.
Bytes after_bits(int lead, const Bytes &d)
{
    Bytes packed;
    uint32_t acc = (1u << lead) - 1;
    int have = lead;
    for (uint8_t x : d) {
        acc = (acc << 8) | x;
        have += 8;
        packed.push_back(static_cast<uint8_t>(acc >> (have - 8)));
        have -= 8;
    }
    if (have)
        packed.push_back(static_cast<uint8_t>(acc << (8 - have)));
    return packed;
}

TEST(Config, SyncWordFoundAtAnyBitOffset)
{
    const Bytes d = design(40);
    // Whole bytes with the sync word straddling them at every offset.
    for (int lead = 0; lead < 8; ++lead) {
        SCOPED_TRACE(lead);
        const Bytes stream = after_bits(lead, d);
        Bench b(wire_only());
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(load(send(stream, Send::Reversed), 12));
        EXPECT_TRUE(tapsim::record().done);
        EXPECT_EQ(tapsim::record().config_data, stream);
    }
    // Three stray bits first: the stream itself is no longer byte aligned.
    Bench b(wire_only());
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(load(cat({{0x1B, 0x02, 0x07}, send(d, Send::Reversed)}), 12));
    const tapsim::Record &r = tapsim::record();
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.config_bits, d.size() * 8 + 3);
    const Bytes packed = after_bits(3, d);
    EXPECT_EQ(r.config_data, packed);
    EXPECT_EQ(r.config_hash, fnv(packed));
}

TEST(Config, JprogramClearsAndDoneShowsInIrCapture)
{
    Bench b(wire_only());
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(load(send(design(10), Send::Reversed), 12));
    ASSERT_TRUE(tapsim::record().done);
    b.write(cat({to_shift_ir(),
                 mp::shift({0x3F}, 6, true, true),
                 exit_to_idle(),
                 {0x87}}));
    EXPECT_EQ(mp::shift_result(b.read(2), 6, true),
              Bytes{0x35}); // DONE, INIT, ISC_DONE

    b.write(load_ir(0x0B));
    const tapsim::Record &r = tapsim::record();
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.config_bits, 0u);
    EXPECT_TRUE(r.config_data.empty());
    EXPECT_FALSE(r.sync_seen);
}

TEST(Config, NotKeepingBitsKeepsCountHashAndStartUp)
{
    const Bytes d = design(5000);
    Scenario s = wire_only();
    s.keep_config = false;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(load(cat({mp::shift(
                     [&] {
                         Bytes r = d;
                         for (uint8_t &x : r)
                             x = rev8(x);
                         return r;
                     }(),
                     d.size() * 8, true, false)}),
                 12));
    const tapsim::Record &r = tapsim::record();
    EXPECT_TRUE(r.done);
    EXPECT_FALSE(r.config_kept);
    EXPECT_TRUE(r.config_data.empty());
    EXPECT_EQ(r.config_bits, d.size() * 8);
    EXPECT_EQ(r.config_hash, fnv(d));
}
