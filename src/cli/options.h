// Options before the command word.
#ifndef TAPLINE_CLI_OPTIONS_H
#define TAPLINE_CLI_OPTIONS_H

struct ToolOptions {
    const char *device; // -d, --device: a chain position; null: none
    const char *serial; // -s, --serial: the adapter's serial; null: none
};

// Reads the options from argv[1] on. Returns the index of the command
// word (argc when there is none), or -1 for an option without its value.
int options_parse(int argc, char **argv, struct ToolOptions *options);

#endif
