#include "jtag/tap.h"

#include "link/queue.h"

namespace {

// IEEE 1149.1 transitions: where TMS low and TMS high lead from each state.
const unsigned char transitions[16][2] = {
    /* TAP_RESET */ {TAP_IDLE, TAP_RESET},
    /* TAP_IDLE */ {TAP_IDLE, TAP_DR_SELECT},
    /* TAP_DR_SELECT */ {TAP_DR_CAPTURE, TAP_IR_SELECT},
    /* TAP_DR_CAPTURE */ {TAP_DR_SHIFT, TAP_DR_EXIT1},
    /* TAP_DR_SHIFT */ {TAP_DR_SHIFT, TAP_DR_EXIT1},
    /* TAP_DR_EXIT1 */ {TAP_DR_PAUSE, TAP_DR_UPDATE},
    /* TAP_DR_PAUSE */ {TAP_DR_PAUSE, TAP_DR_EXIT2},
    /* TAP_DR_EXIT2 */ {TAP_DR_SHIFT, TAP_DR_UPDATE},
    /* TAP_DR_UPDATE */ {TAP_IDLE, TAP_DR_SELECT},
    /* TAP_IR_SELECT */ {TAP_IR_CAPTURE, TAP_RESET},
    /* TAP_IR_CAPTURE */ {TAP_IR_SHIFT, TAP_IR_EXIT1},
    /* TAP_IR_SHIFT */ {TAP_IR_SHIFT, TAP_IR_EXIT1},
    /* TAP_IR_EXIT1 */ {TAP_IR_PAUSE, TAP_IR_UPDATE},
    /* TAP_IR_PAUSE */ {TAP_IR_PAUSE, TAP_IR_EXIT2},
    /* TAP_IR_EXIT2 */ {TAP_IR_SHIFT, TAP_IR_UPDATE},
    /* TAP_IR_UPDATE */ {TAP_IDLE, TAP_DR_SELECT},
};

} // namespace

enum JtagState tap_arrival(enum JtagState state)
{
    return state == TAP_IDLE_VIA_RESET ? TAP_IDLE : state;
}

enum JtagState tap_next(enum JtagState state, int tms)
{
    if (state == TAP_UNKNOWN || state == TAP_IDLE_VIA_RESET)
        return TAP_UNKNOWN;
    return (enum JtagState)transitions[state][tms ? 1 : 0];
}

struct TmsRun tap_path(enum JtagState from, enum JtagState to)
{
    if (to == TAP_RESET)
        return TmsRun{0x1F, 5};
    if (to == TAP_IDLE_VIA_RESET)
        return TmsRun{0x1F, 6};
    if (from >= TAP_STATE_COUNT || to >= TAP_STATE_COUNT || from == to)
        return TmsRun{0, 0};
    // Breadth first over the sixteen states: the first path found is a
    // shortest one, lower levels tried first.
    TmsRun paths[TAP_STATE_COUNT];
    bool seen[TAP_STATE_COUNT] = {};
    enum JtagState queue[TAP_STATE_COUNT];
    unsigned head = 0;
    unsigned tail = 0;
    queue[tail++] = from;
    seen[from] = true;
    paths[from] = TmsRun{0, 0};
    while (head < tail) {
        const enum JtagState s = queue[head++];
        for (int tms = 0; tms < 2; tms++) {
            const enum JtagState n = tap_next(s, tms);
            if (n >= TAP_STATE_COUNT || seen[n])
                continue;
            seen[n] = true;
            paths[n] = TmsRun{paths[s].levels | (unsigned)tms << paths[s].count,
                              paths[s].count + 1};
            if (n == to)
                return paths[n];
            queue[tail++] = n;
        }
    }
    return TmsRun{0, 0};
}

void jtag_init(struct Jtag *j, struct ftdi_context *ftdi, unsigned char *buf)
{
    queue_init(&j->queue, ftdi, buf);
    j->state = TAP_UNKNOWN;
}

int jtag_clock_tms(struct Jtag *j, int level)
{
    queue_tms(&j->queue, TmsRun{level ? 1U : 0U, 1}, 0);
    j->state = tap_next(j->state, level);
    return queue_send(&j->queue) == QUEUE_OK ? 0 : -1;
}

int jtag_walk(struct Jtag *j, enum JtagState state)
{
    // Fixed sequences start in Run-Test/Idle: a caller that has not reset
    // the TAP yet is taken at its word.
    if (j->state == TAP_UNKNOWN)
        j->state = TAP_IDLE;
    const TmsRun path = tap_path(j->state, state);
    int result = 0;
    for (unsigned i = 0; i < path.count; i++)
        if (jtag_clock_tms(j, (int)((path.levels >> i) & 1)) != 0)
            result = -1;
    if (state == TAP_RESET)
        j->state = TAP_RESET;
    return result;
}

int jtag_reset_to_idle(struct Jtag *j)
{
    int result = jtag_walk(j, TAP_RESET);
    if (jtag_walk(j, TAP_IDLE) != 0)
        result = -1;
    if (result != 0)
        queue_report(STEP_RESET_TAP, QUEUE_WRITE_FAILED, 0);
    return result;
}

void jtag_goto(struct Jtag *j, enum JtagState state)
{
    const TmsRun path = tap_path(j->state, state);
    if (path.count > 0)
        queue_tms(&j->queue, path, 0);
    j->state = tap_arrival(state);
}

void jtag_queue_reset_to_idle(struct Jtag *j)
{
    jtag_goto(j, TAP_IDLE_VIA_RESET);
}
