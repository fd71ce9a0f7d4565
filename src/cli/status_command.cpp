#include "cli/status_command.h"

#include <stdio.h>

#include "cli/commands.h"
#include "xilinx/capture.h"
#include "xilinx/idcode.h"
#include "xilinx/parts.h"
#include "xilinx/stat.h"
#include "xilinx/stat_read.h"

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

// Reads and prints the status register; *family stays null when the
// device gets no read.
int print_stat(struct Jtag *j, uint32_t code, const XilinxFamily **family,
               uint32_t *value)
{
    const Part *part = parts_find(code);
    *family = parts_family(code);
    if (!*family) {
        puts("Status register: not read (unknown family)");
        return 0;
    }
    // A longer instruction register: the 6-bit sequences would go astray.
    if (part && part->multi_die) {
        *family = nullptr;
        puts("Status register: not read (multi-die part)");
        return 0;
    }
    const enum QueueResult r =
        stat_read(j, &chain_lone_fpga, *family, 0, value);
    if (r != QUEUE_OK) {
        queue_report(STEP_READ_STAT, r, 0);
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

int command_status(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct Jtag *j = run->jtag;
    uint32_t code = 0;
    if (idcode_read(j, run->buf, &code) != 0 ||
        idcode_require_device(code) != 0)
        return -1;
    print_part(code);

    // IDCODE, which Test-Logic-Reset selected already: capturing with it
    // changes nothing on the device.
    unsigned char capture = 0;
    if (jtag_reset_to_idle(j) != 0 ||
        capture_read(j, &chain_lone_fpga,
                     family_instructions(parts_family(code))->idcode,
                     &capture) != 0)
        return -1;
    printf("DONE %s, INIT %s (IR capture %02x)\n", level(capture, CAPTURE_DONE),
           level(capture, CAPTURE_INIT), capture);

    const XilinxFamily *family = nullptr;
    uint32_t value = 0;
    if (print_stat(j, code, &family, &value) != 0)
        return -1;
    if (capture & CAPTURE_DONE) {
        puts("Configured");
        return 0;
    }
    if (!family)
        puts("Not configured: cause not known (status register not read)");
    else
        printf("Not configured: %s\n", stat_cause(family, value));
    return STATUS_NOT_CONFIGURED;
}
