// The configuration status register (STAT) decoded: its value in hex, its
// set bits by name, and what it says about why a device is not configured.
#ifndef TAPLINE_XILINX_STAT_H
#define TAPLINE_XILINX_STAT_H

#include <stddef.h>
#include <stdint.h>

#include "xilinx/family.h"

// The value in hexadecimal, as many digits as the family's word has.
void stat_hex(const struct XilinxFamily *family, uint32_t value, char out[9]);

// The names of the set bits, most significant first, separated by single
// spaces; a field of several bits as NAME=value when not zero. "none" when
// no named bit is set.
void stat_describe(const struct XilinxFamily *family, uint32_t value, char *out,
                   size_t size);

// False for a value no family's register holds (all zeros, all ones): a
// read that did not reach the register.
bool stat_readable(const struct XilinxFamily *family, uint32_t value);

// Why a device whose DONE stays low is not configured: the first of the
// errors the register holds, else what start-up waits for, else that no
// bitstream came.
const char *stat_cause(const struct XilinxFamily *family, uint32_t value);

// Whether the register holds an error of the stream (CRC, ID code, key,
// packet), as opposed to a start-up that waits or no stream at all.
bool stat_has_error(const struct XilinxFamily *family, uint32_t value);

#endif
