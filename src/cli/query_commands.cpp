#include "cli/query_commands.h"

#include <stdio.h>

#include "cli/commands.h"
#include "xilinx/capture.h"
#include "xilinx/idcode.h"
#include "xilinx/target.h"

// After a failed write the TAP may not have held the register we meant, so
// a failed step anywhere means no result line: nothing is made up.

namespace {

// On a chain the ID code register is read through IDCODE in the target and
// BYPASS elsewhere; alone, Test-Logic-Reset has selected it.
int read_target_idcode(struct ToolRun *run, const struct Target *t,
                       uint32_t *code)
{
    if (t->count == 1)
        return idcode_read(run->jtag, run->buf, code);
    int result = jtag_reset_to_idle(run->jtag);
    if (jtag_load_ir(run->jtag, &t->pos, t->insn.idcode) != 0)
        result = -1;
    unsigned char *b = run->buf;
    if (jtag_read_dr(run->jtag, &t->pos, nullptr, b, 4) != 0 || result != 0)
        return -1;
    *code = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 |
            (uint32_t)b[3] << 24;
    return 0;
}

const char *target_name(const struct Target *t)
{
    return t->part ? t->part->name : t->family ? t->family->name : "The device";
}

} // namespace

int command_idcode(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct Target t;
    if (command_target(run, 0, nullptr, &t) != 0)
        return -1;
    uint32_t code = 0;
    if (read_target_idcode(run, &t, &code) != 0)
        return -1;
    printf("%02lx %02lx %02lx %02lx\n", (unsigned long)(code >> 24),
           (unsigned long)(code >> 16 & 0xFF),
           (unsigned long)(code >> 8 & 0xFF), (unsigned long)(code & 0xFF));
    if (!idcode_possible(code)) {
        fputs("No device answers on JTAG\n", stderr);
        return -1;
    }
    return 0;
}

int command_reset(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct Target t;
    if (command_target(run, 0, nullptr, &t) != 0)
        return -1;
    const FamilyInstructions *insn = &t.insn;
    int result = jtag_reset_to_idle(run->jtag);
    if (jtag_load_ir(run->jtag, &t.pos, insn->jprogram) != 0)
        result = -1;
    if (jtag_reset_to_idle(run->jtag) != 0)
        result = -1;
    return result;
}

int command_user(struct ToolRun *run, const struct CommandRow *row)
{
    struct Target t;
    struct Chain chain;
    // A stuck TDO reads as a value no register holds.
    if (chain_identify(run->jtag, &chain) != 0 ||
        target_choose(&chain, run->device, 0, nullptr, &t) != 0 ||
        chain_require_devices(&chain) != 0)
        return -1;
    // No master field known: which SLR a user code reaches is a guess.
    if (t.part && t.dies_unknown) {
        fprintf(stderr, "%s: its SLRs' user registers are not supported\n",
                t.part->name);
        return -1;
    }
    const FamilyInstructions *insn = &t.insn;
    const uint32_t code = insn->user[row->user - 1];
    if (code == 0) {
        fprintf(stderr, "%s has no user data register %u\n", target_name(&t),
                row->user);
        return -1;
    }
    // The design's registers exist only while it runs: DONE high.
    if (t.family) {
        unsigned char capture = 0;
        if (capture_read(run->jtag, &t.pos, insn->idcode, &capture) != 0)
            return -1;
        if (!(capture & CAPTURE_DONE)) {
            fputs("The FPGA is not configured: it has no user registers\n",
                  stderr);
            return -1;
        }
    }
    unsigned char *buf = run->buf;
    int result = jtag_reset_to_idle(run->jtag);
    if (jtag_load_ir(run->jtag, &t.pos, code) != 0)
        result = -1;
    if (jtag_read_dr(run->jtag, &t.pos, nullptr, buf, 1) != 0 || result != 0)
        return -1;
    printf("%02x:%c\n", buf[0], buf[0]);
    return 0;
}
