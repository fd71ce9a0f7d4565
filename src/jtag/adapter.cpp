#include "jtag/adapter.h"

#include <ftdi.h>
#include <stdio.h>

#include "jtag/clock.h"
#include "jtag/constants.h"

namespace {

// Low byte: TMS high, TCK and TDI low; TCK, TDI, TMS outputs. High byte: all
// inputs. Divisor 0: 12 MHz / ((1 + 0) * 2) = 6 MHz TCK. No loopback.
const unsigned char setup_sequence[] = {
    MPSSE_SET_LOW,      PIN_TMS, PIN_TCK | PIN_TDI | PIN_TMS,
    MPSSE_SET_HIGH,     0x00,    0x00,
    MPSSE_SET_DIVISOR,  0x00,    0x00,
    MPSSE_LOOPBACK_OFF,
};

} // namespace

enum AdapterRead adapter_read(struct ftdi_context *ftdi, unsigned char *buf,
                              int count)
{
    int total = 0;
    unsigned long last_progress = clock_ms();
    while (total < count) {
        int got = ftdi_read_data(ftdi, buf + total, count - total);
        if (got < 0)
            return ADAPTER_READ_ERROR;
        if (got > 0) {
            total += got;
            last_progress = clock_ms();
        } else if (clock_ms() - last_progress >=
                   (unsigned long)READ_IDLE_LIMIT_MS) {
            return ADAPTER_READ_TIMEOUT;
        }
    }
    return ADAPTER_READ_OK;
}

int adapter_open(struct ftdi_context *ftdi, unsigned char *buf)
{
    ftdi_init(ftdi);
    if (ftdi_usb_open_desc(ftdi, ADAPTER_VENDOR_ID, ADAPTER_PRODUCT_ID, nullptr,
                           nullptr) < 0) {
        fprintf(stderr, "Can't open device %04x:%04x\n", ADAPTER_VENDOR_ID,
                ADAPTER_PRODUCT_ID);
        return -1;
    }
    // Channel set-up failures show up in the set-up write below.
    ftdi_usb_reset(ftdi);
    ftdi_set_interface(ftdi, INTERFACE_A);
    ftdi_set_latency_timer(ftdi, ADAPTER_LATENCY_MS);
    ftdi_set_bitmode(ftdi, ADAPTER_BITMODE_MASK, BITMODE_MPSSE);
    // libftdi splits writes into 4 KiB bulk transfers by default, each a
    // USB frame on a full-speed chip: one transfer per write instead.
    ftdi_write_data_set_chunksize(ftdi, TRANSFER_BUFFER_SIZE);

    // libftdi takes a non-const buffer but only reads it.
    if (ftdi_write_data(ftdi, const_cast<unsigned char *>(setup_sequence),
                        sizeof setup_sequence) != (int)sizeof setup_sequence) {
        fprintf(stderr, "Can't configure device %04x:%04x\n", ADAPTER_VENDOR_ID,
                ADAPTER_PRODUCT_ID);
        return -1;
    }

    buf[0] = MPSSE_GET_LOW;
    buf[1] = MPSSE_SEND_IMMEDIATE;
    if (ftdi_write_data(ftdi, buf, 2) != 2) {
        fputs("Can't send command to device\n", stderr);
        return -1;
    }
    switch (adapter_read(ftdi, buf, 1)) {
    case ADAPTER_READ_OK:
        break;
    case ADAPTER_READ_ERROR:
        fputs("Can't read pin state from device\n", stderr);
        return -1;
    case ADAPTER_READ_TIMEOUT:
        fputs("No answer from device to pin state request\n", stderr);
        return -1;
    }
    if (!(buf[0] & PIN_VREF)) {
        fputs("Vref not detected. Please power on target board\n", stderr);
        return -1;
    }
    return 0;
}

void adapter_release(struct ftdi_context *ftdi)
{
    ftdi_usb_reset(ftdi);
    ftdi_usb_close(ftdi);
    ftdi_deinit(ftdi);
}
