// Opening the adapter through the real libftdi: what the bus shows, what
// libftdi does with it, and what the chip records.
#include <gtest/gtest.h>

#include "bench.h"

using tapsim::ControlKind;
using tapsim::Scenario;
using tapsim::Variant;

TEST(UsbOpen, AdapterOpensAsDualChannelChipOfEitherVariant)
{
    struct Case {
        Variant variant;
        ftdi_chip_type type;
        unsigned packet;
    };
    for (const Case &c : {Case{Variant::FullSpeed, TYPE_2232C, 64},
                          Case{Variant::HighSpeed, TYPE_2232H, 512}}) {
        Scenario s;
        s.variant = c.variant;
        Bench b(s);
        ASSERT_EQ(b.open(), 0) << ftdi_get_error_string(&b.ctx);
        EXPECT_EQ(b.ctx.type, c.type);
        EXPECT_EQ(b.ctx.max_packet_size, c.packet);
        // libftdi opens, closes and opens again while matching the device.
        const auto &dev = tapsim::record().devices.at(0);
        EXPECT_EQ(dev.opened, 2u);
        EXPECT_EQ(dev.closed, 1u);
        b.close();
        EXPECT_EQ(tapsim::record().devices.at(0).closed, 2u);
    }
}

TEST(UsbOpen, ControlRequestsAreDecoded)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(ftdi_set_latency_timer(&b.ctx, 2), 0);
    ASSERT_EQ(b.mpsse(0xFB), 0);
    ASSERT_EQ(ftdi_usb_purge_buffers(&b.ctx), 0);
    // The read-back is asked for; its value is not libftdi 0.20's to tell
    // on every host (libftdi0_quirks_test.cpp), the chip's record is.
    unsigned char latency = 0;
    ASSERT_EQ(ftdi_get_latency_timer(&b.ctx, &latency), 0);

    const tapsim::Record &r = tapsim::record();
    std::vector<ControlKind> kinds;
    for (const auto &c : r.controls)
        kinds.push_back(c.kind);
    const std::vector<ControlKind> want = {
        ControlKind::Reset,     ControlKind::Baudrate, ControlKind::Latency,
        ControlKind::BitMode,   ControlKind::PurgeRx,  ControlKind::PurgeTx,
        ControlKind::GetLatency};
    EXPECT_EQ(kinds, want);
    EXPECT_EQ(r.baudrate, 9600u); // libftdi's default on open
    EXPECT_EQ(r.latency, 2);
    EXPECT_EQ(r.bit_mode, 0x02);
    EXPECT_EQ(r.bit_mask, 0xFB);
    for (size_t i = 1; i < r.controls.size(); ++i)
        EXPECT_GT(r.controls[i].seq, r.controls[i - 1].seq);
}

TEST(UsbOpen, OnlyTheAskedIdIsOpened)
{
    Scenario s;
    s.extra_devices = {{0x0403, 0x6010}, {0x0403, 0x6014}};
    Bench b(s);
    ASSERT_EQ(b.open(), 0);
    const auto &devs = tapsim::record().devices;
    ASSERT_EQ(devs.size(), 3u);
    for (const auto &d : devs) {
        SCOPED_TRACE(d.pid);
        EXPECT_EQ(d.opened, d.adapter ? 2u : 0u);
    }
    // An extra device does open when asked for, and is counted.
    Bench other(s);
    ASSERT_EQ(other.open(0x0403, 0x6014), 0);
    EXPECT_EQ(tapsim::record().devices.at(1).opened, 2u);
    EXPECT_EQ(tapsim::record().devices.at(0).opened, 0u);
}

TEST(UsbOpen, MissingAdapterIsNotFound)
{
    Scenario s;
    s.adapter = false;
    s.extra_devices = {{0x0403, 0x6010}};
    Bench b(s);
    EXPECT_EQ(b.open(), -3); // libftdi: device not found
    EXPECT_EQ(tapsim::record().devices.at(0).opened, 0u);
    EXPECT_EQ(tapsim::record().adapter_index(),
              tapsim::record().devices.size());
}

TEST(UsbOpen, HandlesFromBeforeAResetFailCleanly)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    tapsim::reset();
    unsigned char cmd = 0x87;
    EXPECT_LT(ftdi_write_data(&b.ctx, &cmd, 1), 0);
    EXPECT_TRUE(tapsim::record().bulk.empty());
    b.close(); // still releases the handle
    EXPECT_EQ(tapsim::record().devices.at(0).closed, 0u);
}

// Several adapters in one process: each opens by its serial, once, and
// counts its own transfers towards a fault.
TEST(UsbOpen, AdaptersOpenBySerialAndFaultEachAlike)
{
    Scenario s;
    s.adapters = {"S1", "S2"};
    s.faults.error_write = 2;
    tapsim::reset(s);
    ftdi_context f[3] = {};
    for (ftdi_context &c : f)
        ASSERT_EQ(ftdi_init(&c), 0);
    ASSERT_EQ(ftdi_usb_open_desc(&f[0], 0x2a5e, 0x0c41, nullptr, "S1"), 0);
    ASSERT_EQ(ftdi_usb_open_desc(&f[1], 0x2a5e, 0x0c41, nullptr, "S2"), 0);
    EXPECT_LT(ftdi_usb_open_desc(&f[2], 0x2a5e, 0x0c41, nullptr, "S1"), 0);
    unsigned char byte = 0x87;
    for (int i : {0, 1}) {
        EXPECT_EQ(ftdi_write_data(&f[i], &byte, 1), 1);
        EXPECT_LT(ftdi_write_data(&f[i], &byte, 1), 0);
    }
    EXPECT_EQ(ftdi_write_data(&f[0], &byte, 1), 1);
    const tapsim::Record &r = tapsim::record();
    EXPECT_EQ(r.serial_of(r.bulk.back().device), "S1");
    for (int i : {0, 1})
        ftdi_usb_close(&f[i]);
    for (ftdi_context &c : f)
        ftdi_deinit(&c);
}
