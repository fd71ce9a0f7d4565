#include "cli/commands.h"

#include <stdio.h>
#include <string.h>

#include "cli/adapters_command.h"
#include "cli/detect_command.h"
#include "cli/load_command.h"
#include "cli/query_commands.h"
#include "cli/status_command.h"
#include "xilinx/target.h"

namespace {

// Compared in this order, each an exact, case-sensitive match.
const CommandRow commands[] = {
    {"idcode", "idcode", "print the FPGA's 32-bit ID code", "", command_idcode,
     0, false},
    {"reset", "reset", "clear the FPGA's configuration", "", command_reset, 0,
     false},
    {"load", "load FILE",
     "program the FPGA from a bit file (- is standard input)",
     "<bitstream.bit>", command_load, 0, false},
    {"user1", "user1", "print the first byte of user register 1", nullptr,
     command_user, 1, false},
    {"user2", "user2", "print the first byte of user register 2", nullptr,
     command_user, 2, false},
    {"user3", "user3", "print the first byte of user register 3", nullptr,
     command_user, 3, false},
    {"user4", "user4", "print the first byte of user register 4", nullptr,
     command_user, 4, false},
    {"status", "status",
     "print the FPGA's part, DONE and INIT, its status register,\n"
     "              and why it is not configured",
     nullptr, command_status, 0, false},
    {"detect", "detect",
     "list the devices on the JTAG chain, nearest TDI first", nullptr,
     command_detect, 0, false},
    {"adapters", "adapters",
     "list the adapters on the bus: serial number, bus and device", nullptr,
     command_adapters, 0, true},
};

const CommandRow *commands_end =
    commands + sizeof commands / sizeof commands[0];

} // namespace

void print_usage()
{
    // The usage line names the commands of the first release only.
    char line[128] = "./tapline [";
    size_t used = strlen(line);
    const char *sep = "";
    for (const CommandRow *c = commands; c != commands_end; c++) {
        if (!c->usage_arg)
            continue;
        int n = snprintf(line + used, sizeof line - used, "%s%s%s%s", sep,
                         c->word, *c->usage_arg ? " " : "", c->usage_arg);
        used += n > 0 ? (size_t)n : 0;
        sep = "/";
    }
    snprintf(line + used, sizeof line - used, "] ");
    puts(line);
}

void print_command_help()
{
    for (const CommandRow *c = commands; c != commands_end; c++) {
        int width = printf("  %s", c->help_name);
        for (; width < 14; width++)
            putchar(' ');
        printf("%s\n", c->help);
    }
}

int command_target(struct ToolRun *run, uint32_t stream_idcode,
                   const char *file, struct Target *target)
{
    struct Chain chain;
    if (chain_identify(run->jtag, &chain) != 0)
        return -1;
    return target_choose(&chain, run->device, stream_idcode, file, target);
}

const CommandRow *command_find(const char *word)
{
    for (const CommandRow *c = commands; c != commands_end; c++)
        if (strcmp(word, c->word) == 0)
            return c;
    return nullptr;
}

int dispatch_command(struct ToolRun *run)
{
    const CommandRow *c = command_find(run->argv[1]);
    if (c)
        return c->run(run, c);
    print_usage();
    return -1;
}
