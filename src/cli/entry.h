// The program's entry: arguments, adapter lifetime, exit status.
#ifndef TAPLINE_CLI_ENTRY_H
#define TAPLINE_CLI_ENTRY_H

// Runs the tool once and returns the exit status: 1 also when standard
// output could not be written (it is flushed, not closed), 128 + N after a
// load stopped by signal N.
int tapline_main(int argc, char **argv);

#endif
