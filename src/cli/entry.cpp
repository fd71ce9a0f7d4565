#include "cli/entry.h"

#include <ftdi.h>
#include <stdio.h>

#include "cli/about.h"
#include "cli/dispatch.h"
#include "jtag/adapter.h"
#include "jtag/constants.h"

void print_usage()
{
    puts("./tapline [idcode/reset/load <bitstream.bit>] ");
}

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
    unsigned char transfer[TRANSFER_BUFFER_SIZE];

    // A failed open has printed its message. It is not released: the
    // process exit closes a device that was left open.
    if (adapter_open(&ftdi, transfer) != 0)
        return 1;
    int result = dispatch_command(&ftdi, transfer, argc, argv);
    adapter_release(&ftdi);
    return result < 0 ? 1 : result;
}
