// Why a load did not start the FPGA, from its status register.
#ifndef TAPLINE_BITSTREAM_LOAD_CAUSE_H
#define TAPLINE_BITSTREAM_LOAD_CAUSE_H

#include <stdint.h>

struct ftdi_context;

struct BitstreamInfo;

// Reads the status register of the device with this ID code, after info's
// bitstream went in, and prints the cause line on standard error. Prints
// nothing when the family has no known register or the read fails: the
// load has said what failed already.
void load_report_cause(struct ftdi_context *ftdi, unsigned char *buf,
                       uint32_t idcode, const struct BitstreamInfo *info);

#endif
