// What the FPGA says about itself over JTAG: its ID code, and the INIT and
// DONE bits that every instruction-register capture carries.
#ifndef TAPLINE_JTAG_STATUS_H
#define TAPLINE_JTAG_STATUS_H

#include <stdint.h>

struct ftdi_context;

// Reset to idle, then the 32-bit ID code register read through buf (Test-
// Logic-Reset has selected it). Leaves the TAP in Shift-DR. Returns 0, or
// -1 after a line on standard error.
int status_read_idcode(struct ftdi_context *ftdi, unsigned char *buf,
                       uint32_t *code);

// The same clocks and read as status_read_idcode, in one write and one
// read: for the tool's own checks, whose writes are not fixed one by one.
int status_read_idcode_batched(struct ftdi_context *ftdi, unsigned char *buf,
                               uint32_t *code);

// False for what no device shifts out as an ID code (bit 0 clear, or all
// ones): a TDO line stuck low or high, or no device at all.
bool status_idcode_possible(uint32_t code);

// 0 for an ID code some device can have; otherwise -1 after "No FPGA
// answers on JTAG" with the code on standard error.
int status_require_device(uint32_t code);

// Same part, whatever the silicon revision (bits 31:28).
bool status_same_part(uint32_t a, uint32_t b);

// After JPROGRAM: polls the IR capture with CFG_IN selected until INIT
// rises (the configuration memory is cleared), for at most a second.
// Returns 0, or -1 after a line on standard error.
int status_wait_init(struct ftdi_context *ftdi, unsigned char *buf);

// Run-Test/Idle -> the instruction register's capture while code is
// shifted in -> Run-Test/Idle. Returns 0, or -1 after a line on standard
// error, also when the capture's fixed bits show no lone 6-bit-IR device.
int status_capture(struct ftdi_context *ftdi, unsigned char code,
                   unsigned char *buf, unsigned char *capture);

// status_confirm_done's result when the device answered but did not start.
enum { STATUS_NOT_STARTED = -2 };

// After start-up, from Run-Test/Idle: DONE set is success. DONE low with
// INIT high gets one longer start-up; INIT low is a configuration error.
// Returns 0; STATUS_NOT_STARTED after a line on standard error when DONE
// stays low; -1 after a line on standard error when a step failed.
int status_confirm_done(struct ftdi_context *ftdi, unsigned char *buf);

#endif
