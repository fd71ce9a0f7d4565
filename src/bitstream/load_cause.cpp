#include "bitstream/load_cause.h"

#include <stdio.h>

#include "jtag/parts.h"
#include "jtag/stat.h"

void load_report_cause(struct ftdi_context *ftdi, unsigned char *buf,
                       uint32_t idcode)
{
    const Part *part = parts_find(idcode);
    const PartFamily family = parts_family(idcode);
    if (family == FAMILY_UNKNOWN || (part && part->multi_die))
        return;
    uint32_t value = 0;
    if (stat_read(ftdi, buf, family, &value) != STAT_READ_OK)
        return;
    fprintf(stderr, "Cause: %s (status register %0*lx)\n",
            stat_cause(family, value), (int)(stat_word_bits(family) / 4),
            (unsigned long)value);
}
