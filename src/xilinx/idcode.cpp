#include "xilinx/idcode.h"

#include <stdio.h>

namespace {

uint32_t little_endian_word(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
           (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

} // namespace

int idcode_read(struct Jtag *j, unsigned char *buf, uint32_t *code)
{
    int result = jtag_reset_to_idle(j);
    if (jtag_read_dr(j, &chain_lone_fpga, nullptr, buf, 4) != 0 || result != 0)
        return -1;
    // The register arrives least significant byte first.
    *code = little_endian_word(buf);
    return 0;
}

bool idcode_possible(uint32_t code)
{
    return (code & 1U) != 0 && code != 0xFFFFFFFFU;
}

void idcode_report_absent(uint32_t code)
{
    fprintf(stderr, "No FPGA answers on JTAG (ID code %08lx)\n",
            (unsigned long)code);
}

int idcode_require_device(uint32_t code)
{
    if (idcode_possible(code))
        return 0;
    idcode_report_absent(code);
    return -1;
}

bool idcode_same_part(uint32_t a, uint32_t b)
{
    return ((a ^ b) & 0x0FFFFFFFU) == 0;
}
