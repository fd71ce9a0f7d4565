#include "xilinx/configure.h"

#include <stdio.h>

#include "bitstream/mirror.h"
#include "link/adapter.h"
#include "link/clock.h"
#include "xilinx/capture.h"

namespace {

// JSTART again with 2,000 start-up clocks (more at a faster TCK), then
// back through reset: one write.
int restart_longer(struct Jtag *j, const struct ChainPosition *pos,
                   const struct FamilyInstructions *insn)
{
    scan_ir(j, pos, insn->jstart, TAP_IDLE, nullptr);
    // TDI is ignored outside the Shift states.
    const uint32_t clocks =
        adapter_wait_clocks(&j->queue, CONFIGURE_RETRY_CLOCKS);
    queue_bytes(&j->queue, nullptr, (clocks + 7) / 8, nullptr, 0);
    jtag_queue_reset_to_idle(j);
    const enum QueueResult r = queue_send(&j->queue);
    queue_report(STEP_STARTUP_CLOCKS, r, 0);
    return r == QUEUE_OK ? 0 : -1;
}

} // namespace

int configure_begin(struct Jtag *j, const struct ChainPosition *pos,
                    const struct FamilyInstructions *insn)
{
    if (jtag_reset_to_idle(j) != 0 ||
        jtag_load_ir(j, pos, insn->jprogram) != 0 ||
        configure_wait_init(j, pos, insn) != 0 ||
        jtag_load_ir(j, pos, insn->cfg_in) != 0)
        return -1;
    if (jtag_walk(j, TAP_DR_SHIFT) != 0) {
        queue_report(STEP_ENTER_SHIFT_DR, QUEUE_WRITE_FAILED, 0);
        return -1;
    }
    return 0;
}

unsigned char *configure_chunk(struct Jtag *j, uint32_t n)
{
    return queue_bytes_slot(&j->queue, n);
}

enum QueueResult configure_send_chunk(struct Jtag *j)
{
    return queue_send(&j->queue);
}

int configure_send_desync(struct Jtag *j, const struct XilinxFamily *family)
{
    // The words as a stream stores them, then mirrored as the load
    // mirrors the stream: most significant bit first on the wire.
    unsigned char bytes[16];
    unsigned n = 0;
    for (size_t w = 0; w < family->desync_words; w++)
        for (int shift = (int)family->word_bytes * 8 - 8; shift >= 0;
             shift -= 8)
            bytes[n++] = (unsigned char)(family->desync[w] >> shift);
    bitstream_mirror(bytes, bytes, n);
    queue_bytes(&j->queue, bytes, n, nullptr, 0);
    const enum QueueResult r = queue_send(&j->queue);
    queue_report(STEP_CLOSING_DESYNC, r, 0);
    return r == QUEUE_OK ? 0 : -1;
}

void configure_abandon(struct Jtag *j, const struct ChainPosition *pos,
                       const struct FamilyInstructions *insn)
{
    queue_purge(&j->queue);
    j->state = TAP_UNKNOWN;
    jtag_queue_reset_to_idle(j);
    scan_ir(j, pos, insn->jprogram, TAP_IDLE, nullptr);
    jtag_queue_reset_to_idle(j);
    queue_send(&j->queue);
}

int configure_start(struct Jtag *j, const struct ChainPosition *pos,
                    const struct FamilyInstructions *insn)
{
    int result = 0;
    if (pos->devices_nearer_tdi > 0) {
        jtag_shift(j, nullptr, nullptr, pos->devices_nearer_tdi, TAP_DR_SHIFT);
        if (queue_send(&j->queue) != QUEUE_OK)
            result = -1;
    }
    if (jtag_walk(j, TAP_IDLE) != 0 || result != 0) {
        queue_report(STEP_LEAVE_SHIFT_DR, QUEUE_WRITE_FAILED, 0);
        result = -1;
    }
    if (jtag_load_ir(j, pos, insn->jstart) != 0)
        result = -1;
    int clocks = 0;
    const uint32_t total =
        adapter_wait_clocks(&j->queue, CONFIGURE_STARTUP_CLOCKS);
    if (total == CONFIGURE_STARTUP_CLOCKS) {
        for (uint32_t i = 0; i < total; i++)
            if (jtag_clock_tms(j, 0) != 0)
                clocks = -1;
    } else {
        // A faster TCK keeps the wait's time, not its one write per clock:
        // at 30 MHz the USB transfers would cost more than the clocks.
        queue_tms(&j->queue, TmsRun{0, total}, 0);
        if (queue_send(&j->queue) != QUEUE_OK)
            clocks = -1;
    }
    if (clocks != 0) {
        queue_report(STEP_STARTUP_CLOCKS, QUEUE_WRITE_FAILED, 0);
        result = -1;
    }
    if (jtag_reset_to_idle(j) != 0)
        result = -1;
    return result;
}

int configure_wait_init(struct Jtag *j, const struct ChainPosition *pos,
                        const struct FamilyInstructions *insn)
{
    // CFG_IN, not BYPASS: BYPASS would hand the device back to its own
    // configuration source (its flash), which then races with JTAG.
    unsigned long start = clock_ms();
    for (;;) {
        unsigned char capture = 0;
        if (capture_read(j, pos, insn->cfg_in, &capture) != 0)
            return -1;
        if (capture & CAPTURE_INIT)
            return 0;
        if (clock_ms() - start >= (unsigned long)CONFIGURE_INIT_WAIT_LIMIT_MS) {
            fprintf(stderr,
                    "FPGA did not clear its configuration (IR capture %02x)\n",
                    capture);
            return -1;
        }
    }
}

int configure_confirm_done(struct Jtag *j, const struct ChainPosition *pos,
                           const struct FamilyInstructions *insn)
{
    // IDCODE is what Test-Logic-Reset selected already: capturing with it
    // changes nothing on the device.
    unsigned char capture = 0;
    if (capture_read(j, pos, insn->idcode, &capture) != 0)
        return -1;
    if (capture & CAPTURE_DONE)
        return 0;
    if (capture & CAPTURE_INIT) {
        if (restart_longer(j, pos, insn) != 0)
            return -1;
        if (capture_read(j, pos, insn->idcode, &capture) != 0)
            return -1;
        if (capture & CAPTURE_DONE)
            return 0;
    }
    fprintf(stderr, "FPGA did not start: DONE low, INIT %s (IR capture %02x)\n",
            (capture & CAPTURE_INIT) ? "high" : "low (CRC or ID code error)",
            capture);
    return CONFIGURE_NOT_STARTED;
}
