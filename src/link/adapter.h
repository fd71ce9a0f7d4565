// The USB JTAG adapter: its identity and pin map, opening, configuring,
// probing the target's power and releasing it.
#ifndef TAPLINE_LINK_ADAPTER_H
#define TAPLINE_LINK_ADAPTER_H

#include <stdint.h>

struct MpsseQueue;

// The adapter's USB identity. Several alike on one host are told apart by
// their serial numbers (adapters.h).
enum : int {
    ADAPTER_VENDOR_ID = 0x2A5E,
    ADAPTER_PRODUCT_ID = 0x0C41,
};

// Channel settings for interface A.
enum : unsigned char {
    ADAPTER_LATENCY_MS = 2,
    // ADBUS bits 0, 1, 3 (TCK, TDI, TMS) are outputs; mpsse mode takes the
    // mask as given and the set-up command fixes the real directions.
    ADAPTER_BITMODE_MASK = 0xFB,
};

// ADBUS pin map of the adapter.
enum : unsigned char {
    PIN_TCK = 0x01,
    PIN_TDI = 0x02,
    PIN_TDO = 0x04,
    PIN_TMS = 0x08,
    PIN_VREF = 0x10, // target reference-voltage sense, high when powered
};

// The largest bulk transfer libftdi makes of one write: a bitstream chunk
// (a 3-byte header and 65,532 data bytes) goes out as one.
enum : unsigned { ADAPTER_TRANSFER_SIZE = 65535 };

// TCK rates in Hz. The default is the 12 MHz base with divisor 0, which
// every chip runs and the clock counts of fixed waits were chosen for;
// high-speed chips go up to 30 MHz on their 60 MHz base.
enum : uint32_t {
    ADAPTER_DEFAULT_TCK_HZ = 6000000,
    ADAPTER_MAX_TCK_HZ = 30000000,
};

// Opens the adapter on the queue's context (the one with that serial
// number; null: the only one on the bus), puts channel A into MPSSE
// mode with the JTAG pin directions and TCK at the fastest rate the chip
// has at or below tck_hz (a full-speed chip: at most 6 MHz), and checks
// that the target is powered. Sets q->tck_hz to the rate set. Returns 0,
// or -1 after printing why on standard error; the context then holds
// nothing to release.
int adapter_open(struct MpsseQueue *q, uint32_t tck_hz, const char *serial);

// TCK cycles at the rate adapter_open set lasting at least as long as
// cycles at the default rate, and never fewer than cycles: start-up steps
// count clocks, not time. cycles at most 100,000.
uint32_t adapter_wait_clocks(const struct MpsseQueue *q, uint32_t cycles);

// Resets, closes and tears the context down. Only after adapter_open
// succeeded.
void adapter_release(struct MpsseQueue *q);

#endif
