// Reading the configuration status register over JTAG without disturbing
// a running design.
#ifndef TAPLINE_XILINX_STAT_READ_H
#define TAPLINE_XILINX_STAT_READ_H

#include <stdint.h>

#include "jtag/scan.h"
#include "xilinx/family.h"

// Any state -> Test-Logic-Reset -> Run-Test/Idle, then the family's read
// request through CFG_IN, the word through CFG_OUT and a DESYNC through
// CFG_IN, so the configuration logic is left unsynchronised as it was
// found; ends in Run-Test/Idle. pad_bits (0..31) zero bits go ahead of the
// request: they finish the word a stream left incomplete in logic that is
// still synchronised. One write and one read; silent (the caller reports
// through queue_report with STEP_READ_STAT).
enum QueueResult stat_read(struct Jtag *j, const struct ChainPosition *pos,
                           const struct XilinxFamily *family, unsigned pad_bits,
                           uint32_t *value);

#endif
