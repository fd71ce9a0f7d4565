// The command table: each word, what it runs, its line in --help and
// whether the usage line names it. Dispatch, --help and the usage line
// all read it.
#ifndef TAPLINE_CLI_COMMANDS_H
#define TAPLINE_CLI_COMMANDS_H

#include <stdint.h>

#include "jtag/tap.h"

struct Target;

// What a command gets for the run: the JTAG queue over the opened adapter
// and the transfer buffer, the arguments from the command word on (argv[1]
// is the word) and the options before it.
struct ToolRun {
    struct Jtag *jtag;
    unsigned char *buf;
    int argc;
    char **argv;
    const char *device; // --device, or null
};

struct CommandRow {
    const char *word;
    const char *help_name; // the word with its argument, for --help
    const char *help;
    const char *usage_arg; // null: not on the usage line; "": no argument
    int (*run)(struct ToolRun *run, const struct CommandRow *row);
    unsigned user; // user register number, for user1..user4
    bool bus_only; // runs without opening an adapter
};

// The row of the command named by word; null when none is.
const struct CommandRow *command_find(const char *word);

// Runs the command named by argv[1] on an opened adapter. A word that
// names no command prints the usage line. Returns 0, -1 if the command
// failed or did not run, or a positive exit status the command chose.
int dispatch_command(struct ToolRun *run);

// Detects the chain and picks the command's device (for a load, the one
// with the stream's ID code; file names the input). Returns 0, or -1
// after one line on standard error with nothing sent past the detection.
int command_target(struct ToolRun *run, uint32_t stream_idcode,
                   const char *file, struct Target *target);

// The usage line on standard output.
void print_usage();

// The command list of --help, one line (or two) per command.
void print_command_help();

#endif
