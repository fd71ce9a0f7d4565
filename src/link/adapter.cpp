#include "link/adapter.h"

#include <ftdi.h>
#include <stdio.h>

#include "link/adapters.h"
#include "link/queue.h"

namespace {

// Low byte: TMS high, TCK and TDI low; TCK, TDI, TMS outputs. High byte: all
// inputs.
const unsigned char pin_setup[] = {
    MPSSE_SET_LOW,  PIN_TMS, PIN_TCK | PIN_TDI | PIN_TMS,
    MPSSE_SET_HIGH, 0x00,    0x00,
};

enum : unsigned { SETUP_MAX = sizeof pin_setup + 5 };

// Chips with the 60 MHz base clock.
bool high_speed(const struct ftdi_context *ftdi)
{
    return ftdi->type == TYPE_2232H || ftdi->type == TYPE_4232H ||
           ftdi->type == TYPE_232H;
}

// The set-up sequence for the fastest TCK at or below tck_hz: pins, clock,
// no loopback. Stores the rate it gives, rounded up, in *hz. The default
// rate stays on the 12 MHz base on every chip, so its sequence is the same
// everywhere and needs no high-speed opcode.
unsigned setup_sequence(uint32_t tck_hz, bool high_speed_chip,
                        unsigned char *out, uint32_t *hz)
{
    unsigned n = 0;
    for (unsigned char b : pin_setup)
        out[n++] = b;
    const bool fast = high_speed_chip && tck_hz != ADAPTER_DEFAULT_TCK_HZ;
    const uint32_t half_base = (fast ? MPSSE_FAST_BASE_HZ : MPSSE_BASE_HZ) / 2;
    const uint32_t want = tck_hz > 0 ? tck_hz : 1;
    // The smallest 1 + divisor that brings half the base down to the rate.
    uint32_t steps = want >= half_base ? 1 : (half_base + want - 1) / want;
    if (steps > MPSSE_MAX_DIVISOR + 1)
        steps = MPSSE_MAX_DIVISOR + 1;
    *hz = (half_base + steps - 1) / steps;
    if (fast)
        out[n++] = MPSSE_BASE_60MHZ;
    out[n++] = MPSSE_SET_DIVISOR;
    out[n++] = (unsigned char)(steps - 1);
    out[n++] = (unsigned char)((steps - 1) >> 8);
    out[n++] = MPSSE_LOOPBACK_OFF;
    return n;
}

} // namespace

int adapter_open(struct MpsseQueue *q, uint32_t tck_hz, const char *serial)
{
    struct ftdi_context *ftdi = q->ftdi;
    ftdi_init(ftdi);
    if (adapters_open(ftdi, serial) != 0)
        return -1;
    // Channel set-up failures show up in the set-up write below.
    ftdi_usb_reset(ftdi);
    ftdi_set_interface(ftdi, INTERFACE_A);
    ftdi_set_latency_timer(ftdi, ADAPTER_LATENCY_MS);
    ftdi_set_bitmode(ftdi, ADAPTER_BITMODE_MASK, BITMODE_MPSSE);
    // libftdi splits writes into 4 KiB bulk transfers by default, each a
    // USB frame on a full-speed chip: one transfer per write instead.
    ftdi_write_data_set_chunksize(ftdi, ADAPTER_TRANSFER_SIZE);

    unsigned char setup[SETUP_MAX];
    queue_raw(q, setup,
              setup_sequence(tck_hz, high_speed(ftdi), setup, &q->tck_hz));
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

uint32_t adapter_wait_clocks(const struct MpsseQueue *q, uint32_t cycles)
{
    // In kHz, rounded up, so the product stays within 32 bits.
    const uint32_t khz = (q->tck_hz + 999) / 1000;
    const uint32_t default_khz = ADAPTER_DEFAULT_TCK_HZ / 1000;
    const uint32_t scaled = (cycles * khz + default_khz - 1) / default_khz;
    return scaled > cycles ? scaled : cycles;
}
