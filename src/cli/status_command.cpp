#include "cli/status_command.h"

#include <stdio.h>

#include "cli/commands.h"
#include "xilinx/capture.h"
#include "xilinx/idcode.h"
#include "xilinx/parts.h"
#include "xilinx/stat.h"
#include "xilinx/stat_read.h"
#include "xilinx/target.h"

namespace {

// The part, and on a chain where it sits.
void print_part(uint32_t code, const struct Target *t)
{
    const Part *part = parts_find(code);
    const char *family = parts_family_name(code);
    char name[48];
    if (part && part->slrs)
        snprintf(name, sizeof name, "%s, %u SLRs", part->name, part->slrs);
    else if (part)
        snprintf(name, sizeof name, "%s", part->name);
    else if (family)
        snprintf(name, sizeof name, "unknown %s part", family);
    else
        snprintf(name, sizeof name, "unknown part");
    if (t->count > 1)
        printf("FPGA: %s (ID code %08lx), position %u of %u\n", name,
               (unsigned long)code, t->index, t->count);
    else
        printf("FPGA: %s (ID code %08lx)\n", name, (unsigned long)code);
}

const char *level(unsigned char capture, unsigned char bit)
{
    return (capture & bit) ? "high" : "low";
}

// Reads and prints the status register (a stacked part's master's);
// *family stays null when the device gets no read.
int print_stat(struct Jtag *j, const struct Target *t, uint32_t code,
               const XilinxFamily **family, uint32_t *value)
{
    *family = parts_family(code);
    if (!*family) {
        puts("Status register: not read (unknown family)");
        return 0;
    }
    // No master die known: the request would go astray.
    if (t->dies_unknown) {
        *family = nullptr;
        puts("Status register: not read (multi-die part)");
        return 0;
    }
    const enum QueueResult r =
        stat_read(j, &t->pos, &t->insn, *family, 0, value);
    if (r != QUEUE_OK) {
        queue_report(STEP_READ_STAT, r, 0);
        return -1;
    }
    char hex[9];
    char names[256];
    stat_hex(*family, *value, hex);
    // No family's register reads all zeros or all ones: that is the wire.
    if (!stat_readable(*family, *value)) {
        printf("Status register: could not be read (it reads %s)\n", hex);
        *family = nullptr;
        return 0;
    }
    stat_describe(*family, *value, names, sizeof names);
    printf("Status register: %s (%s)\n", hex, names);
    return 0;
}

} // namespace

int command_status(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct Jtag *j = run->jtag;
    struct Target t;
    if (command_target(run, 0, nullptr, &t) != 0)
        return -1;
    uint32_t code = t.idcode;
    // Alone, the ID code is read as idcode reads it; on a chain the
    // detection has it.
    if (t.count == 1 && (idcode_read(j, run->buf, &code) != 0 ||
                         idcode_require_device(code) != 0))
        return -1;
    print_part(code, &t);

    // IDCODE, which Test-Logic-Reset selected already: capturing with it
    // changes nothing on the device.
    unsigned char capture = 0;
    if (jtag_reset_to_idle(j) != 0 ||
        capture_read(j, &t.pos, t.insn.idcode, &capture) != 0)
        return -1;
    printf("DONE %s, INIT %s (IR capture %02x)\n", level(capture, CAPTURE_DONE),
           level(capture, CAPTURE_INIT), capture);

    const XilinxFamily *family = nullptr;
    uint32_t value = 0;
    if (print_stat(j, &t, code, &family, &value) != 0)
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
