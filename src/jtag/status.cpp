#include "jtag/status.h"

#include <stdio.h>

#include "jtag/batch.h"
#include "jtag/clock.h"
#include "jtag/constants.h"
#include "jtag/tap.h"

namespace {

// A capture whose fixed bits are wrong says nothing about INIT or DONE.
int capture_checked(struct ftdi_context *ftdi, unsigned char code,
                    unsigned char *buf, unsigned char *capture)
{
    if (jtag_capture_ir(ftdi, code, buf, capture) != 0)
        return -1;
    if ((*capture & CAPTURE_FIXED_MASK) != CAPTURE_FIXED) {
        fprintf(stderr,
                "No valid IR capture (%02x): is the FPGA alone on the JTAG "
                "chain?\n",
                *capture);
        return -1;
    }
    return 0;
}

// JSTART again with 2,000 start-up clocks, then back through reset: one
// write.
int restart_longer(struct ftdi_context *ftdi, unsigned char *buf)
{
    JtagBatch batch = jtag_batch_start(buf);
    jtag_batch_load_ir(&batch, INSN_JSTART);
    jtag_batch_idle(&batch, STARTUP_RETRY_BYTES);
    jtag_batch_tms(&batch, "111110"); // reset, Run-Test/Idle
    return jtag_batch_write(ftdi, &batch, "clock start-up cycles");
}

uint32_t little_endian_word(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
           (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

} // namespace

int status_read_idcode(struct ftdi_context *ftdi, unsigned char *buf,
                       uint32_t *code)
{
    int result = jtag_reset_to_idle(ftdi);
    if (jtag_read_dr(ftdi, nullptr, buf, 4) != 0 || result != 0)
        return -1;
    // The register arrives least significant byte first.
    *code = little_endian_word(buf);
    return 0;
}

int status_read_idcode_batched(struct ftdi_context *ftdi, unsigned char *buf,
                               uint32_t *code)
{
    JtagBatch batch = jtag_batch_start(buf);
    jtag_batch_tms(&batch, "111110"); // reset, Run-Test/Idle
    jtag_batch_tms(&batch, "100");    // to Shift-DR
    jtag_batch_read(&batch, 4);
    if (jtag_batch_write(ftdi, &batch, "read the ID code") != 0 ||
        jtag_read_answer(ftdi, buf, 4) != 0)
        return -1;
    *code = little_endian_word(buf);
    return 0;
}

bool status_idcode_possible(uint32_t code)
{
    return (code & 1U) != 0 && code != 0xFFFFFFFFU;
}

int status_require_device(uint32_t code)
{
    if (status_idcode_possible(code))
        return 0;
    fprintf(stderr, "No FPGA answers on JTAG (ID code %08lx)\n",
            (unsigned long)code);
    return -1;
}

bool status_same_part(uint32_t a, uint32_t b)
{
    return ((a ^ b) & 0x0FFFFFFFU) == 0;
}

int status_wait_init(struct ftdi_context *ftdi, unsigned char *buf)
{
    // CFG_IN, not BYPASS: BYPASS would hand the device back to its own
    // configuration source (its flash), which then races with JTAG.
    unsigned long start = clock_ms();
    for (;;) {
        unsigned char capture = 0;
        if (capture_checked(ftdi, INSN_CFG_IN, buf, &capture) != 0)
            return -1;
        if (capture & CAPTURE_INIT)
            return 0;
        if (clock_ms() - start >= (unsigned long)INIT_WAIT_LIMIT_MS) {
            fprintf(stderr,
                    "FPGA did not clear its configuration (IR capture %02x)\n",
                    capture);
            return -1;
        }
    }
}

int status_confirm_done(struct ftdi_context *ftdi, unsigned char *buf)
{
    // IDCODE is what Test-Logic-Reset selected already: capturing with it
    // changes nothing on the device.
    unsigned char capture = 0;
    if (capture_checked(ftdi, INSN_IDCODE, buf, &capture) != 0)
        return -1;
    if (capture & CAPTURE_DONE)
        return 0;
    if (capture & CAPTURE_INIT) {
        if (restart_longer(ftdi, buf) != 0)
            return -1;
        if (capture_checked(ftdi, INSN_IDCODE, buf, &capture) != 0)
            return -1;
        if (capture & CAPTURE_DONE)
            return 0;
    }
    fprintf(stderr, "FPGA did not start: DONE low, INIT %s (IR capture %02x)\n",
            (capture & CAPTURE_INIT) ? "high" : "low (CRC or ID code error)",
            capture);
    return STATUS_NOT_STARTED;
}

int status_capture(struct ftdi_context *ftdi, unsigned char code,
                   unsigned char *buf, unsigned char *capture)
{
    return capture_checked(ftdi, code, buf, capture);
}
