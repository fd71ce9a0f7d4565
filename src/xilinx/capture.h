// What a Xilinx FPGA's instruction register shows in Capture-IR: INIT and
// DONE, read without changing anything.
#ifndef TAPLINE_XILINX_CAPTURE_H
#define TAPLINE_XILINX_CAPTURE_H

#include "jtag/scan.h"

// Bits 1:0 read 01 on every IEEE 1149.1 device; anything else means no
// device answers where one was expected (TDO stuck, wiring).
enum : unsigned char {
    CAPTURE_FIXED_MASK = 0x03,
    CAPTURE_FIXED = 0x01,
    CAPTURE_INIT = 0x10, // configuration memory cleared, no error (INIT_B)
    CAPTURE_DONE = 0x20, // start-up finished, the design runs
};

// Run-Test/Idle -> the target's capture while code is shifted in ->
// Run-Test/Idle: one write and one read. Returns 0, or -1 after a line on
// standard error, also when the capture's fixed bits are wrong.
int capture_read(struct Jtag *j, const struct ChainPosition *pos, unsigned code,
                 unsigned char *capture);

#endif
