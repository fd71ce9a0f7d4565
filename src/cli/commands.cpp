#include "cli/commands.h"

#include <stdio.h>
#include <string.h>

#include "cli/load_command.h"
#include "cli/query_commands.h"
#include "cli/status_command.h"

namespace {

// Compared in this order, each an exact, case-sensitive match.
const CommandRow commands[] = {
    {"idcode", "idcode", "print the FPGA's 32-bit ID code", "", command_idcode,
     0},
    {"reset", "reset", "clear the FPGA's configuration", "", command_reset, 0},
    {"load", "load FILE",
     "program the FPGA from a bit file (- is standard input)",
     "<bitstream.bit>", command_load, 0},
    {"user1", "user1", "print the first byte of user register 1", nullptr,
     command_user, 1},
    {"user2", "user2", "print the first byte of user register 2", nullptr,
     command_user, 2},
    {"user3", "user3", "print the first byte of user register 3", nullptr,
     command_user, 3},
    {"user4", "user4", "print the first byte of user register 4", nullptr,
     command_user, 4},
    {"status", "status",
     "print the FPGA's part, DONE and INIT, its status register,\n"
     "              and why it is not configured",
     nullptr, command_status, 0},
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

int dispatch_command(struct ToolRun *run)
{
    const char *word = run->argv[1];
    for (const CommandRow *c = commands; c != commands_end; c++)
        if (strcmp(word, c->word) == 0)
            return c->run(run, c);
    print_usage();
    return -1;
}
