// Reading the configuration status register over JTAG without disturbing
// a running design.
#ifndef TAPLINE_XILINX_STAT_READ_H
#define TAPLINE_XILINX_STAT_READ_H

#include <stdint.h>

#include "jtag/scan.h"
#include "xilinx/family.h"

// Any state -> Test-Logic-Reset -> Run-Test/Idle, then the family's read
// request through CFG_IN and the word through CFG_OUT; ends in
// Run-Test/Idle. First without the request's sync word, which a logic
// still synchronised would misread: a synchronised logic answers, and is
// left so. When nothing answers, the whole request with its sync word, then
// a DESYNC that leaves the logic unsynchronised as it was found. pad_bits
// (0..31) zero bits go ahead of the first request: they finish the word a
// stream left incomplete. One or two writes and reads; silent (the caller
// reports through queue_report with STEP_READ_STAT).
enum QueueResult stat_read(struct Jtag *j, const struct ChainPosition *pos,
                           const struct FamilyInstructions *insn,
                           const struct XilinxFamily *family, unsigned pad_bits,
                           uint32_t *value);

#endif
