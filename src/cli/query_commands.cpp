#include "cli/query_commands.h"

#include <stdio.h>

#include "cli/commands.h"
#include "xilinx/family.h"
#include "xilinx/idcode.h"

// After a failed write the TAP may not have held the register we meant, so
// a failed step anywhere means no result line: nothing is made up.

int command_idcode(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    // Test-Logic-Reset selects the identification register; no instruction.
    uint32_t code = 0;
    if (idcode_read(run->jtag, run->buf, &code) != 0)
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
    const FamilyInstructions *insn = family_instructions(nullptr);
    int result = jtag_reset_to_idle(run->jtag);
    if (jtag_load_ir(run->jtag, &chain_lone_fpga, insn->jprogram) != 0)
        result = -1;
    if (jtag_reset_to_idle(run->jtag) != 0)
        result = -1;
    return result;
}

int command_user(struct ToolRun *run, const struct CommandRow *row)
{
    const FamilyInstructions *insn = family_instructions(nullptr);
    unsigned char *buf = run->buf;
    int result = jtag_reset_to_idle(run->jtag);
    if (jtag_load_ir(run->jtag, &chain_lone_fpga, insn->user[row->user - 1]) !=
        0)
        result = -1;
    if (jtag_read_dr(run->jtag, &chain_lone_fpga, nullptr, buf, 1) != 0 ||
        result != 0)
        return -1;
    printf("%02x:%c\n", buf[0], buf[0]);
    return 0;
}
