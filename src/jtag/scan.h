// Instruction and data scans addressed to one device of the chain. The
// other devices get BYPASS (all ones) in the same Shift-IR, and data scans
// carry one bit per bypassed device on each side: reads skip the bits of
// the devices nearer TDO, writes are pushed through the devices nearer
// TDI. A lone device is the position with nothing on either side.
#ifndef TAPLINE_JTAG_SCAN_H
#define TAPLINE_JTAG_SCAN_H

#include <stdint.h>

#include "jtag/tap.h"

// Longest instruction chain a scan handles.
enum : unsigned { SCAN_MAX_IR_BITS = 512 };

struct ChainPosition {
    unsigned ir_length;          // the target's instruction register
    unsigned ir_nearer_tdi;      // instruction bits of the devices before it
    unsigned ir_nearer_tdo;      // and after it
    unsigned devices_nearer_tdi; // bypass bits before it in a data scan
    unsigned devices_nearer_tdo; // and after it
};

// A lone 6-bit-IR device.
extern const struct ChainPosition chain_lone_fpga;

// From the current Shift state: shifts nbits of out (zeros when null),
// least significant first, reading into in when it is not null. When end
// is another state, the last bit goes with the TMS clock out of the Shift
// state, and the path on to end follows in the same command (a last bit
// that is read gets its clock alone, then the path). Appends to the queue.
void jtag_shift(struct Jtag *j, const unsigned char *out, unsigned char *in,
                uint32_t nbits, enum JtagState end);

// To Shift-IR, the target's code with BYPASS around it, then on to end.
// The target's capture lands in capture when it is not null. Appends to
// the queue.
void scan_ir(struct Jtag *j, const struct ChainPosition *pos, unsigned code,
             enum JtagState end, unsigned char *capture);

// To Shift-DR, nbits to and from the target's data register, then on to
// end (Shift-DR: stay there). Appends to the queue.
void scan_dr(struct Jtag *j, const struct ChainPosition *pos,
             const unsigned char *out, unsigned char *in, uint32_t nbits,
             enum JtagState end);

// Run-Test/Idle -> Shift-IR -> the code -> Run-Test/Idle, every TMS clock a
// write of its own and the instruction bits one write. Always runs the
// whole sequence; returns -1 if any write failed, after "Write loop
// failed" for the bits or a line on standard error for a TMS clock.
int jtag_load_ir(struct Jtag *j, const struct ChainPosition *pos,
                 unsigned code);

// Run-Test/Idle -> Shift-DR in single writes, then count bytes through the
// target's data register, sending out (zeros when null) and storing what
// comes back in in, in one write and one read. Leaves the TAP in Shift-DR.
// count must be 1..65535. Returns 0, or -1 after a line on standard error.
int jtag_read_dr(struct Jtag *j, const struct ChainPosition *pos,
                 const unsigned char *out, unsigned char *in, int count);

#endif
