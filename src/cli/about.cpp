#include "cli/about.h"

#include <stdio.h>
#include <string.h>

namespace {

const char help_text[] =
    "Usage: tapline COMMAND [FILE]\n"
    "Reads and programs a Xilinx FPGA through a USB JTAG adapter.\n"
    "\n"
    "Commands:\n"
    "  idcode      print the FPGA's 32-bit ID code\n"
    "  reset       clear the FPGA's configuration\n"
    "  load FILE   program the FPGA from a bit file (- is standard input)\n"
    "  user1       print the first byte of user register 1\n"
    "  user2       print the first byte of user register 2\n"
    "  user3       print the first byte of user register 3\n"
    "  user4       print the first byte of user register 4\n"
    "  status      print the FPGA's part, DONE and INIT, its status register,\n"
    "              and why it is not configured\n"
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
        fputs(help_text, stdout);
        return true;
    }
    if (strcmp(word, "-V") == 0 || strcmp(word, "--version") == 0) {
        printf("tapline %s\n", TAPLINE_VERSION);
        return true;
    }
    return false;
}
