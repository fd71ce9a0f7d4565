#include "jtag/batch.h"

#include <ftdi.h>
#include <stdio.h>
#include <string.h>

#include "jtag/constants.h"

namespace {

void put(struct JtagBatch *batch, unsigned char byte)
{
    batch->buf[batch->len++] = byte;
}

// A two-byte length operand holds count - 1, low byte first.
void put_length(struct JtagBatch *batch, unsigned count)
{
    put(batch, (unsigned char)((count - 1) & 0xFF));
    put(batch, (unsigned char)(((count - 1) >> 8) & 0xFF));
}

} // namespace

struct JtagBatch jtag_batch_start(unsigned char *buf)
{
    return JtagBatch{buf, 0};
}

void jtag_batch_tms(struct JtagBatch *batch, const char *levels)
{
    // Levels go out from bit 0; bit 7 of the data byte is held on TDI:
    // kept 0, as in every TMS clock.
    unsigned bits = 0;
    unsigned count = 0;
    for (const char *level = levels; *level != '\0' && count < 7; level++) {
        if (*level == '1')
            bits |= 1U << count;
        count++;
    }
    put(batch, MPSSE_TMS_OUT);
    put(batch, (unsigned char)(count - 1));
    put(batch, (unsigned char)bits);
}

void jtag_batch_load_ir(struct JtagBatch *batch, unsigned char code)
{
    jtag_batch_tms(batch, "1100"); // to Shift-IR
    put(batch, MPSSE_BITS_OUT);
    put(batch, 0x04); // five bits; the sixth, 0, goes with Exit1-IR
    put(batch, code);
    jtag_batch_tms(batch, "110"); // Exit1-IR, Update-IR, Run-Test/Idle
}

void jtag_batch_idle(struct JtagBatch *batch, unsigned bytes)
{
    // TDI is ignored outside the Shift states.
    put(batch, MPSSE_BYTES_OUT);
    put_length(batch, bytes);
    memset(batch->buf + batch->len, 0, bytes);
    batch->len += bytes;
}

void jtag_batch_read(struct JtagBatch *batch, unsigned count)
{
    put(batch, MPSSE_BYTES_IO);
    put_length(batch, count);
    memset(batch->buf + batch->len, 0, count);
    batch->len += count;
    put(batch, MPSSE_SEND_IMMEDIATE);
}

int jtag_batch_write(struct ftdi_context *ftdi, struct JtagBatch *batch,
                     const char *what)
{
    int size = (int)batch->len;
    batch->len = 0;
    if (ftdi_write_data(ftdi, batch->buf, size) != size) {
        fprintf(stderr, "Can't %s: write failed\n", what);
        return -1;
    }
    return 0;
}
