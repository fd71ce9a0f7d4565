#include "xilinx/capture.h"

#include <stdio.h>

int capture_read(struct Jtag *j, const struct ChainPosition *pos, unsigned code,
                 unsigned char *capture)
{
    // The answers come at once rather than after the latency timer.
    unsigned char bits[4] = {};
    scan_ir(j, pos, code, TAP_IDLE, bits);
    queue_answer_now(&j->queue);
    const enum QueueResult r = queue_run(&j->queue);
    if (r != QUEUE_OK) {
        queue_report(STEP_CAPTURE_IR, r, 0);
        return -1;
    }
    *capture = bits[0];
    // A capture whose fixed bits are wrong says nothing about INIT or DONE.
    if ((*capture & CAPTURE_FIXED_MASK) != CAPTURE_FIXED) {
        fprintf(stderr,
                "No valid IR capture (%02x): is the FPGA alone on the JTAG "
                "chain?\n",
                *capture);
        return -1;
    }
    return 0;
}
