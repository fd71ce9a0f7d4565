// The command table: each word, what it runs, its line in --help and
// whether the usage line names it. Dispatch, --help and the usage line
// all read it.
#ifndef TAPLINE_CLI_COMMANDS_H
#define TAPLINE_CLI_COMMANDS_H

#include "jtag/tap.h"

// What a command gets for the run: the JTAG queue over the opened adapter
// and the transfer buffer, and the arguments (argv[1] is the word).
struct ToolRun {
    struct Jtag *jtag;
    unsigned char *buf;
    int argc;
    char **argv;
};

struct CommandRow {
    const char *word;
    const char *help_name; // the word with its argument, for --help
    const char *help;
    const char *usage_arg; // null: not on the usage line; "": no argument
    int (*run)(struct ToolRun *run, const struct CommandRow *row);
    unsigned user; // user register number, for user1..user4
};

// Runs the command named by argv[1] on an opened adapter. A word that
// names no command prints the usage line. Returns 0, -1 if the command
// failed or did not run, or a positive exit status the command chose.
int dispatch_command(struct ToolRun *run);

// The usage line on standard output.
void print_usage();

// The command list of --help, one line (or two) per command.
void print_command_help();

#endif
