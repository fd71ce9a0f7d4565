// What the tool says about itself: help and version, no adapter needed.
#ifndef TAPLINE_CLI_ABOUT_H
#define TAPLINE_CLI_ABOUT_H

// If word is -h, --help, -V or --version, prints the help or the version on
// standard output and returns true; any other word prints nothing.
bool print_about(const char *word);

#endif
