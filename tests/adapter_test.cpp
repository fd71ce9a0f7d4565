// Opening, configuring and probing the adapter, and the bounded read.
#include "tool_fixture.h"

#include "link/adapter.h"

using tapsim::Scenario;

namespace {

const Bytes setup = {0x80, 0x08, 0x0B, 0x82, 0x00,
                     0x00, 0x86, 0x00, 0x00, 0x85};
const Bytes probe = {0x81, 0x87};

struct OpenCase {
    const char *name;
    Scenario scenario;
    const char *message; // standard error, exactly
    size_t writes;       // ftdi_write_data calls made
};

Scenario with(void (*edit)(Scenario &))
{
    Scenario s;
    edit(s);
    return s;
}

} // namespace

TEST_F(ToolTest, OpenConfiguresChannelAAndProbesPower)
{
    Captured c = capture([&] { return try_open(); });
    ASSERT_EQ(c.result, 0);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(written(), (std::vector<Bytes>{setup, probe}));
    EXPECT_EQ(rec().bit_mode, 0x02);
    EXPECT_EQ(rec().bit_mask, 0xFB);
    EXPECT_EQ(rec().latency, 2);
    EXPECT_EQ(rec().divisor, 0);
    // Nothing clocked yet: TMS high and TCK low wait for the first command.
    EXPECT_EQ(rec().tck_cycles, 0u);
}

TEST_F(ToolTest, OpenFailuresPrintTheirMessageAndStop)
{
    const OpenCase cases[] = {
        {"no adapter", with([](Scenario &s) { s.adapter = false; }),
         "Can't open device 2a5e:0c41\n", 0},
        {"only another FTDI chip", with([](Scenario &s) {
             s.adapter = false;
             s.extra_devices = {{0x0403, 0x6010}};
         }),
         "Can't open device 2a5e:0c41\n", 0},
        {"set-up write short",
         with([](Scenario &s) { s.faults.short_write = 1; }),
         "Can't configure device 2a5e:0c41\n", 1},
        {"set-up write error",
         with([](Scenario &s) { s.faults.error_write = 1; }),
         "Can't configure device 2a5e:0c41\n", 1},
        {"probe write short",
         with([](Scenario &s) { s.faults.short_write = 2; }),
         "Can't send command to device\n", 2},
        {"probe answer read error",
         with([](Scenario &s) { s.faults.error_read = 1; }),
         "Can't read pin state from device\n", 2},
        {"target unpowered",
         with([](Scenario &s) { s.target_powered = false; }),
         "Vref not detected. Please power on target board\n", 2},
    };
    for (const OpenCase &oc : cases) {
        start(oc.scenario);
        Captured c = capture([&] { return try_open(); });
        EXPECT_EQ(c.result, -1) << oc.name;
        EXPECT_EQ(c.err, oc.message) << oc.name;
        EXPECT_EQ(c.out, "") << oc.name;
        EXPECT_EQ(write_log().size(), oc.writes) << oc.name;
        EXPECT_EQ(rec().tck_cycles, 0u) << oc.name;
        for (const auto &dev : rec().devices) {
            if (!dev.adapter) {
                EXPECT_EQ(dev.opened, 0u) << oc.name;
            }
        }
    }
}

TEST_F(ToolTest, ProbeWaitsForALateAnswerButNotForever)
{
    Scenario late;
    late.faults.empty_reads = 5;
    start(late);
    EXPECT_EQ(capture([&] { return try_open(); }).result, 0);

    Scenario never;
    never.faults.empty_reads_forever = true;
    start(never);
    Captured c = capture([&] { return try_open(); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "No answer from device to pin state request\n");
}

TEST_F(ToolTest, AdapterReadCollectsBytesAcrossPacketsOfBothChipVariants)
{
    for (tapsim::Variant v :
         {tapsim::Variant::FullSpeed, tapsim::Variant::HighSpeed}) {
        Scenario s;
        s.variant = v;
        s.faults.empty_reads = 3;
        start(s);
        open_adapter();
        // TDO after reset: more than two high-speed packets, many
        // full-speed ones, and no more than the chip buffers.
        const size_t n = v == tapsim::Variant::FullSpeed ? 380 : 1200;
        Bytes cmd = {0x39, static_cast<uint8_t>((n - 1) & 0xFF),
                     static_cast<uint8_t>((n - 1) >> 8)};
        cmd.resize(3 + n, 0xA5);
        for (Bytes t : {tms(1), tms(1), tms(1), tms(1), tms(1), tms(0), tms(1),
                        tms(0), tms(0)})
            ASSERT_EQ(ftdi_write_data(&ftdi_, t.data(), 3), 3);
        Bytes in(n);
        queue_bytes(&jtag_.queue, cmd.data() + 3, (uint32_t)n, in.data(), 0);
        ASSERT_EQ(queue_run(&jtag_.queue), QUEUE_OK);
        EXPECT_EQ(written().back(), cmd);
        // IDCODE is selected after reset: its 32 bits come first, then what
        // went in on TDI.
        uint32_t id = in[0] | in[1] << 8 | in[2] << 16 | (uint32_t)in[3] << 24;
        EXPECT_EQ(id, s.idcode);
        EXPECT_EQ(in[4], 0xA5);
        EXPECT_EQ(in[n - 1], 0xA5);
    }
}

TEST_F(ToolTest, TckRateIsTheChipsFastestAtOrBelowTheOneAskedFor)
{
    const auto fs = tapsim::Variant::FullSpeed;
    const auto hs = tapsim::Variant::HighSpeed;
    const Bytes pins = {0x80, 0x08, 0x0B, 0x82, 0x00, 0x00};
    struct Case {
        tapsim::Variant variant;
        uint32_t asked;
        Bytes clock;            // after the pins' set-up
        uint32_t base_hz, rate; // rate: the tool's idea of it, rounded up
    } cases[] = {
        // 6 MHz keeps the 12 MHz base everywhere: the one set-up for all.
        {fs, 6000000, {0x86, 0x00, 0x00, 0x85}, 12000000, 6000000},
        {hs, 6000000, {0x86, 0x00, 0x00, 0x85}, 12000000, 6000000},
        {fs, 30000000, {0x86, 0x00, 0x00, 0x85}, 12000000, 6000000},
        {fs, 5000000, {0x86, 0x01, 0x00, 0x85}, 12000000, 3000000},
        {hs, 30000000, {0x8A, 0x86, 0x00, 0x00, 0x85}, 60000000, 30000000},
        {hs, 29999999, {0x8A, 0x86, 0x01, 0x00, 0x85}, 60000000, 15000000},
        {hs, 7500000, {0x8A, 0x86, 0x03, 0x00, 0x85}, 60000000, 7500000},
        {hs, 6000001, {0x8A, 0x86, 0x04, 0x00, 0x85}, 60000000, 6000000},
        {hs, 4000000, {0x8A, 0x86, 0x07, 0x00, 0x85}, 60000000, 3750000},
        {hs, 1000, {0x8A, 0x86, 0x2F, 0x75, 0x85}, 60000000, 1000},
    };
    for (const Case &k : cases) {
        const std::string name =
            std::to_string(k.asked) + (k.variant == hs ? " hs" : " fs");
        Scenario s;
        s.variant = k.variant;
        start(s);
        tck_hz_ = k.asked;
        ASSERT_EQ(capture([&] { return try_open(); }).result, 0) << name;
        const Bytes w = written().front();
        EXPECT_EQ(Bytes(w.begin(), w.begin() + 6), pins) << name;
        EXPECT_EQ(Bytes(w.begin() + 6, w.end()), k.clock) << name;
        EXPECT_EQ(rec().clock_base_hz, k.base_hz) << name;
        EXPECT_EQ(jtag_.queue.tck_hz, k.rate) << name;
    }
}
