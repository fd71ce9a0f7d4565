#include "cli/status_query.h"

#include <stdio.h>

#include "jtag/constants.h"
#include "jtag/parts.h"
#include "jtag/stat.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

void print_part(uint32_t code)
{
    const Part *part = parts_find(code);
    const char *family = parts_family_name(code);
    if (part)
        printf("FPGA: %s (ID code %08lx)\n", part->name, (unsigned long)code);
    else if (family)
        printf("FPGA: unknown %s part (ID code %08lx)\n", family,
               (unsigned long)code);
    else
        printf("FPGA: unknown part (ID code %08lx)\n", (unsigned long)code);
}

const char *level(unsigned char capture, unsigned char bit)
{
    return (capture & bit) ? "high" : "low";
}

// Reads and prints the status register; *family stays FAMILY_UNKNOWN when
// the device gets no read.
int print_stat(struct ftdi_context *ftdi, unsigned char *buf, uint32_t code,
               PartFamily *family, uint32_t *value)
{
    const Part *part = parts_find(code);
    *family = parts_family(code);
    if (*family == FAMILY_UNKNOWN) {
        puts("Status register: not read (unknown family)");
        return 0;
    }
    // A longer instruction register: the 6-bit sequences would go astray.
    if (part && part->multi_die) {
        *family = FAMILY_UNKNOWN;
        puts("Status register: not read (multi-die part)");
        return 0;
    }
    switch (stat_read(ftdi, buf, *family, 0, value)) {
    case STAT_READ_OK:
        break;
    case STAT_READ_WRITE_FAILED:
        fputs("Can't read the status register: write failed\n", stderr);
        return -1;
    case STAT_READ_ERROR:
        fputs("Ftdi read failed\n", stderr);
        return -1;
    case STAT_READ_TIMEOUT:
        fputs("Ftdi read timed out\n", stderr);
        return -1;
    }
    char hex[9];
    char names[256];
    stat_hex(*family, *value, hex);
    stat_describe(*family, *value, names, sizeof names);
    printf("Status register: %s (%s)\n", hex, names);
    return 0;
}

} // namespace

int query_status(struct ftdi_context *ftdi, unsigned char *buf)
{
    uint32_t code = 0;
    if (status_read_idcode(ftdi, buf, &code) != 0 ||
        status_require_device(code) != 0)
        return -1;
    print_part(code);

    // IDCODE, which Test-Logic-Reset selected already: capturing with it
    // changes nothing on the device.
    unsigned char capture = 0;
    if (jtag_reset_to_idle(ftdi) != 0 ||
        status_capture(ftdi, INSN_IDCODE, buf, &capture) != 0)
        return -1;
    printf("DONE %s, INIT %s (IR capture %02x)\n", level(capture, CAPTURE_DONE),
           level(capture, CAPTURE_INIT), capture);

    PartFamily family = FAMILY_UNKNOWN;
    uint32_t value = 0;
    if (print_stat(ftdi, buf, code, &family, &value) != 0)
        return -1;
    if (capture & CAPTURE_DONE) {
        puts("Configured");
        return 0;
    }
    if (family == FAMILY_UNKNOWN)
        puts("Not configured: cause not known (status register not read)");
    else
        printf("Not configured: %s\n", stat_cause(family, value));
    return QUERY_NOT_CONFIGURED;
}
