#include "xilinx/cause.h"

#include <stdio.h>

#include "xilinx/parts.h"
#include "xilinx/stacked.h"
#include "xilinx/stat.h"
#include "xilinx/stat_read.h"

namespace {

// A stream cut short leaves the configuration logic synchronised, with the
// bits after its last whole word (and the one the load adds leaving
// Shift-DR) waiting for more: zeros up to the next word boundary keep the
// read request from arriving shifted.
unsigned pad_bits(const struct SentStream *sent, unsigned word_bits)
{
    if (sent->sync_end == 0)
        return 0;
    // Words are 16 or 32 bits, which divide 2^32: the count may wrap in
    // 32 bits without changing its remainder, and 32-bit arithmetic keeps
    // the 64-bit division helpers of libgcc_s out of the MIPS build.
    const unsigned bits = (sent->length - sent->sync_end) * 8U + 1U;
    return (word_bits - bits % word_bits) % word_bits;
}

// A stacked part's other dies after its master's: the first whose own
// register holds an error of its stream is named by its IR field. Returns
// whether one was.
bool report_other_die(struct Jtag *j, const struct Target *t)
{
    const Part *part = t->part;
    const int master = stacked_master_field(part);
    const unsigned fields = part->multi_die_ir / 6;
    for (unsigned field = fields; field-- > 0;) {
        if ((int)field == master)
            continue;
        FamilyInstructions insn;
        stacked_field_instructions(part, field, &insn);
        uint32_t value = 0;
        if (stat_read(j, &t->pos, &insn, t->family, 0, &value) != QUEUE_OK)
            return false;
        if (!stat_readable(t->family, value) ||
            !stat_has_error(t->family, value))
            continue;
        char hex[9];
        stat_hex(t->family, value, hex);
        fprintf(stderr, "Cause: %s (SLR at IR field %u, status register %s)\n",
                stat_cause(t->family, value), field, hex);
        return true;
    }
    return false;
}

} // namespace

void cause_report(struct Jtag *j, const struct Target *t,
                  const struct SentStream *sent)
{
    const XilinxFamily *family = t->family;
    if (!family || t->dies_unknown)
        return;
    uint32_t value = 0;
    const unsigned bits = family_word_bits(family);
    if (stat_read(j, &t->pos, &t->insn, family, pad_bits(sent, bits), &value) !=
        QUEUE_OK)
        return;
    char hex[9];
    stat_hex(family, value, hex);
    if (!stat_readable(family, value)) {
        fprintf(stderr, "Status register: could not be read (it reads %s)\n",
                hex);
        return;
    }
    // The master started (or failed) on its own: another die may be why.
    if (t->part && t->part->slrs && !stat_has_error(family, value) &&
        report_other_die(j, t))
        return;
    fprintf(stderr, "Cause: %s (status register %s)\n",
            stat_cause(family, value), hex);
}
