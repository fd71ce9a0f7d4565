// Standard output's failures: a result that never arrived is a failure, so
// the write errors that printf and puts keep in the stream are checked
// once, where the output must be out.
#ifndef TAPLINE_CLI_OUTPUT_H
#define TAPLINE_CLI_OUTPUT_H

// Flushes standard output. When that write, or an earlier one, failed,
// prints "Can't write standard output: <reason>" on standard error and
// returns -1 (the stream's error is then said and cleared); else 0.
int output_flush();

// output_flush, then closes standard output. A descriptor that was closed
// before the run fails only if something was to be written to it.
int output_close();

#endif
