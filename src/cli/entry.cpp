#include "cli/entry.h"

#include <ftdi.h>

#include "cli/about.h"
#include "cli/commands.h"
#include "link/adapter.h"

int tapline_main(int argc, char **argv)
{
    if (argc < 2) {
        print_usage();
        return 1;
    }
    // Help and version answer without touching USB.
    if (print_about(argv[1]))
        return 0;

    // Owned for the whole run; every operation borrows them.
    struct ftdi_context ftdi;
    unsigned char transfer[QUEUE_BUFFER_SIZE];
    struct Jtag jtag;
    jtag_init(&jtag, &ftdi, transfer);
    struct ToolRun run;
    run.jtag = &jtag;
    run.buf = transfer;
    run.argc = argc;
    run.argv = argv;

    // A failed open has printed its message. It is not released: the
    // process exit closes a device that was left open.
    if (adapter_open(&jtag.queue) != 0)
        return 1;
    int result = dispatch_command(&run);
    adapter_release(&jtag.queue);
    return result < 0 ? 1 : result;
}
