#include "link/adapter.h"

#include <ftdi.h>
#include <stdio.h>

#include "link/queue.h"

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

int adapter_open(struct MpsseQueue *q)
{
    struct ftdi_context *ftdi = q->ftdi;
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
    ftdi_write_data_set_chunksize(ftdi, ADAPTER_TRANSFER_SIZE);

    queue_raw(q, setup_sequence, sizeof setup_sequence);
    enum QueueResult r = queue_send(q);
    if (r != QUEUE_OK) {
        queue_report(STEP_CONFIGURE_ADAPTER, r, 0);
        return -1;
    }
    unsigned char pins = 0;
    queue_read_pins(q, &pins);
    queue_answer_now(q);
    r = queue_run(q);
    if (r != QUEUE_OK) {
        queue_report(STEP_PROBE_POWER, r, 0);
        return -1;
    }
    if (!(pins & PIN_VREF)) {
        fputs("Vref not detected. Please power on target board\n", stderr);
        return -1;
    }
    return 0;
}

void adapter_release(struct MpsseQueue *q)
{
    ftdi_usb_reset(q->ftdi);
    ftdi_usb_close(q->ftdi);
    ftdi_deinit(q->ftdi);
}
