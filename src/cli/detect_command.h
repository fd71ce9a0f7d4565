// The detect command: the devices on the JTAG chain.
#ifndef TAPLINE_CLI_DETECT_COMMAND_H
#define TAPLINE_CLI_DETECT_COMMAND_H

struct ToolRun;
struct CommandRow;

// One line per device, nearest TDI first, numbered from 0: its ID code, IR
// length and name. Loads nothing but BYPASS and IDCODE. Returns 0, or -1
// after a line on standard error.
int command_detect(struct ToolRun *run, const struct CommandRow *row);

#endif
