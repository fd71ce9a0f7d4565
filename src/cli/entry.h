// The program's entry: arguments, adapter lifetime, exit status.
#ifndef TAPLINE_CLI_ENTRY_H
#define TAPLINE_CLI_ENTRY_H

// Runs the tool once and returns the exit status.
int tapline_main(int argc, char **argv);

#endif
