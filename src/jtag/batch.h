// Several TAP moves built into one write. The tool's own checks (not the
// load's specified steps) go out this way: on a full-speed adapter each
// write costs a USB frame, so ten single-clock writes cost ten frames where
// one does the same work.
#ifndef TAPLINE_JTAG_BATCH_H
#define TAPLINE_JTAG_BATCH_H

struct ftdi_context;

// Commands collect in buf (the transfer buffer) from its start; len bytes so
// far. The callers build a few dozen bytes, far below its size.
struct JtagBatch {
    unsigned char *buf;
    unsigned len;
};

// An empty batch building in buf.
struct JtagBatch jtag_batch_start(unsigned char *buf);

// One TMS clock per character of levels ('1' high, '0' low; 1 to 7 of
// them), in order, TDI low.
void jtag_batch_tms(struct JtagBatch *batch, const char *levels);

// Run-Test/Idle -> shifts code bits 0..4 and a sixth bit 0 into the
// instruction register -> Run-Test/Idle: the clocks of jtag_load_ir.
void jtag_batch_load_ir(struct JtagBatch *batch, unsigned char code);

// 8 * bytes TCK cycles (1..250) with TMS low: Run-Test/Idle stays there.
void jtag_batch_idle(struct JtagBatch *batch, unsigned bytes);

// In Shift-DR: count (1..256) zero bytes out while count bytes are read,
// then send immediate so the answer comes without the latency timer.
void jtag_batch_read(struct JtagBatch *batch, unsigned count);

// One write of everything built. Returns 0, or -1 after what (one line) on
// standard error.
int jtag_batch_write(struct ftdi_context *ftdi, struct JtagBatch *batch,
                     const char *what);

#endif
