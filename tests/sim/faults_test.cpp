// Injected USB faults, each seen through libftdi as a tool would see it.
#include <gtest/gtest.h>

#include <cerrno>

#include "bench.h"

using tapsim::Scenario;

TEST(Faults, Writes)
{
    struct Case {
        const char *name;
        uint64_t short_write;
        uint64_t error_write;
        int second_result; // ftdi_write_data of 4 bytes, the second write
        size_t answers;    // 0x81 answers that reached the queue
    };
    const Case cases[] = {
        {"none", 0, 0, 4, 2},
        {"second write short", 2, 0, 2, 1},
        {"second write fails", 0, 2, -5, 0},
        {"first write fails, second fine", 0, 1, 4, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scenario s;
        s.faults.short_write = c.short_write;
        s.faults.error_write = c.error_write;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        const int first = b.write(Bench::setup());
        EXPECT_EQ(first, c.error_write == 1 ? -5 : 10);
        EXPECT_EQ(b.write({0x81, 0x87, 0x81, 0x87}), c.second_result);
        EXPECT_EQ(b.read(2, 3).size(), c.answers);
        const auto &bulk = tapsim::record().bulk;
        ASSERT_GE(bulk.size(), 2u);
        EXPECT_EQ(bulk[1].result, c.second_result);
        EXPECT_EQ(
            bulk[1].data.size,
            static_cast<uint64_t>(c.second_result < 0 ? 0 : c.second_result));
    }
}

TEST(Faults, ShortWriteWithinOneLargeWriteDropsTheTail)
{
    Scenario s;
    s.faults.short_write = 2;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(Bench::setup());
    // 5000 bytes: libftdi sends 4096 (cut to 2048) then 904, and adds up.
    EXPECT_EQ(b.write(Bytes(5000, 0x87)), 2048 + 904);
}

TEST(Faults, Reads)
{
    struct Case {
        const char *name;
        uint64_t empty_reads;
        bool forever;
        uint64_t error_read;
        std::vector<int> results; // ftdi_read_data of 1 byte, in turn
    };
    const Case cases[] = {
        {"none", 0, false, 0, {1, 0}},
        {"three empty", 3, false, 0, {0, 0, 0, 1}},
        {"never", 0, true, 0, {0, 0, 0, 0, 0, 0}},
        {"first read fails", 0, false, 1, {-5, 1}},
        {"second read fails", 0, false, 2, {1, -5, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Scenario s;
        s.faults.empty_reads = c.empty_reads;
        s.faults.empty_reads_forever = c.forever;
        s.faults.error_read = c.error_read;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(), {0x81, 0x87}}));
        std::vector<int> results;
        for (size_t i = 0; i < c.results.size(); ++i) {
            unsigned char byte = 0;
            results.push_back(ftdi_read_data(&b.ctx, &byte, 1));
            if (results.back() == 1) {
                EXPECT_EQ(byte, 0xFC);
            }
        }
        EXPECT_EQ(results, c.results);
    }
}

TEST(Faults, PartialWriteHandsOverAPrefixAndTimesOut)
{
    struct Case {
        size_t keep;
        size_t taken; // of the eight bytes: two GetLow, two send-immediate
        size_t answers;
    };
    for (const Case &c :
         {Case{tapsim::Faults::kHalf, 4, 2}, Case{1, 1, 1}, Case{0, 0, 0}}) {
        SCOPED_TRACE(c.keep);
        Scenario s;
        s.faults.partial_write = 2;
        s.faults.partial_keep = c.keep;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        ASSERT_EQ(b.write(Bench::setup()), 10);
        EXPECT_EQ(b.write({0x81, 0x87, 0x81, 0x87, 0x81, 0x87, 0x81, 0x87}),
                  -ETIMEDOUT);
        EXPECT_EQ(tapsim::record().bulk.back().data.size, c.taken);
        // The prefix ran: a lone GetLow answers after the latency timer.
        EXPECT_EQ(b.read(4, 30).size(), c.answers);
    }
}

TEST(Faults, UnpluggedAdapterFailsEveryCallFromThenOn)
{
    Scenario s;
    s.faults.unplug = 3; // the set-up write, a read, then gone
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    ASSERT_EQ(b.write(cat({Bench::setup(), {0x81, 0x87}})), 12);
    unsigned char pins = 0;
    ASSERT_EQ(ftdi_read_data(&b.ctx, &pins, 1), 1);
    EXPECT_EQ(b.write(cat({reset_to_idle(), {0x81, 0x87}})), -ENODEV);
    EXPECT_EQ(ftdi_read_data(&b.ctx, &pins, 1), -ENODEV);
    EXPECT_LT(ftdi_set_latency_timer(&b.ctx, 2), 0);
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.controls.back().result, -ENODEV);
    EXPECT_EQ(r.bulk.back().result, -ENODEV);
    // Nothing reached the target after the plug came out.
    EXPECT_TRUE(r.states.empty());
}

TEST(Faults, StuckTdoReadsOneLevelWhateverTheTargetDoes)
{
    for (int level : {0, 1}) {
        SCOPED_TRACE(level);
        Scenario s;
        s.tdo_stuck = level;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        EXPECT_EQ(le32(b.idcode_after_reset()), level ? 0xFFFFFFFFu : 0u);
        // The byte path too: 64 bytes of USER1 stay at that level.
        b.write(cat({load_ir(0x02),
                     to_shift_dr(),
                     {0x39, 0x3F, 0x00},
                     Bytes(64, 0x5A),
                     {0x87}}));
        EXPECT_EQ(b.read(64), Bytes(64, level ? 0xFF : 0x00));
    }
}
