// The load command: prints a bit file's header and programs the FPGA.
#ifndef TAPLINE_CLI_LOAD_COMMAND_H
#define TAPLINE_CLI_LOAD_COMMAND_H

struct ToolRun;
struct CommandRow;
struct BitstreamInfo;

// Reads argv[2] ("-": standard input), prints its header and shifts its
// bitstream into the FPGA's configuration input, then starts the device.
// Without a file name prints the usage line. Nothing is sent for a file
// that is not a valid bit file. Returns 0, or -1 after a line on standard
// error.
int command_load(struct ToolRun *run, const struct CommandRow *row);

// Prints the header lines on standard output; a text the file lacked
// prints as empty.
void load_print_header(const struct BitstreamInfo *info);

#endif
