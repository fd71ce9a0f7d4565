// Detecting the JTAG chain without knowing its devices, in one write and
// one read: the ID codes after Test-Logic-Reset (a leading 0 bit marks a
// device without one), the total instruction length and every device's
// capture (ones pushed through the instruction registers behind a 0
// marker), and the device count with every device in BYPASS. It loads no
// instruction but BYPASS, and leaves IDCODE selected.
#ifndef TAPLINE_JTAG_CHAIN_H
#define TAPLINE_JTAG_CHAIN_H

#include <stdint.h>

#include "jtag/tap.h"

enum : unsigned {
    CHAIN_MAX_DEVICES = 32,
    CHAIN_MAX_IR_BITS = 512,
};

struct ChainScan {
    unsigned count;                      // devices the ID read found
    uint32_t idcodes[CHAIN_MAX_DEVICES]; // nearest TDI first; 0: none
    unsigned ir_total;                   // instruction bits in all
    unsigned char ir_capture[CHAIN_MAX_IR_BITS / 8]; // nearest TDO first
    unsigned bypass_count; // devices the BYPASS read found
    uint32_t first_word;   // the first 32 bits out after reset
};

enum ChainScanResult {
    CHAIN_SCAN_OK = 0,
    CHAIN_SCAN_FAILED = -1,   // a transfer failed; reported
    CHAIN_SCAN_NOTHING = -2,  // no device answers: TDO stuck or unwired
    CHAIN_SCAN_TOO_LONG = -3, // past the device or instruction-bit limits
    CHAIN_SCAN_MISMATCH = -4, // the ID read and BYPASS disagree on the count
};

// Reads the chain into scan. Transfer failures are reported (one line on
// standard error); the other results are the caller's to word.
enum ChainScanResult chain_scan(struct Jtag *j, struct ChainScan *scan);

// Bit i of the instruction capture as it was shifted out.
int chain_capture_bit(const struct ChainScan *scan, unsigned i);

#endif
