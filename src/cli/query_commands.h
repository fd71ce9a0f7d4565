// The commands that need no file: identification code, configuration
// clear, user register read. Each returns 0, or -1 if any step failed.
#ifndef TAPLINE_CLI_QUERY_COMMANDS_H
#define TAPLINE_CLI_QUERY_COMMANDS_H

struct ToolRun;
struct CommandRow;

// Prints the 32-bit identification code, most significant byte first.
// Leaves the TAP in Shift-DR.
int command_idcode(struct ToolRun *run, const struct CommandRow *row);

// Loads the configuration-clear instruction. Prints nothing.
int command_reset(struct ToolRun *run, const struct CommandRow *row);

// Selects the row's user register and prints one byte of it as hex and as
// a character. Leaves the TAP in Shift-DR.
int command_user(struct ToolRun *run, const struct CommandRow *row);

#endif
