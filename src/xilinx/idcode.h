// The device's ID code: reading it, and what a code read can mean.
#ifndef TAPLINE_XILINX_IDCODE_H
#define TAPLINE_XILINX_IDCODE_H

#include <stdint.h>

#include "jtag/scan.h"

// Reset to idle in single writes, then the 32-bit ID code register read
// through jtag_read_dr into buf (Test-Logic-Reset has selected it). Leaves
// the TAP in Shift-DR. Returns 0, or -1 after a line on standard error.
int idcode_read(struct Jtag *j, unsigned char *buf, uint32_t *code);

// False for what no device shifts out as an ID code (bit 0 clear, or all
// ones): a TDO line stuck low or high, or no device at all.
bool idcode_possible(uint32_t code);

// "No FPGA answers on JTAG" with the code read, on standard error.
void idcode_report_absent(uint32_t code);

// 0 for an ID code some device can have; otherwise -1 after
// idcode_report_absent.
int idcode_require_device(uint32_t code);

// Same part, whatever the silicon revision (bits 31:28).
bool idcode_same_part(uint32_t a, uint32_t b);

#endif
