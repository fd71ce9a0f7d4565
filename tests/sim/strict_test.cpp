// The bench as strict as the hardware: clearing time, status in the IR
// capture, USER registers of a configured device only, the chip's answer
// buffer, its latency timer, purges, and the newer opcodes.
#include <gtest/gtest.h>

#include <cerrno>

#include "bench.h"
#include "bitfile_writer.h"
#include "mpsse.h"

using tapsim::Scenario;
using tapsim::Variant;

namespace {

// Sends each TMS clock in a bulk write of its own, as today's tool does.
void clocks(Bench &b, std::initializer_list<int> tms)
{
    for (int t : tms)
        ASSERT_EQ(b.write(mp::tms(static_cast<uint8_t>(t), 1)), 3);
}

void tool_load_ir(Bench &b, uint8_t code)
{
    clocks(b, {1, 1, 0, 0});
    ASSERT_EQ(b.write({0x1B, 0x04, code}), 3);
    clocks(b, {1, 1, 0});
}

// Today's load: JPROGRAM, CFG_IN and the data straight after.
void tool_load(Bench &b, const bitgen::Bytes &stream)
{
    ASSERT_EQ(b.write(Bench::setup()), 10);
    clocks(b, {1, 1, 1, 1, 1, 0});
    tool_load_ir(b, 0x0B);
    tool_load_ir(b, 0x05);
    clocks(b, {1, 0, 0});
    const bitgen::Bytes body = bitgen::mirrored(stream);
    ASSERT_EQ(b.write(cat({{0x19, static_cast<uint8_t>((body.size() - 1)),
                            static_cast<uint8_t>((body.size() - 1) >> 8)},
                           body})),
              static_cast<int>(body.size() + 3));
    clocks(b, {1, 1, 0});
    tool_load_ir(b, 0x0C);
    for (int i = 0; i < 32; ++i)
        clocks(b, {0});
}

bitgen::Bytes series7(uint32_t idcode, bool cut = false)
{
    bitgen::StreamPlan plan;
    plan.family = bitgen::Family::Series7;
    plan.idcode = idcode;
    plan.cut_before_start = cut;
    plan.size = 20000;
    return bitgen::family_stream(plan);
}

struct ClearCase {
    const char *name;
    Variant variant;
    uint32_t usb_us;
    bool done;
};

class Clearing : public ::testing::TestWithParam<ClearCase> {};

} // namespace

TEST_P(Clearing, DataSentWhileTheDeviceClearsIsLost)
{
    const ClearCase &c = GetParam();
    Scenario s;
    s.variant = c.variant;
    s.usb_us = c.usb_us;
    s.idcode = 0x0362D093;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    const bitgen::Bytes stream = series7(0x0362D093);
    tool_load(b, stream);
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.done, c.done);
    EXPECT_TRUE(r.init);
    EXPECT_EQ(r.sync_seen, c.done);
    // Twelve single-clock writes between JPROGRAM's Update-IR and the data:
    // 12 ms at 1 ms a transfer, 1.5 ms at 125 µs, against 5 ms of clearing.
    if (c.done) {
        EXPECT_EQ(r.dropped_config_bits, 0u);
    } else {
        EXPECT_GT(r.dropped_config_bits, 48u * 8); // past the sync word
    }
    EXPECT_EQ(r.config_bits + r.dropped_config_bits, stream.size() * 8 + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, Clearing,
    ::testing::Values(ClearCase{"full_speed", Variant::FullSpeed, 0, true},
                      ClearCase{"high_speed", Variant::HighSpeed, 0, false},
                      ClearCase{"high_speed_at_full_speed_cost",
                                Variant::HighSpeed, 1000, true}),
    [](const ::testing::TestParamInfo<ClearCase> &i) {
        return std::string(i.param.name);
    });

namespace {

// IR capture and USER1 as a tool sees them.
struct Status {
    uint8_t capture;
    uint32_t user1;
};

Status status(Bench &b)
{
    b.write(cat({reset_to_idle(),
                 to_shift_ir(),
                 mp::shift({0x02}, 6, true, true),
                 exit_to_idle(),
                 read_dr(32),
                 {0x87}}));
    const Bytes got = b.read(2 + mp::answer_size(32, true));
    if (got.size() < 7)
        return {0, 0};
    const Bytes ir =
        mp::shift_result(Bytes(got.begin(), got.begin() + 2), 6, true);
    return {ir[0], le32(mp::shift_result(Bytes(got.begin() + 2, got.end()), 32,
                                         true))};
}

struct StatusCase {
    const char *name;
    bool configured;
    int load; // 0 none, 1 matching stream, 2 other part, 3 cut, 4 JPROGRAM
    uint8_t capture;
    bool user_live;
};

class DeviceStatus : public ::testing::TestWithParam<StatusCase> {};

} // namespace

TEST_P(DeviceStatus, ShowsInIrCaptureAndUserRegisters)
{
    const StatusCase &c = GetParam();
    Scenario s;
    s.configured = c.configured;
    s.idcode = 0x0362D093;
    s.user[0] = 0x55535231;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    if (c.load == 4) {
        b.write(cat({Bench::setup(), reset_to_idle(), load_ir(0x0B)}));
    } else if (c.load > 0) {
        tool_load(b,
                  series7(c.load == 2 ? 0x03631093 : 0x0362D093, c.load == 3));
    } else {
        b.write(Bench::setup());
    }
    const Status got = status(b);
    EXPECT_EQ(got.capture, c.capture);
    // USER1 of an unconfigured device is BYPASS: zeros with TDI low.
    EXPECT_EQ(got.user1, c.user_live ? 0x55535231u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    States, DeviceStatus,
    ::testing::Values(StatusCase{"power_up_configured", true, 0, 0x35, true},
                      StatusCase{"power_up_blank", false, 0, 0x11, false},
                      StatusCase{"clearing", true, 4, 0x01, false},
                      StatusCase{"loaded", false, 1, 0x35, true},
                      StatusCase{"other_part", true, 2, 0x01, false},
                      StatusCase{"cut_before_start", true, 3, 0x11, false}),
    [](const ::testing::TestParamInfo<StatusCase> &i) {
        return std::string(i.param.name);
    });

TEST(AnswerBuffer, OversizedReadBackStallsTheWrite)
{
    // 600 bytes back through loopback on the full-speed chip: 384 answers
    // fit, then the engine stops.
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    ASSERT_EQ(b.write(Bench::setup()), 10);
    const Bytes cmd = cat({{0x84, 0x39, 0x57, 0x02}, Bytes(600, 0x3C)});
    // libftdi 0.x passes -ETIMEDOUT on, 1.x returns -1.
    EXPECT_LT(b.write(cmd), 0);
    const tapsim::Record &r = tapsim::record();
    // The engine took four command bytes and 384 data bytes; 128 more wait
    // in the chip's own buffer, the last 88 it refused.
    EXPECT_EQ(r.bulk.back().result, -ETIMEDOUT);
    EXPECT_EQ(r.bulk.back().data.size, 4u + 384 + 128);
    EXPECT_EQ(r.commands.back().clocks, 384u * 8);
    // Reading makes room: the engine goes on with what the chip holds (its
    // answers come after the latency timer: no send-immediate follows).
    EXPECT_EQ(b.read(600, 30), Bytes(512, 0x3C));
    EXPECT_EQ(tapsim::record().commands.back().clocks, 512u * 8);
}

TEST(LatencyTimer, ShortAnswersWaitForItOrASendImmediate)
{
    struct Case {
        bool send_immediate;
        uint8_t latency_ms;
        int empty_reads; // before the answer comes, at 1 ms a transfer
    };
    for (const Case &c :
         {Case{true, 16, 0}, Case{false, 2, 1}, Case{false, 16, 15}}) {
        SCOPED_TRACE(int(c.latency_ms));
        Bench b;
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(ftdi_set_latency_timer(&b.ctx, c.latency_ms), 0);
        ASSERT_EQ(b.mpsse(), 0);
        Bytes cmd = cat({Bench::setup(), {0x81}});
        if (c.send_immediate)
            cmd.push_back(0x87);
        b.write(cmd);
        int empty = 0;
        unsigned char pins = 0;
        while (ftdi_read_data(&b.ctx, &pins, 1) == 0 && empty < 100)
            ++empty;
        EXPECT_EQ(empty, c.empty_reads);
        EXPECT_EQ(pins, 0xFC);
        EXPECT_EQ(tapsim::record().latency, c.latency_ms);
    }
}

TEST(Purge, OneClearsTowardsTheChipTwoTowardsTheHost)
{
    struct Case {
        int (*purge)(ftdi_context *);
        uint16_t value;
        bool answer_kept;  // GetLow's answer, queued before the purge
        bool partial_kept; // half a set-low command
    };
    for (const Case &c : {Case{ftdi_usb_purge_rx_buffer, 1, true, false},
                          Case{ftdi_usb_purge_tx_buffer, 2, false, true}}) {
        SCOPED_TRACE(c.value);
        Bench b;
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(), {0x81, 0x80, 0x00}}));
        ASSERT_EQ(c.purge(&b.ctx), 0);
        EXPECT_EQ(tapsim::record().controls.back().value, c.value);
        // 0x0B completes the set-low (TDO, TCK, TDI out) if it survived;
        // otherwise it is an opcode the chip does not know.
        b.write({0x0B, 0x87});
        const Bytes got = b.read(3, 3);
        Bytes want;
        if (c.answer_kept)
            want.push_back(0xFC);
        if (!c.partial_kept)
            want.insert(want.end(), {0xFA, 0x0B});
        EXPECT_EQ(got, want);
    }
}

TEST(OpcodeTable, EveryCodeHasTheRowTheDataSheetGives)
{
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        const tapsim::OpcodeRow &row =
            tapsim::opcode_row(static_cast<uint8_t>(code));
        const bool shift = code >= 0x10 && code <= 0x3F;
        const bool tms = code == 0x4A || code == 0x4B || code == 0x6A ||
                         code == 0x6B || code == 0x6E || code == 0x6F;
        const bool every_chip = shift || tms || (code >= 0x80 && code <= 0x89);
        const bool high_speed = (code >= 0x8A && code <= 0x8F) ||
                                (code >= 0x94 && code <= 0x97) ||
                                code == 0x9C || code == 0x9D;
        EXPECT_EQ(row.action != tapsim::Action::Bad, every_chip || high_speed);
        EXPECT_EQ(row.high_speed, high_speed);
        int operands = 0;
        if (shift)
            operands = (code & 0x02) ? 1 : 2;
        else if (tms || code == 0x80 || code == 0x82 || code == 0x86 ||
                 code == 0x8F || code == 0x9C || code == 0x9D)
            operands = 2;
        else if (code == 0x8E)
            operands = 1;
        EXPECT_EQ(row.operands, operands);
    }
}

namespace {

struct OpcodeCase {
    const char *name;
    Bytes cmd;       // from Run-Test/Idle, TMS low unless set first
    uint64_t clocks; // TCK cycles the command makes
    tapsim::TapState after;
    bool stalls; // the engine stops there until a purge
};

class NewOpcode : public ::testing::TestWithParam<OpcodeCase> {};

} // namespace

TEST_P(NewOpcode, ClocksAndWaitsAsDocumented)
{
    const OpcodeCase &c = GetParam();
    Scenario s;
    s.variant = Variant::HighSpeed;
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(), reset_to_idle()}));
    const uint64_t before = tapsim::record().tck_cycles;
    b.write(cat({c.cmd, {0x81, 0x87}}));
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.tck_cycles - before, c.clocks);
    EXPECT_EQ(r.states.back().state, c.after);
    EXPECT_TRUE(r.protocol_errors.empty());
    EXPECT_EQ(b.read(1, 3).size(), c.stalls ? 0u : 1u);
    if (c.stalls) {
        ASSERT_EQ(ftdi_usb_purge_rx_buffer(&b.ctx), 0); // towards the chip
        b.write({0x81, 0x87});
        EXPECT_EQ(b.read(1, 3).size(), 1u);
    }
}

using S = tapsim::TapState;
INSTANTIATE_TEST_SUITE_P(
    HighSpeed, NewOpcode,
    ::testing::Values(
        OpcodeCase{"clock_bits", {0x8E, 0x04}, 5, S::RunTestIdle, false},
        // TMS held high: the TAP walks from Run-Test/Idle.
        OpcodeCase{"clock_bits_tms_high",
                   {0x80, 0x08, 0x0B, 0x8E, 0x01},
                   2,
                   S::SelectIRScan,
                   false},
        OpcodeCase{
            "clock_bytes", {0x8F, 0x01, 0x00}, 16, S::RunTestIdle, false},
        // GPIOL1 floats high on this bench.
        OpcodeCase{"clock_bytes_until_high",
                   {0x9C, 0x01, 0x00},
                   0,
                   S::RunTestIdle,
                   false},
        OpcodeCase{"clock_bytes_until_low",
                   {0x9D, 0x01, 0x00},
                   16,
                   S::RunTestIdle,
                   false},
        OpcodeCase{"clock_until_high", {0x94}, 0, S::RunTestIdle, false},
        OpcodeCase{"clock_until_low", {0x95}, 0, S::RunTestIdle, true},
        OpcodeCase{"wait_high", {0x88}, 0, S::RunTestIdle, false},
        OpcodeCase{"wait_low", {0x89}, 0, S::RunTestIdle, true},
        OpcodeCase{"wait_low_driven_low",
                   {0x80, 0x08, 0x2B, 0x89},
                   0,
                   S::RunTestIdle,
                   false},
        OpcodeCase{"three_phase_and_adaptive",
                   {0x8C, 0x96, 0x97, 0x8D},
                   0,
                   S::RunTestIdle,
                   false}),
    [](const ::testing::TestParamInfo<OpcodeCase> &i) {
        return std::string(i.param.name);
    });
