// adapters: the adapters on the bus, for choosing one with --serial.
#ifndef TAPLINE_CLI_ADAPTERS_COMMAND_H
#define TAPLINE_CLI_ADAPTERS_COMMAND_H

struct ToolRun;
struct CommandRow;

int command_adapters(struct ToolRun *run, const struct CommandRow *row);

#endif
