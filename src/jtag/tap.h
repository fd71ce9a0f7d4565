// TAP controller operations built from MPSSE commands. The tool never reads
// the TAP state back: each operation states where it expects the TAP and
// where it leaves it.
#ifndef TAPLINE_JTAG_TAP_H
#define TAPLINE_JTAG_TAP_H

struct ftdi_context;

// One TCK cycle with TMS at level (non-zero is high), TDI low, as a write of
// its own. Returns 0 when the whole command went out, -1 otherwise; silent.
int jtag_clock_tms(struct ftdi_context *ftdi, int level);

// Clocks each level with jtag_clock_tms, every one even after a failure.
// Returns -1 if any write failed; silent.
int jtag_clock_tms_sequence(struct ftdi_context *ftdi, const int *levels,
                            int n);

// The same over a whole array of levels.
template <int N>
int jtag_clock_tms_sequence(struct ftdi_context *ftdi, const int (&levels)[N])
{
    return jtag_clock_tms_sequence(ftdi, levels, N);
}

// Any state -> Test-Logic-Reset -> Run-Test/Idle. Always clocks all six
// cycles; returns -1 (after one line on standard error) if any write failed.
int jtag_reset_to_idle(struct ftdi_context *ftdi);

// Run-Test/Idle -> Select-DR-Scan -> Capture-DR -> Shift-DR, three clocks.
// Returns -1 (after one line on standard error) if any write failed.
int jtag_enter_shift_dr(struct ftdi_context *ftdi);

// Run-Test/Idle -> shifts code bits 0..4 and a sixth bit 0 into the
// instruction register -> Run-Test/Idle. Always runs the whole sequence;
// returns -1 if any write failed.
int jtag_load_ir(struct ftdi_context *ftdi, unsigned char code);

// Run-Test/Idle -> Shift-DR; shifts count bytes through the selected data
// register, sending out (zeros when null) and storing what comes back in in.
// Leaves the TAP in Shift-DR. count must be 1..65535. Returns 0 or -1.
int jtag_read_dr(struct ftdi_context *ftdi, const unsigned char *out,
                 unsigned char *in, int count);

// Reads the count answer bytes of a command just written. Returns 0, or -1
// after one line on standard error.
int jtag_read_answer(struct ftdi_context *ftdi, unsigned char *in, int count);

// Run-Test/Idle -> Shift-IR, shifting code (sixth bit 0) while reading what
// the instruction register captured -> Run-Test/Idle. One 13-byte write and
// a 2-byte read through buf (the transfer buffer). Stores the 6-bit capture.
// Returns 0, or -1 after one line on standard error.
int jtag_capture_ir(struct ftdi_context *ftdi, unsigned char code,
                    unsigned char *buf, unsigned char *capture);

#endif
