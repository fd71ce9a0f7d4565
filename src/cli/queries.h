// The commands that need no file: identification code, configuration
// clear, user register read. Each returns 0, or -1 if any step failed.
#ifndef TAPLINE_CLI_QUERIES_H
#define TAPLINE_CLI_QUERIES_H

struct ftdi_context;

// Prints the 32-bit identification code, most significant byte first.
// Leaves the TAP in Shift-DR.
int query_idcode(struct ftdi_context *ftdi, unsigned char *buf);

// Loads the configuration-clear instruction. Prints nothing.
int query_reset(struct ftdi_context *ftdi);

// Selects the user register of the given instruction code and prints one
// byte of it as hex and as a character. Leaves the TAP in Shift-DR.
int query_user(struct ftdi_context *ftdi, unsigned char *buf,
               unsigned char code);

#endif
