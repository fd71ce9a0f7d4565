// The configuration status register (STAT): read over JTAG without
// disturbing a running design, named bit by bit, and what it says about
// why a device is not configured.
#ifndef TAPLINE_JTAG_STAT_H
#define TAPLINE_JTAG_STAT_H

#include <stddef.h>
#include <stdint.h>

#include "jtag/parts.h"

struct ftdi_context;

enum StatRead {
    STAT_READ_OK = 0,
    STAT_READ_WRITE_FAILED = -1,
    STAT_READ_ERROR = -2,   // the library reported a failed read
    STAT_READ_TIMEOUT = -3, // the answer never came
};

// Width of the family's register word: 32 or 16, 0 for FAMILY_UNKNOWN.
unsigned stat_word_bits(enum PartFamily family);

// Any state -> Test-Logic-Reset -> Run-Test/Idle, then the family's read
// request through CFG_IN, the word through CFG_OUT and a DESYNC through
// CFG_IN, so the configuration logic is left unsynchronised as it was
// found; ends in Run-Test/Idle. pad_bits (0..31) zero bits go ahead of the
// request: they finish the word a stream left incomplete in logic that is
// still synchronised. One write built in buf and one read; prints nothing.
// family must not be FAMILY_UNKNOWN.
enum StatRead stat_read(struct ftdi_context *ftdi, unsigned char *buf,
                        enum PartFamily family, unsigned pad_bits,
                        uint32_t *value);

// The value in hexadecimal, as many digits as the family's word has.
void stat_hex(enum PartFamily family, uint32_t value, char out[9]);

// The names of the set bits, most significant first, separated by single
// spaces; a field of several bits as NAME=value when not zero. "none" when
// no named bit is set.
void stat_describe(enum PartFamily family, uint32_t value, char *out,
                   size_t size);

// Why a device whose DONE stays low is not configured: the first of the
// errors the register holds, else what start-up waits for, else that no
// bitstream came.
const char *stat_cause(enum PartFamily family, uint32_t value);

#endif
