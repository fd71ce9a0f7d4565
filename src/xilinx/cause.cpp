#include "xilinx/cause.h"

#include <stdio.h>

#include "xilinx/parts.h"
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
    fprintf(stderr, "Cause: %s (status register %s)\n",
            stat_cause(family, value), hex);
}
