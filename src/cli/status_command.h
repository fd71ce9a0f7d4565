// The status command: which part answers, whether it is configured, and
// if not, why.
#ifndef TAPLINE_CLI_STATUS_COMMAND_H
#define TAPLINE_CLI_STATUS_COMMAND_H

struct ToolRun;
struct CommandRow;

// Exit status of a status query whose device answered but is not
// configured.
enum { STATUS_NOT_CONFIGURED = 2 };

// Prints the part and its ID code, DONE and INIT from the instruction
// register's capture, the status register with its set bits named, and
// "Configured" or why not. Changes nothing on the device. Returns 0 when
// configured, STATUS_NOT_CONFIGURED when not, -1 after a line on standard
// error when a step failed or no FPGA answers.
int command_status(struct ToolRun *run, const struct CommandRow *row);

#endif
