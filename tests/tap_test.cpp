// TAP operations: the exact writes, what the target ends up with, and how
// failures are reported.
#include "tool_fixture.h"

#include <cerrno>
#include <deque>
#include <map>

#include "jtag/scan.h"
#include "jtag/tap.h"
#include "xilinx/capture.h"

using tapsim::Scenario;
using tapsim::TapState;

namespace {

// Shortest TMS path from Test-Logic-Reset to each state, by the target's
// own transition table.
std::map<TapState, std::vector<int>> paths_from_reset()
{
    std::map<TapState, std::vector<int>> paths = {
        {TapState::TestLogicReset, {}}};
    std::deque<TapState> todo = {TapState::TestLogicReset};
    while (!todo.empty()) {
        TapState s = todo.front();
        todo.pop_front();
        for (int level : {0, 1}) {
            TapState n = tapsim::next_state(s, level);
            if (paths.count(n))
                continue;
            paths[n] = paths[s];
            paths[n].push_back(level);
            todo.push_back(n);
        }
    }
    return paths;
}

} // namespace

TEST_F(ToolTest, LoadIrWritesEightCommandsAndLoadsTheLowFiveBits)
{
    open_adapter();
    ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
    write_log().clear();
    ASSERT_EQ(jtag_load_ir(&jtag_, &chain_lone_fpga, 0x0B), 0);
    EXPECT_EQ(written(), ir_writes(0x0B));
    EXPECT_EQ(final_state(), TapState::RunTestIdle);

    // Bits 5..7 of the code are never shifted: the sixth bit is always 0.
    struct Case {
        uint8_t code, loaded;
    } cases[] = {{0x1B, 0x1B}, {0x02, 0x02}, {0x3B, 0x1B}, {0xE5, 0x05}};
    for (const Case &c : cases) {
        ASSERT_EQ(jtag_load_ir(&jtag_, &chain_lone_fpga, c.code), 0);
        EXPECT_EQ(instructions().back(), c.loaded) << int(c.code);
    }
}

TEST_F(ToolTest, ResetToIdleReachesRunTestIdleFromEveryState)
{
    open_adapter();
    for (const auto &[state, path] : paths_from_reset()) {
        ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
        for (int i = 0; i < 3; i++) // Select-DR, Select-IR, Test-Logic-Reset
            ASSERT_EQ(jtag_clock_tms(&jtag_, 1), 0);
        for (int level : path)
            ASSERT_EQ(jtag_clock_tms(&jtag_, level), 0);
        ASSERT_EQ(final_state(), state) << tapsim::state_name(state);
        write_log().clear();
        ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
        EXPECT_EQ(written(), reset_writes());
        EXPECT_EQ(final_state(), TapState::RunTestIdle)
            << "from " << tapsim::state_name(state);
    }
}

TEST_F(ToolTest, ReadDrShiftsCountBytesAndStaysInShiftDr)
{
    Scenario s;
    s.idcode = 0x34008093;
    start(s);
    open_adapter();
    ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
    write_log().clear();
    unsigned char in[4] = {};
    ASSERT_EQ(jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, in, 4), 0);
    EXPECT_EQ(written(),
              concat({to_shift_dr_writes(), {{0x39, 0x03, 0x00, 0, 0, 0, 0}}}));
    EXPECT_EQ(Bytes(in, in + 4), Bytes({0x93, 0x80, 0x00, 0x34}));
    EXPECT_EQ(final_state(), TapState::ShiftDR);

    // One byte, with the caller's bytes going out on TDI.
    ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
    ASSERT_EQ(jtag_load_ir(&jtag_, &chain_lone_fpga, 0x3F),
              0); // BYPASS: TDO is TDI one clock late
    write_log().clear();
    const unsigned char out[2] = {0x81, 0x01};
    unsigned char back[2] = {};
    ASSERT_EQ(jtag_read_dr(&jtag_, &chain_lone_fpga, out, back, 2), 0);
    EXPECT_EQ(written().back(), Bytes({0x39, 0x01, 0x00, 0x81, 0x01}));
    EXPECT_EQ(back[0], 0x02); // captured 0, then 0x81 shifted by one
    EXPECT_EQ(back[1], 0x03);
}

TEST_F(ToolTest, ReadDrRefusesCountsOutsideItsRangeBeforeWriting)
{
    open_adapter();
    for (int count : {0, -1, 65536}) {
        Captured c = capture([&] {
            return jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, buf_, count);
        });
        EXPECT_EQ(c.result, -1) << count;
        EXPECT_NE(c.err, "") << count;
        EXPECT_TRUE(write_log().empty()) << count;
    }
    // The largest count goes out as one command. No chip buffers that many
    // answer bytes: the engine stalls and the write times out.
    ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
    write_log().clear();
    Captured c = capture([&] {
        return jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, buf_, 65535);
    });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Ftdi write failed\n");
    ASSERT_EQ(write_log().size(), 4u);
    // libftdi 0.x passes libusb's -ETIMEDOUT on, 1.x its own -1; the chip's
    // side is the same under both.
    EXPECT_LT(write_log()[3].result, 0);
    EXPECT_EQ(rec().bulk.back().result, -ETIMEDOUT);
    EXPECT_EQ(write_log()[3].bytes.size(), 65538u);
    EXPECT_EQ(
        Bytes(write_log()[3].bytes.begin(), write_log()[3].bytes.begin() + 3),
        Bytes({0x39, 0xFE, 0xFF}));
}

TEST_F(ToolTest, TapOperationsRunWholeSequencesButReportFailedWrites)
{
    struct Case {
        const char *name;
        uint64_t short_write; // counted after the two set-up writes
        int (*op)(struct Jtag *);
        size_t writes;
        const char *out, *err;
    } cases[] = {
        {"reset, third clock", 3, [](Jtag *f) { return jtag_reset_to_idle(f); },
         6, "", "Can't reset TAP: write failed\n"},
        {"load_ir, instruction shift", 5,
         [](Jtag *f) { return jtag_load_ir(f, &chain_lone_fpga, 0x0B); }, 8,
         "Write loop failed\n", ""},
        {"load_ir, exit clock", 6,
         [](Jtag *f) { return jtag_load_ir(f, &chain_lone_fpga, 0x0B); }, 8, "",
         "Can't load instruction 0x0b: write failed\n"},
        {"read_dr, command", 4,
         [](Jtag *f) {
             unsigned char in[4];
             return jtag_read_dr(f, &chain_lone_fpga, nullptr, in, 4);
         },
         4, "", "Ftdi write failed\n"},
        {"read_dr, TMS clock", 1,
         [](Jtag *f) {
             unsigned char in[4];
             return jtag_read_dr(f, &chain_lone_fpga, nullptr, in, 4);
         },
         4, "", "Can't move TAP to Shift-DR: write failed\n"},
    };
    for (const Case &c : cases) {
        Scenario s;
        s.faults.short_write = 2 + c.short_write;
        start(s);
        open_adapter();
        Captured got = capture([&] { return c.op(&jtag_); });
        EXPECT_EQ(got.result, -1) << c.name;
        EXPECT_EQ(write_log().size(), c.writes) << c.name;
        EXPECT_EQ(got.out, c.out) << c.name;
        EXPECT_EQ(got.err, c.err) << c.name;
    }
}

TEST_F(ToolTest, ReadDrEndsOnReadErrorsAndOnSilence)
{
    Scenario err;
    err.faults.error_read = 2; // the first read is the probe's
    start(err);
    open_adapter();
    Captured c = capture([&] {
        return jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, buf_, 4);
    });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Ftdi read failed\n");

    Scenario slow;
    slow.faults.empty_reads = 40;
    start(slow);
    open_adapter();
    c = capture([&] {
        return jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, buf_, 4);
    });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.err, "");

    // The command never reaches the adapter, so no answer ever comes.
    start(Scenario());
    open_adapter();
    swallow_writes = true;
    c = capture([&] {
        return jtag_read_dr(&jtag_, &chain_lone_fpga, nullptr, buf_, 4);
    });
    swallow_writes = false;
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Ftdi read timed out\n");
}

TEST_F(ToolTest, CaptureIrIsOneWriteAndReadsTheSixCaptureBits)
{
    struct Case {
        bool configured;
        uint8_t capture;
    } cases[] = {{true, 0x35}, {false, 0x11}};
    for (const Case &c : cases) {
        Scenario s;
        s.configured = c.configured;
        start(s);
        open_adapter();
        ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
        write_log().clear();
        uint8_t capture = 0;
        ASSERT_EQ(capture_read(&jtag_, &chain_lone_fpga, 0x05, &capture), 0);
        EXPECT_EQ(written(), Writes({{0x4B, 0x03, 0x03, 0x3B, 0x04, 0x05, 0x6B,
                                      0x00, 0x01, 0x4B, 0x01, 0x01, 0x87}}));
        EXPECT_EQ(capture, c.capture);
        EXPECT_EQ(instructions().back(), 0x05);
        EXPECT_EQ(final_state(), TapState::RunTestIdle);
    }
}

TEST_F(ToolTest, ABatchClocksWhatTheSingleWritesWouldInOneWrite)
{
    open_adapter();
    ASSERT_EQ(jtag_reset_to_idle(&jtag_), 0);
    write_log().clear();
    const uint64_t before = rec().tck_cycles;
    scan_ir(&jtag_, &chain_lone_fpga, 0x0C, TAP_IDLE, nullptr);
    queue_bytes(&jtag_.queue, nullptr, 250, nullptr, 0);
    jtag_queue_reset_to_idle(&jtag_);
    ASSERT_EQ(queue_send(&jtag_.queue), QUEUE_OK);
    EXPECT_EQ(written().size(), 1u);
    // 4 + 5 + 3 for the instruction, 2,000 idle, 6 to reset and idle.
    EXPECT_EQ(rec().tck_cycles - before, 2018u);
    EXPECT_EQ(instructions().back(), 0x0C);
    EXPECT_EQ(final_state(), TapState::RunTestIdle);
}
