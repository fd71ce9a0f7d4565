#include "bitstream/load_cause.h"

#include <stdio.h>

#include "bitstream/bitfile.h"
#include "bitstream/stream_idcode.h"
#include "jtag/parts.h"
#include "jtag/stat.h"

namespace {

// A stream cut short leaves the configuration logic synchronised, with the
// bits after its last whole word (and the one the load adds leaving
// Shift-DR) waiting for more: zeros up to the next word boundary keep the
// read request from arriving shifted.
unsigned pad_bits(const struct BitstreamInfo *info, uint32_t idcode,
                  PartFamily family)
{
    const unsigned word_bits = stat_word_bits(family);
    uint32_t sync_end = bitstream_sync_end(info, idcode);
    if (sync_end == 0)
        return 0;
    uint64_t sent = (uint64_t)(info->length - sync_end) * 8 + 1;
    return (unsigned)((word_bits - sent % word_bits) % word_bits);
}

} // namespace

void load_report_cause(struct ftdi_context *ftdi, unsigned char *buf,
                       uint32_t idcode, const struct BitstreamInfo *info)
{
    const Part *part = parts_find(idcode);
    const PartFamily family = parts_family(idcode);
    if (family == FAMILY_UNKNOWN || (part && part->multi_die))
        return;
    uint32_t value = 0;
    if (stat_read(ftdi, buf, family, pad_bits(info, idcode, family), &value) !=
        STAT_READ_OK)
        return;
    char hex[9];
    stat_hex(family, value, hex);
    fprintf(stderr, "Cause: %s (status register %s)\n",
            stat_cause(family, value), hex);
}
