#include "cli/about.h"

#include <stdio.h>
#include <string.h>

#include "cli/commands.h"

namespace {

const char help_head[] =
    "Usage: tapline [-d N] [-s SERIAL] COMMAND [FILE]\n"
    "Reads and programs a Xilinx FPGA through a USB JTAG adapter.\n"
    "\n"
    "Commands:\n";

const char help_tail[] =
    "\n"
    "Options, before the command:\n"
    "  -d, --device N  the device at position N of the JTAG chain, as\n"
    "                  detect numbers it (0 nearest TDI); needed when the\n"
    "                  chain holds several FPGAs\n"
    "  -s, --serial SERIAL  the adapter with that USB serial number, as\n"
    "                  adapters lists them; needed when the host has\n"
    "                  several\n"
    "\n"
    "Options, instead of a command:\n"
    "  -h, --help     print this help\n"
    "  -V, --version  print the version\n"
    "\n"
    "Exit status: 0 on success; 1 on a missing or unknown command, no\n"
    "adapter, an unpowered target, or any failed step; 2 from status when\n"
    "the FPGA answers but is not configured.\n"
    "\n"
    "Every message and option: man tapline (man/tapline.1 in the sources).\n";

} // namespace

bool print_about(const char *word)
{
    if (strcmp(word, "-h") == 0 || strcmp(word, "--help") == 0) {
        fputs(help_head, stdout);
        print_command_help();
        fputs(help_tail, stdout);
        return true;
    }
    if (strcmp(word, "-V") == 0 || strcmp(word, "--version") == 0) {
        printf("tapline %s\n", TAPLINE_VERSION);
        // The rate asked for; the chip may give less (man page).
        printf("TCK %u Hz\n", (unsigned)TAPLINE_TCK_HZ);
        return true;
    }
    return false;
}
