#include "cli/queries.h"

#include <stdio.h>

#include "jtag/constants.h"
#include "jtag/status.h"
#include "jtag/tap.h"

// After a failed write the TAP may not have held the register we meant, so
// a failed step anywhere means no result line: nothing is made up.

int query_idcode(struct ftdi_context *ftdi, unsigned char *buf)
{
    // Test-Logic-Reset selects the identification register; no instruction.
    uint32_t code = 0;
    if (status_read_idcode(ftdi, buf, &code) != 0)
        return -1;
    // The register arrives least significant byte first.
    printf("%02x %02x %02x %02x\n", buf[3], buf[2], buf[1], buf[0]);
    if (!status_idcode_possible(code)) {
        fputs("No device answers on JTAG\n", stderr);
        return -1;
    }
    return 0;
}

int query_reset(struct ftdi_context *ftdi)
{
    int result = jtag_reset_to_idle(ftdi);
    if (jtag_load_ir(ftdi, INSN_JPROGRAM) != 0)
        result = -1;
    if (jtag_reset_to_idle(ftdi) != 0)
        result = -1;
    return result;
}

int query_user(struct ftdi_context *ftdi, unsigned char *buf,
               unsigned char code)
{
    int result = jtag_reset_to_idle(ftdi);
    if (jtag_load_ir(ftdi, code) != 0)
        result = -1;
    if (jtag_read_dr(ftdi, nullptr, buf, 1) != 0 || result != 0)
        return -1;
    printf("%02x:%c\n", buf[0], buf[0]);
    return 0;
}
