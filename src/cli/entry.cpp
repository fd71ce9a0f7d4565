#include "cli/entry.h"

#include <ftdi.h>

#include "cli/about.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "link/adapter.h"

int tapline_main(int argc, char **argv)
{
    struct ToolOptions options;
    const int word = options_parse(argc, argv, &options);
    if (word < 0 || word >= argc) {
        print_usage();
        return 1;
    }
    // Help and version answer without touching USB.
    if (print_about(argv[word]))
        return 0;

    // Owned for the whole run; every operation borrows them.
    struct ftdi_context ftdi;
    unsigned char transfer[QUEUE_BUFFER_SIZE];
    struct Jtag jtag;
    jtag_init(&jtag, &ftdi, transfer);
    struct ToolRun run;
    run.jtag = &jtag;
    run.buf = transfer;
    // The command sees its word as argv[1], whatever options came first.
    run.argc = argc - word + 1;
    run.argv = argv + word - 1;
    run.device = options.device;
    run.serial = options.serial;

    // A failed open has printed its message. It is not released: the
    // process exit closes a device that was left open.
    if (adapter_open(&jtag.queue) != 0)
        return 1;
    int result = dispatch_command(&run);
    adapter_release(&jtag.queue);
    return result < 0 ? 1 : result;
}
