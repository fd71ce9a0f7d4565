// The TAP controller as the tool tracks it: the IEEE 1149.1 states, the
// shortest TMS path between two of them, and the moves that go on the
// wire as single writes where a sequence is fixed clock by clock.
#ifndef TAPLINE_JTAG_TAP_H
#define TAPLINE_JTAG_TAP_H

#include "link/queue.h"

struct ftdi_context;

enum JtagState {
    TAP_RESET,
    TAP_IDLE,
    TAP_DR_SELECT,
    TAP_DR_CAPTURE,
    TAP_DR_SHIFT,
    TAP_DR_EXIT1,
    TAP_DR_PAUSE,
    TAP_DR_EXIT2,
    TAP_DR_UPDATE,
    TAP_IR_SELECT,
    TAP_IR_CAPTURE,
    TAP_IR_SHIFT,
    TAP_IR_EXIT1,
    TAP_IR_PAUSE,
    TAP_IR_EXIT2,
    TAP_IR_UPDATE,
    TAP_STATE_COUNT,               // the sixteen states above
    TAP_UNKNOWN = TAP_STATE_COUNT, // before the first reset
    // A destination only: five TMS-high clocks to Test-Logic-Reset, then
    // one low to Run-Test/Idle.
    TAP_IDLE_VIA_RESET,
};

// Where one TCK with TMS at level takes the TAP.
enum JtagState tap_next(enum JtagState state, int tms);

// The shortest path from one state to another. To Test-Logic-Reset it is
// always five TMS-high clocks, which get there from any state, whatever
// the tracked one says.
struct TmsRun tap_path(enum JtagState from, enum JtagState to);

// The queue and where the TAP is. One per run, over the entry's context
// and transfer buffer.
struct Jtag {
    struct MpsseQueue queue;
    enum JtagState state;
};

void jtag_init(struct Jtag *j, struct ftdi_context *ftdi, unsigned char *buf);

// One TCK with TMS at level (non-zero is high), TDI low, as a write of its
// own. Returns 0 when the whole command went out, -1 otherwise; silent.
int jtag_clock_tms(struct Jtag *j, int level);

// Clocks the path to state one clock per write, every clock even after a
// failure. Returns -1 if any write failed; silent.
int jtag_walk(struct Jtag *j, enum JtagState state);

// Any state -> Test-Logic-Reset -> Run-Test/Idle in six single writes, all
// of them always; returns -1 (after one line on standard error) if any
// failed.
int jtag_reset_to_idle(struct Jtag *j);

// Appends the path to state to the queue as one TMS command (two where it
// is longer than seven clocks).
void jtag_goto(struct Jtag *j, enum JtagState state);

// Appends five TMS-high clocks and one low in one command: Test-Logic-Reset
// from anywhere, then Run-Test/Idle.
void jtag_queue_reset_to_idle(struct Jtag *j);

// The state a path to state ends in (Run-Test/Idle for a reset on the way).
enum JtagState tap_arrival(enum JtagState state);

#endif
