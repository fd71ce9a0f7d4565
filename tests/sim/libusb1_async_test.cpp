// The libusb-1.0 front called directly, as programs on libusb-1.0 call
// it: asynchronous transfers completed by the event calls, and the device
// queries.
#include <gtest/gtest.h>

#include <libusb.h>

#include <vector>

#include "tapsim.h"

namespace {

constexpr uint16_t kVid = 0x2a5e;
constexpr uint16_t kPid = 0x0c41;
constexpr unsigned char kOutA = 0x02;
constexpr unsigned char kInA = 0x81;

struct Done {
    int tag;
    libusb_transfer_status status;
    int actual;
};

struct Async : ::testing::Test {
    void SetUp() override
    {
        tapsim::reset();
        ASSERT_EQ(libusb_init(&ctx), 0);
        h = libusb_open_device_with_vid_pid(ctx, kVid, kPid);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(libusb_claim_interface(h, 0), 0);
        // Bit mode MPSSE, all of ADBUS0-3 as the JTAG header wants.
        ASSERT_EQ(
            libusb_control_transfer(h, 0x40, 0x0B, 0x020B, 1, nullptr, 0, 100),
            0);
    }
    void TearDown() override
    {
        for (libusb_transfer *t : made)
            libusb_free_transfer(t);
        libusb_close(h);
        libusb_exit(ctx);
    }

    static void LIBUSB_CALL note(libusb_transfer *t)
    {
        auto *self = static_cast<Async *>(t->user_data);
        self->done.push_back(
            {static_cast<int>(self->tag_of(t)), t->status, t->actual_length});
        if (self->resubmit_in && t->endpoint == kInA &&
            t->status == LIBUSB_TRANSFER_COMPLETED) {
            // Two status bytes lead every 64-byte packet.
            for (int i = 0; i < t->actual_length; ++i)
                if (i % 64 >= 2)
                    self->in_data.push_back(t->buffer[i]);
            if (self->in_data.size() < self->in_wanted)
                libusb_submit_transfer(t);
        }
    }
    size_t tag_of(libusb_transfer *t) const
    {
        for (size_t i = 0; i < made.size(); ++i)
            if (made[i] == t)
                return i;
        return made.size();
    }
    libusb_transfer *bulk(unsigned char ep, std::vector<unsigned char> &buf,
                          unsigned timeout_ms)
    {
        libusb_transfer *t = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(t, h, ep, buf.data(),
                                  static_cast<int>(buf.size()), note, this,
                                  timeout_ms);
        made.push_back(t);
        return t;
    }
    // Runs the event calls until n callbacks came, or gives up.
    void run_until(size_t n)
    {
        timeval tv = {1, 0};
        for (int i = 0; i < 1000 && done.size() < n; ++i)
            ASSERT_EQ(libusb_handle_events_timeout_completed(ctx, &tv, nullptr),
                      0);
    }

    libusb_context *ctx = nullptr;
    libusb_device_handle *h = nullptr;
    std::vector<libusb_transfer *> made;
    std::vector<Done> done;
    bool resubmit_in = false;
    std::vector<unsigned char> in_data;
    size_t in_wanted = 0;
};

// TMS high, outputs; Test-Logic-Reset, Shift-DR, the 32-bit ID code read
// as in the probe, sent on at once.
const std::vector<unsigned char> kReadId = {
    0x80, 0x08, 0x0B, 0x86, 0x00, 0x00, 0x85, 0x4B, 0x05, 0x1F,
    0x4B, 0x02, 0x01, 0x39, 0x02, 0x00, 0,    0,    0,    0x3B,
    0x06, 0x00, 0x6B, 0x00, 0x01, 0x4B, 0x01, 0x01, 0x87};

TEST_F(Async, WriteThenReadCompleteInOrderWithTheIdcode)
{
    std::vector<unsigned char> out = kReadId, in(64);
    ASSERT_EQ(libusb_submit_transfer(bulk(kOutA, out, 1000)), 0);
    ASSERT_EQ(libusb_submit_transfer(bulk(kInA, in, 1000)), 0);
    EXPECT_EQ(libusb_submit_transfer(made[0]), LIBUSB_ERROR_BUSY);
    run_until(2);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].tag, 0);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(done[0].actual, static_cast<int>(kReadId.size()));
    EXPECT_EQ(done[1].tag, 1);
    ASSERT_EQ(done[1].actual, 2 + 5);
    const uint32_t id = in[2] | in[3] << 8 | in[4] << 16 |
                        static_cast<uint32_t>((in[5] >> 1) | (in[6] & 0x80))
                            << 24;
    EXPECT_EQ(id, 0x01C22093u);
}

TEST_F(Async, ReadWithNothingToSendBringsTheStatusBytes)
{
    std::vector<unsigned char> in(512);
    ASSERT_EQ(libusb_submit_transfer(bulk(kInA, in, 0)), 0);
    run_until(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(done[0].actual, 2);
    EXPECT_EQ(in[0], 0x32);
    EXPECT_EQ(in[1], 0x60);
}

TEST_F(Async, CancelledTransferCompletesAsCancelledAndOnlyOnce)
{
    std::vector<unsigned char> in(64);
    libusb_transfer *t = bulk(kInA, in, 0);
    EXPECT_EQ(libusb_cancel_transfer(t), LIBUSB_ERROR_NOT_FOUND);
    ASSERT_EQ(libusb_submit_transfer(t), 0);
    const uint64_t reads = tapsim::record().bulk.size();
    EXPECT_EQ(libusb_cancel_transfer(t), 0);
    EXPECT_EQ(libusb_cancel_transfer(t), LIBUSB_ERROR_NOT_FOUND);
    run_until(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(done[0].actual, 0);
    EXPECT_EQ(tapsim::record().bulk.size(), reads); // nothing went to the chip
    run_until(2);
    EXPECT_EQ(done.size(), 1u);
}

TEST_F(Async, SetCompletedFlagReturnsWithoutHandlingAnything)
{
    std::vector<unsigned char> in(64);
    ASSERT_EQ(libusb_submit_transfer(bulk(kInA, in, 0)), 0);
    int completed = 1;
    timeval tv = {0, 0};
    EXPECT_EQ(libusb_handle_events_timeout_completed(ctx, &tv, &completed), 0);
    EXPECT_TRUE(done.empty());
    completed = 0;
    EXPECT_EQ(libusb_handle_events_completed(ctx, &completed), 0);
    EXPECT_EQ(done.size(), 1u);
}

// 1024 bytes to clock with TDO read back: more answers than the
// full-speed chip's 384-byte buffer to the host holds.
std::vector<unsigned char> long_read()
{
    std::vector<unsigned char> b = {0x39, 0xFF, 0x03};
    b.resize(3 + 1024, 0xA5);
    b.push_back(0x87);
    return b;
}

TEST_F(Async, WriteTheChipCannotTakeTimesOutWhenNobodyReads)
{
    std::vector<unsigned char> out = long_read();
    const uint64_t start = tapsim::record().time_us;
    ASSERT_EQ(libusb_submit_transfer(bulk(kOutA, out, 100)), 0);
    run_until(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_TIMED_OUT);
    // 3 header bytes, 384 answered, 128 waiting in the chip.
    EXPECT_EQ(done[0].actual, 3 + 384 + 128);
    EXPECT_GE(tapsim::record().time_us - start, 100000u);
}

TEST_F(Async, WriteTheChipCannotTakeGoesOnWhileReadsDrainIt)
{
    std::vector<unsigned char> out = long_read(), in(4096);
    resubmit_in = true;
    in_wanted = 1024;
    ASSERT_EQ(libusb_submit_transfer(bulk(kOutA, out, 1000)), 0);
    ASSERT_EQ(libusb_submit_transfer(bulk(kInA, in, 1000)), 0);
    for (int i = 0; i < 1000 && in_data.size() < in_wanted; ++i)
        run_until(done.size() + 1);
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done[0].tag, 1); // the read went first: the write waited
    size_t writes = 0;
    for (const Done &d : done)
        if (d.tag == 0) {
            ++writes;
            EXPECT_EQ(d.status, LIBUSB_TRANSFER_COMPLETED);
            EXPECT_EQ(d.actual, static_cast<int>(out.size()));
        }
    EXPECT_EQ(writes, 1u);
    EXPECT_EQ(in_data.size(), 1024u);
}

TEST_F(Async, BenchResetEndsPendingTransfersWithNoDevice)
{
    std::vector<unsigned char> in(64), in2(64);
    ASSERT_EQ(libusb_submit_transfer(bulk(kInA, in, 0)), 0);
    tapsim::reset();
    EXPECT_EQ(libusb_submit_transfer(bulk(kInA, in2, 0)),
              LIBUSB_ERROR_NO_DEVICE);
    run_until(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_NO_DEVICE);
}

struct Bus {
    tapsim::Variant variant;
    size_t extras;
    int speed;
    uint8_t port;
    uint8_t address;
};

class DeviceQueries : public ::testing::TestWithParam<Bus> {};

TEST_P(DeviceQueries, AnswerAsTheBusHoldsTheAdapter)
{
    const Bus &b = GetParam();
    tapsim::Scenario s;
    s.variant = b.variant;
    for (size_t i = 0; i < b.extras; ++i)
        s.extra_devices.push_back({0x0403, static_cast<uint16_t>(0x6010 + i)});
    tapsim::reset(s);
    libusb_device_handle *h =
        libusb_open_device_with_vid_pid(nullptr, kVid, kPid);
    ASSERT_NE(h, nullptr);
    libusb_device *d = libusb_get_device(h);
    EXPECT_EQ(libusb_get_bus_number(d), 1);
    EXPECT_EQ(libusb_get_device_address(d), b.address);
    EXPECT_EQ(libusb_get_device_speed(d), b.speed);
    uint8_t ports[7] = {};
    EXPECT_EQ(libusb_get_port_numbers(d, ports, 7), 1);
    EXPECT_EQ(ports[0], b.port);
    EXPECT_EQ(libusb_get_port_numbers(d, ports, 0), LIBUSB_ERROR_OVERFLOW);
    libusb_close(h);
    EXPECT_EQ(libusb_open_device_with_vid_pid(nullptr, kVid, 0x6010), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Buses, DeviceQueries,
                         ::testing::Values(Bus{tapsim::Variant::FullSpeed, 0,
                                               LIBUSB_SPEED_FULL, 1, 2},
                                           Bus{tapsim::Variant::HighSpeed, 0,
                                               LIBUSB_SPEED_HIGH, 1, 2},
                                           Bus{tapsim::Variant::HighSpeed, 2,
                                               LIBUSB_SPEED_HIGH, 3, 4}));

} // namespace
