// Why a load did not start the FPGA, from its status register.
#ifndef TAPLINE_XILINX_CAUSE_H
#define TAPLINE_XILINX_CAUSE_H

#include <stdint.h>

#include "xilinx/target.h"

// A bitstream as it went in: its length in bytes, and where its sync word
// ends (0: none found).
struct SentStream {
    uint32_t length;
    uint32_t sync_end;
};

// Reads the target's status register after the stream sent went in, and
// prints the cause line on standard error. Prints nothing when the family
// has no known register or the read fails: the load has said what failed
// already.
void cause_report(struct Jtag *j, const struct Target *t,
                  const struct SentStream *sent);

#endif
