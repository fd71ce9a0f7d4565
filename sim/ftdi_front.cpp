// The libftdi 0.20 calls the tool and the tests make, straight over the
// simulated chip. For cross builds only: no libftdi is packaged for the
// MIPS target, so there the real one cannot run over libusb_front.cpp.
// Host builds never compile this file; they test the real library.
//
// Kept to what callers can observe of libftdi 0.20: the same control
// requests, 4096-byte bulk writes whose results add up, 4096-byte bulk
// reads with the status bytes of every packet stripped and the surplus
// kept, the open/close pattern of ftdi_usb_open_desc, and its return codes.
// Linked statically into in-process tests, and built as libftdi.so.1 for
// the whole-program tests under qemu.

#include <ftdi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "world.h"

using tapsim::Device;
using tapsim::World;

// What ftdi_context::usb_dev points at. The device is looked up on every
// call, so a handle that outlived its bench (tapsim::reset()) fails with
// -ENODEV instead of reaching the new one.
struct usb_dev_handle {
    uint64_t generation;
    size_t index;
    uint8_t claimed; // interface bits
};

namespace {

constexpr unsigned kChunkSize = 4096; // libftdi's read and write chunks
constexpr uint8_t kOutType = FTDI_DEVICE_OUT_REQTYPE;
constexpr uint8_t kInType = FTDI_DEVICE_IN_REQTYPE;

// libftdi's ftdi_error_return: the message stays with the context.
int fail(ftdi_context *ftdi, int code, const char *message)
{
    ftdi->error_str = const_cast<char *>(message);
    return code;
}

template <typename F> int guarded(F &&body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

Device *device_of(World &w, const usb_dev_handle *h)
{
    if (!h || h->generation != w.generation() || h->index >= w.devices().size())
        return nullptr;
    return &w.devices()[h->index];
}

// usb_open and usb_close as the record counts them. Call with the lock held.
usb_dev_handle *open_handle(World &w, size_t index)
{
    w.record().devices[index].opened++;
    return new usb_dev_handle{w.generation(), index, 0};
}

void close_handle(World &w, usb_dev_handle *h)
{
    if (Device *d = device_of(w, h)) {
        d->claimed = static_cast<uint8_t>(d->claimed & ~h->claimed);
        w.record().devices[h->index].closed++;
    }
    delete h;
}

void close_internal_locked(World &w, ftdi_context *ftdi)
{
    if (!ftdi->usb_dev)
        return;
    close_handle(w, ftdi->usb_dev);
    ftdi->usb_dev = nullptr;
}

void close_internal(ftdi_context *ftdi)
{
    if (!ftdi->usb_dev)
        return;
    auto guard = World::lock();
    close_internal_locked(World::get(), ftdi);
}

// A vendor request to the context's channel, as libftdi sends them. Call
// with the lock held.
int control_locked(World &w, ftdi_context *ftdi, uint8_t request,
                   uint16_t value, uint16_t index, uint8_t type = kOutType,
                   uint8_t *data = nullptr, uint16_t length = 0)
{
    Device *d = device_of(w, ftdi->usb_dev);
    return d ? d->chip->control(type, request, value, index, data, length)
             : -ENODEV;
}

int control(ftdi_context *ftdi, uint8_t request, uint16_t value,
            uint8_t type = kOutType, uint8_t *data = nullptr,
            uint16_t length = 0)
{
    return guarded([&] {
        auto guard = World::lock();
        return control_locked(World::get(), ftdi, request, value,
                              static_cast<uint16_t>(ftdi->index), type, data,
                              length);
    });
}

// Channel behind a bulk endpoint: OUT 0x02/0x04 and IN 0x81/0x83 are A/B.
int channel_of(int ep, bool in)
{
    const int a = in ? 0x81 : 0x02, b = in ? 0x83 : 0x04;
    return ep == a ? 0 : ep == b ? 1 : -1;
}

int bulk(ftdi_context *ftdi, bool in, unsigned char *buf, size_t n)
{
    return guarded([&] {
        auto guard = World::lock();
        Device *d = device_of(World::get(), ftdi->usb_dev);
        if (!d)
            return -ENODEV;
        // libftdi writes to in_ep and reads from out_ep (the chip's view).
        const int channel = channel_of(in ? ftdi->out_ep : ftdi->in_ep, in);
        if (channel < 0)
            return -EINVAL;
        return in ? d->chip->bulk_read(channel, buf, n)
                  : d->chip->bulk_write(channel, buf, n);
    });
}

// Drops the two status bytes at the start of every packet; returns the
// payload length, moved to the front of buf.
unsigned strip_status(unsigned char *buf, unsigned n, unsigned packet)
{
    unsigned out = 0;
    for (unsigned at = 0; at < n; at += packet) {
        const unsigned len = n - at < packet ? n - at : packet;
        if (len <= 2)
            break;
        std::memmove(buf + out, buf + at + 2, len - 2);
        out += len - 2;
    }
    return out;
}

// libftdi 0.20's chip types by bcdDevice.
ftdi_chip_type chip_type(uint16_t bcd)
{
    switch (bcd) {
    case 0x200:
        return TYPE_AM;
    case 0x500:
        return TYPE_2232C;
    case 0x600:
        return TYPE_R;
    case 0x700:
        return TYPE_2232H;
    case 0x800:
        return TYPE_4232H;
    default:
        return TYPE_BM;
    }
}

// 9600 Bd, the rate libftdi sets on open, as 0.20 encodes it on every
// chip: 3 MHz / 312.5, whole part 312 and the half coded 1 in bits 14-15.
// wIndex carries bits 16-23 of the code over the channel index.
constexpr uint32_t kBaud9600Code = 312 | (1u << 14);

// ftdi_usb_open_dev: open, claim, chip reset, chip type, channel A on
// dual-channel chips, packet size, 9600 Bd. Call with the lock held.
int open_dev(ftdi_context *ftdi, World &w, size_t index)
{
    ftdi->usb_dev = open_handle(w, index);
    Device &d = w.devices()[index];
    const uint8_t bit = static_cast<uint8_t>(1u << ftdi->interface);
    if (ftdi->interface > 1 || (d.claimed & bit)) {
        close_internal_locked(w, ftdi);
        return fail(ftdi, -5,
                    "unable to claim usb device. Make sure the default FTDI "
                    "driver is not in use");
    }
    d.claimed |= bit;
    ftdi->usb_dev->claimed = bit;
    // Before the channel index is known: wIndex 0.
    if (control_locked(w, ftdi, SIO_RESET_REQUEST, SIO_RESET_SIO,
                       static_cast<uint16_t>(ftdi->index)) < 0) {
        close_internal_locked(w, ftdi);
        return fail(ftdi, -6, "ftdi_usb_reset failed");
    }
    ftdi->readbuffer_offset = ftdi->readbuffer_remaining = 0;
    ftdi->type = chip_type(d.info.bcd_device);
    if ((ftdi->type == TYPE_2232C || ftdi->type == TYPE_2232H ||
         ftdi->type == TYPE_4232H) &&
        !ftdi->index)
        ftdi->index = INTERFACE_A;
    ftdi->max_packet_size =
        d.info.packet_size; // wMaxPacketSize of the first endpoint
    const uint16_t baud_index =
        static_cast<uint16_t>(((kBaud9600Code >> 8) & 0xFF00) | ftdi->index);
    if (control_locked(w, ftdi, SIO_SET_BAUDRATE_REQUEST,
                       kBaud9600Code & 0xFFFF, baud_index) != 0) {
        close_internal_locked(w, ftdi);
        return fail(ftdi, -7, "set baudrate failed");
    }
    ftdi->baudrate = 9600;
    return fail(ftdi, 0, "all fine");
}

} // namespace

extern "C" {

int ftdi_init(struct ftdi_context *ftdi)
{
    std::memset(ftdi, 0, sizeof *ftdi);
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->type = TYPE_BM;
    ftdi->baudrate = -1;
    ftdi->writebuffer_chunksize = kChunkSize;
    ftdi->in_ep = 0x02;
    ftdi->out_ep = 0x81;
    ftdi->bitbang_mode = 1;
    ftdi->eeprom_size = FTDI_DEFAULT_EEPROM_SIZE;
    ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;
    ftdi->readbuffer = static_cast<unsigned char *>(std::malloc(kChunkSize));
    if (!ftdi->readbuffer)
        return fail(ftdi, -1, "out of memory for readbuffer");
    ftdi->readbuffer_chunksize = kChunkSize;
    return 0;
}

void ftdi_deinit(struct ftdi_context *ftdi)
{
    if (!ftdi)
        return;
    close_internal(ftdi);
    std::free(ftdi->readbuffer);
    ftdi->readbuffer = nullptr;
}

int ftdi_set_interface(struct ftdi_context *ftdi, enum ftdi_interface interface)
{
    if (!ftdi)
        return -2;
    // interface number, wIndex, OUT and IN endpoint of channels B, C, D.
    static const int kChannels[3][4] = {
        {1, 2, 0x04, 0x83}, {2, 3, 0x06, 0x85}, {3, 4, 0x08, 0x87}};
    if (interface == INTERFACE_ANY || interface == INTERFACE_A)
        return 0; // the open picks A
    if (interface < INTERFACE_B || interface > INTERFACE_D)
        return fail(ftdi, -1, "Unknown interface");
    const int *c = kChannels[interface - INTERFACE_B];
    ftdi->interface = c[0];
    ftdi->index = c[1];
    ftdi->in_ep = c[2];
    ftdi->out_ep = c[3];
    return 0;
}

int ftdi_usb_open_desc(struct ftdi_context *ftdi, int vendor, int product,
                       const char *description, const char *serial)
{
    if (!ftdi)
        return -11;
    // The tool matches on the USB ID alone; this front has no strings.
    if (description || serial)
        return fail(ftdi, -3, "device not found (no string matching here)");
    const int r = guarded([&] {
        auto guard = World::lock();
        World &w = World::get();
        for (size_t i = 0; i < w.devices().size(); ++i) {
            const tapsim::ChipInfo &info = w.devices()[i].info;
            if (info.vid != vendor || info.pid != product)
                continue;
            // libftdi opens a candidate and closes it again before the real
            // open.
            close_handle(w, open_handle(w, i));
            return open_dev(ftdi, w, i);
        }
        return fail(ftdi, -3, "device not found");
    });
    return r == -ENOMEM ? fail(ftdi, -4, "usb_open() failed") : r;
}

int ftdi_usb_open(struct ftdi_context *ftdi, int vendor, int product)
{
    return ftdi_usb_open_desc(ftdi, vendor, product, nullptr, nullptr);
}

int ftdi_usb_close(struct ftdi_context *ftdi)
{
    if (!ftdi)
        return -3;
    close_internal(ftdi); // releases the interface as well
    return 0;
}

int ftdi_usb_reset(struct ftdi_context *ftdi)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -2, "USB device unavailable") : -2;
    if (control(ftdi, SIO_RESET_REQUEST, SIO_RESET_SIO) < 0)
        return fail(ftdi, -1, "FTDI reset failed");
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return 0;
}

int ftdi_usb_purge_rx_buffer(struct ftdi_context *ftdi)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -2, "USB device unavailable") : -2;
    if (control(ftdi, SIO_RESET_REQUEST, SIO_RESET_PURGE_RX) < 0)
        return fail(ftdi, -1, "FTDI purge of RX buffer failed");
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return 0;
}

int ftdi_usb_purge_tx_buffer(struct ftdi_context *ftdi)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -2, "USB device unavailable") : -2;
    if (control(ftdi, SIO_RESET_REQUEST, SIO_RESET_PURGE_TX) < 0)
        return fail(ftdi, -1, "FTDI purge of TX buffer failed");
    return 0;
}

int ftdi_usb_purge_buffers(struct ftdi_context *ftdi)
{
    if (ftdi_usb_purge_rx_buffer(ftdi) < 0)
        return -1;
    if (ftdi_usb_purge_tx_buffer(ftdi) < 0)
        return -2;
    return 0;
}

int ftdi_set_latency_timer(struct ftdi_context *ftdi, unsigned char latency)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -3, "USB device unavailable") : -3;
    if (latency < 1)
        return fail(ftdi, -1, "latency out of range. Only valid for 1-255");
    if (control(ftdi, SIO_SET_LATENCY_TIMER_REQUEST, latency) < 0)
        return fail(ftdi, -2, "unable to set latency timer");
    return 0;
}

int ftdi_get_latency_timer(struct ftdi_context *ftdi, unsigned char *latency)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -2, "USB device unavailable") : -2;
    uint8_t value = 0;
    if (control(ftdi, SIO_GET_LATENCY_TIMER_REQUEST, 0, kInType, &value, 1) !=
        1)
        return fail(ftdi, -1, "reading latency timer failed");
    *latency = value;
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context *ftdi, unsigned char bitmask,
                     unsigned char mode)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -2, "USB device unavailable") : -2;
    if (control(ftdi, SIO_SET_BITMODE_REQUEST,
                static_cast<uint16_t>(mode << 8 | bitmask)) != 0)
        return fail(
            ftdi, -1,
            "unable to configure bitbang mode. Perhaps not a 2232C type chip?");
    ftdi->bitbang_mode = mode;
    ftdi->bitbang_enabled = mode == BITMODE_RESET ? 0 : 1;
    return 0;
}

int ftdi_write_data(struct ftdi_context *ftdi, unsigned char *buf, int size)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -666, "USB device unavailable") : -666;
    // A short chunk does not stop the loop: the bytes it left are lost.
    int total = 0;
    for (int offset = 0; offset < size;
         offset += static_cast<int>(ftdi->writebuffer_chunksize)) {
        const int n =
            size - offset < static_cast<int>(ftdi->writebuffer_chunksize)
                ? size - offset
                : static_cast<int>(ftdi->writebuffer_chunksize);
        const int r = bulk(ftdi, false, buf + offset, static_cast<size_t>(n));
        if (r < 0)
            return fail(ftdi, r, "usb bulk write failed");
        total += r;
    }
    return total;
}

int ftdi_read_data(struct ftdi_context *ftdi, unsigned char *buf, int size)
{
    if (!ftdi || !ftdi->usb_dev)
        return ftdi ? fail(ftdi, -666, "USB device unavailable") : -666;
    if (ftdi->max_packet_size == 0)
        return fail(ftdi, -1, "max_packet_size is bogus (zero)");
    if (size <= 0)
        return 0;
    const unsigned want = static_cast<unsigned>(size);
    unsigned char *rb = ftdi->readbuffer;
    if (want <= ftdi->readbuffer_remaining) {
        std::memcpy(buf, rb + ftdi->readbuffer_offset, want);
        ftdi->readbuffer_offset += want;
        ftdi->readbuffer_remaining -= want;
        return size;
    }
    // The surplus of the last call first; it is gone even if a read fails.
    unsigned got = ftdi->readbuffer_remaining;
    std::memcpy(buf, rb + ftdi->readbuffer_offset, got);
    ftdi->readbuffer_offset = ftdi->readbuffer_remaining = 0;
    while (got < want) {
        const int r = bulk(ftdi, true, rb, ftdi->readbuffer_chunksize);
        if (r < 0)
            return fail(ftdi, r, "usb bulk read failed");
        const unsigned n =
            strip_status(rb, static_cast<unsigned>(r), ftdi->max_packet_size);
        if (n == 0)
            break; // only status bytes: nothing more for now
        const unsigned take = n < want - got ? n : want - got;
        std::memcpy(buf + got, rb, take);
        got += take;
        ftdi->readbuffer_offset = take;
        ftdi->readbuffer_remaining = n - take;
    }
    return static_cast<int>(got);
}

char *ftdi_get_error_string(struct ftdi_context *ftdi)
{
    return ftdi->error_str;
}

} // extern "C"
