#include "jtag/tap.h"

#include <ftdi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "jtag/adapter.h"
#include "jtag/constants.h"

namespace {

// Frees the read command however jtag_read_dr leaves.
struct CommandBuffer {
    unsigned char *bytes;
    CommandBuffer(const CommandBuffer &) = delete;
    CommandBuffer &operator=(const CommandBuffer &) = delete;
    ~CommandBuffer() { free(bytes); }
};

} // namespace

int jtag_read_answer(struct ftdi_context *ftdi, unsigned char *in, int count)
{
    switch (adapter_read(ftdi, in, count)) {
    case ADAPTER_READ_OK:
        return 0;
    case ADAPTER_READ_ERROR:
        fputs("Ftdi read failed\n", stderr);
        return -1;
    case ADAPTER_READ_TIMEOUT:
        fputs("Ftdi read timed out\n", stderr);
        return -1;
    }
    return -1;
}

int jtag_clock_tms(struct ftdi_context *ftdi, int level)
{
    // Bit 7 of the data byte is 0, so TDI stays low.
    unsigned char cmd[3] = {MPSSE_TMS_OUT, 0x00,
                            (unsigned char)(level ? 0x01 : 0x00)};
    return ftdi_write_data(ftdi, cmd, sizeof cmd) == (int)sizeof cmd ? 0 : -1;
}

int jtag_clock_tms_sequence(struct ftdi_context *ftdi, const int *levels, int n)
{
    int result = 0;
    for (int i = 0; i < n; i++) {
        if (jtag_clock_tms(ftdi, levels[i]) != 0)
            result = -1;
    }
    return result;
}

int jtag_reset_to_idle(struct ftdi_context *ftdi)
{
    // Five TMS-high clocks reach Test-Logic-Reset from any state.
    static const int levels[] = {1, 1, 1, 1, 1, 0};
    if (jtag_clock_tms_sequence(ftdi, levels) != 0) {
        fputs("Can't reset TAP: write failed\n", stderr);
        return -1;
    }
    return 0;
}

int jtag_load_ir(struct ftdi_context *ftdi, unsigned char code)
{
    // Run-Test/Idle -> Select-DR-Scan -> Select-IR-Scan -> Capture-IR ->
    // Shift-IR.
    static const int to_shift_ir[] = {1, 1, 0, 0};
    // Exit1-IR (shifts the sixth bit, 0) -> Update-IR -> Run-Test/Idle.
    static const int to_idle[] = {1, 1, 0};

    int tms_result = jtag_clock_tms_sequence(ftdi, to_shift_ir);
    int result = 0;
    unsigned char cmd[3] = {MPSSE_BITS_OUT, 0x04, code};
    if (ftdi_write_data(ftdi, cmd, sizeof cmd) < (int)sizeof cmd) {
        puts("Write loop failed");
        result = -1;
    }
    if (jtag_clock_tms_sequence(ftdi, to_idle) != 0)
        tms_result = -1;
    if (tms_result != 0) {
        fprintf(stderr, "Can't load instruction 0x%02x: write failed\n", code);
        result = -1;
    }
    return result;
}

int jtag_enter_shift_dr(struct ftdi_context *ftdi)
{
    static const int to_shift_dr[] = {1, 0, 0};
    if (jtag_clock_tms_sequence(ftdi, to_shift_dr) != 0) {
        fputs("Can't move TAP to Shift-DR: write failed\n", stderr);
        return -1;
    }
    return 0;
}

int jtag_read_dr(struct ftdi_context *ftdi, const unsigned char *out,
                 unsigned char *in, int count)
{
    if (count < 1 || count > 65535) {
        fprintf(stderr, "Can't read %d bytes: count must be 1 to 65535\n",
                count);
        return -1;
    }
    int result = jtag_enter_shift_dr(ftdi);

    int size = count + (int)MPSSE_HEADER_SIZE;
    CommandBuffer cmd = {(unsigned char *)calloc(size, 1)};
    if (!cmd.bytes) {
        fputs("Can't malloc memory\n", stderr);
        return -1;
    }
    cmd.bytes[0] = MPSSE_BYTES_IO;
    cmd.bytes[1] = (unsigned char)((count - 1) & 0xFF);
    cmd.bytes[2] = (unsigned char)(((count - 1) >> 8) & 0xFF);
    if (out)
        memcpy(cmd.bytes + MPSSE_HEADER_SIZE, out, count);
    if (ftdi_write_data(ftdi, cmd.bytes, size) != size) {
        fputs("Ftdi write failed\n", stderr);
        return -1;
    }

    if (jtag_read_answer(ftdi, in, count) != 0)
        return -1;
    return result;
}

int jtag_capture_ir(struct ftdi_context *ftdi, unsigned char code,
                    unsigned char *buf, unsigned char *capture)
{
    // The sixth instruction bit goes with the TMS clock into Exit1-IR
    // (TDI 0, as in every instruction load); 0x87 sends the answers at once
    // rather than after the latency timer.
    // clang-format off
    const unsigned char cmd[] = {
        MPSSE_TMS_OUT, 0x03, 0x03, // TMS 1, 1, 0, 0: to Shift-IR
        MPSSE_BITS_IO, 0x04, code, // code bits 0-4 out, capture bits 0-4 in
        MPSSE_TMS_IO,  0x00, 0x01, // TMS 1: Exit1-IR, capture bit 5 in
        MPSSE_TMS_OUT, 0x01, 0x01, // TMS 1, 0: Update-IR, Run-Test/Idle
        MPSSE_SEND_IMMEDIATE,
    };
    // clang-format on
    memcpy(buf, cmd, sizeof cmd);
    if (ftdi_write_data(ftdi, buf, sizeof cmd) != (int)sizeof cmd) {
        fprintf(stderr, "Can't capture instruction register: write failed\n");
        return -1;
    }
    if (jtag_read_answer(ftdi, buf, 2) != 0)
        return -1;
    // Bit-mode reads fill each answer byte from the top.
    *capture = (unsigned char)((buf[0] >> 3) | ((buf[1] >> 7) << 5));
    return 0;
}
