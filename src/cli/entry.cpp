#include "cli/entry.h"

#include <errno.h>
#include <fcntl.h>
#include <ftdi.h>

#include "cli/about.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/adapter.h"

namespace {

// A standard descriptor the caller closed is held by /dev/null, open the
// other way: the run's own opens (the bit file, the USB device) cannot take
// its number, and writes to it still fail as on a closed one.
void hold_closed_descriptors()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
}

// An answer that never reached standard output is a failure, whatever the
// command made of it; a signal that stopped a load outranks both.
int finish(int status)
{
    if (output_flush() != 0)
        status = 1;
    if (interrupt_pending())
        status = 128 + interrupt_pending();
    return status;
}

int run_command(int argc, char **argv, const struct ToolOptions *options)
{
    // Owned for the whole run; every operation borrows them. The context
    // outlives the run: after a failed open it is left, device and all,
    // for the process exit.
    static struct ftdi_context ftdi;
    unsigned char transfer[QUEUE_BUFFER_SIZE];
    struct Jtag jtag;
    jtag_init(&jtag, &ftdi, transfer);
    struct ToolRun run;
    run.jtag = &jtag;
    run.buf = transfer;
    run.argc = argc;
    run.argv = argv;
    run.device = options->device;

    const struct CommandRow *row = command_find(argv[1]);
    if (row && row->bus_only)
        return row->run(&run, row) < 0 ? 1 : 0;
    // A failed open has printed its message. It is not released.
    if (adapter_open(&jtag.queue, TAPLINE_TCK_HZ, options->serial) != 0)
        return 1;
    int result = dispatch_command(&run);
    adapter_release(&jtag.queue);
    return result < 0 ? 1 : result;
}

} // namespace

int tapline_main(int argc, char **argv)
{
    hold_closed_descriptors();
    struct ToolOptions options;
    const int word = options_parse(argc, argv, &options);
    if (word < 0 || word >= argc) {
        print_usage();
        return finish(1);
    }
    // Help and version answer without touching USB.
    if (print_about(argv[word]))
        return finish(0);
    // The command sees its word as argv[1], whatever options came first.
    return finish(run_command(argc - word + 1, argv + word - 1, &options));
}
