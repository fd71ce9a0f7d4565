// SIGINT, SIGTERM and SIGHUP during a load: the handler only notes the
// signal; the load stops sending at the next chunk, and the process ends by
// the same signal once the adapter is released.
#ifndef TAPLINE_CLI_INTERRUPT_H
#define TAPLINE_CLI_INTERRUPT_H

// From here on the three signals are noted instead of ending the process.
// One the caller ignores (nohup, a background job) stays ignored.
void interrupt_catch();

// The signal noted since interrupt_catch, or 0.
int interrupt_pending();

// When a signal was noted: puts back what interrupt_catch found and raises
// the signal again, so the parent sees the process end by it (a shell
// reports 128 + N). Returns status when none was noted, or when the signal
// did not end the process.
int interrupt_finish(int status);

#endif
