// Command words and the command each one runs.
#ifndef TAPLINE_CLI_DISPATCH_H
#define TAPLINE_CLI_DISPATCH_H

struct ftdi_context;

// Runs the command named by argv[1] on an opened adapter. A word that names
// no command prints the usage line. Returns 0, -1 if the command failed or
// did not run, or a positive exit status the command chose.
int dispatch_command(struct ftdi_context *ftdi, unsigned char *buf, int argc,
                     char **argv);

#endif
