#include "jtag/scan.h"

#include <stdio.h>
#include <string.h>

const struct ChainPosition chain_lone_fpga = {6, 0, 0, 0, 0};

namespace {

int bit_at(const unsigned char *bits, uint32_t i)
{
    return bits ? (bits[i / 8] >> (i % 8)) & 1 : 0;
}

void set_one(unsigned char *bits, uint32_t i)
{
    bits[i / 8] |= (unsigned char)(1U << (i % 8));
}

// Bits [from, from + count) of a shift.
struct BitRange {
    uint32_t from;
    uint32_t count;
};

// Shifts the range of out's bits, whole bytes first, staying in the Shift
// state; when in is not null, what comes back lands from bit in_at.
void shift_run(struct MpsseQueue *q, const unsigned char *out, BitRange range,
               unsigned char *in, uint32_t in_at)
{
    const uint32_t bytes = range.count / 8;
    if (bytes > 0) {
        if (range.from % 8 == 0 || !out) {
            queue_bytes(q, out ? out + range.from / 8 : nullptr, bytes, in,
                        in_at);
        } else {
            for (uint32_t b = 0; b < bytes; b++) {
                unsigned char v = 0;
                for (unsigned k = 0; k < 8; k++)
                    v |= (unsigned char)(bit_at(out, range.from + b * 8 + k)
                                         << k);
                queue_bytes(q, &v, 1, in, in_at + b * 8);
            }
        }
    }
    const uint32_t rest = range.count % 8;
    if (rest > 0) {
        const uint32_t at = range.from + bytes * 8;
        unsigned char v = 0;
        for (unsigned k = 0; k < rest; k++)
            v |= (unsigned char)(bit_at(out, at + k) << k);
        queue_bits(q, &v, rest, in, in_at + bytes * 8);
    }
}

// Bits [0, nbits) of out, of which [read_from, read_from + read_count)
// are read into in from its bit 0. When end is not the Shift state, the
// last bit rides on the clock out of it, and the path on to end follows:
// in the same command, or, when the last bit is read, in one of its own
// after the read clock.
void shift_bits(struct Jtag *j, const unsigned char *out, uint32_t nbits,
                unsigned char *in, uint32_t read_from, uint32_t read_count,
                enum JtagState end)
{
    struct MpsseQueue *q = &j->queue;
    const enum JtagState shift = j->state;
    const bool leave = end != shift && nbits > 0;
    const uint32_t body = leave ? nbits - 1 : nbits;
    const uint32_t read_end = in ? read_from + read_count : 0;
    // Up to three runs: before the read window, in it, after it.
    const uint32_t cuts[4] = {0, read_from < body ? read_from : body,
                              read_end < body ? read_end : body, body};
    for (int r = 0; r < 3; r++) {
        if (cuts[r + 1] <= cuts[r])
            continue;
        const bool reading = in && r == 1;
        shift_run(q, out, BitRange{cuts[r], cuts[r + 1] - cuts[r]},
                  reading ? in : nullptr, cuts[r] - read_from);
    }
    if (!leave) {
        if (end != shift)
            jtag_goto(j, end);
        return;
    }
    const int last = bit_at(out, nbits - 1);
    const bool read_last = in && nbits - 1 >= read_from && nbits - 1 < read_end;
    const enum JtagState exit1 = tap_next(shift, 1);
    const TmsRun on = tap_path(exit1, end);
    if (read_last) {
        queue_tms_read(q, TmsRun{1, 1}, last, in, nbits - 1 - read_from);
        if (on.count > 0)
            queue_tms(q, on, last);
    } else {
        queue_tms(q, TmsRun{1U | on.levels << 1, on.count + 1}, last);
    }
    j->state = tap_arrival(end);
}

// The chain's instruction bits: BYPASS for the devices nearer TDO (shifted
// first, they travel furthest), the target's code, BYPASS for the devices
// nearer TDI. Returns the length.
uint32_t ir_bits(const struct ChainPosition *pos, unsigned code,
                 unsigned char *bits)
{
    const uint32_t total =
        pos->ir_nearer_tdo + pos->ir_length + pos->ir_nearer_tdi;
    memset(bits, 0, (total + 7) / 8);
    uint32_t i = 0;
    for (unsigned k = 0; k < pos->ir_nearer_tdo; k++)
        set_one(bits, i++);
    for (unsigned k = 0; k < pos->ir_length; k++, i++)
        if (k < 32 && ((code >> k) & 1))
            set_one(bits, i);
    for (unsigned k = 0; k < pos->ir_nearer_tdi; k++)
        set_one(bits, i++);
    return total;
}

} // namespace

void jtag_shift(struct Jtag *j, const unsigned char *out, unsigned char *in,
                uint32_t nbits, enum JtagState end)
{
    shift_bits(j, out, nbits, in, 0, in ? nbits : 0, end);
}

void scan_ir(struct Jtag *j, const struct ChainPosition *pos, unsigned code,
             enum JtagState end, unsigned char *capture)
{
    unsigned char bits[SCAN_MAX_IR_BITS / 8 + 4];
    const uint32_t total = ir_bits(pos, code, bits);
    if (j->state != TAP_IR_SHIFT)
        jtag_goto(j, TAP_IR_SHIFT);
    // Captures leave TDO nearest device first: the target's follow those
    // of the devices nearer TDO.
    if (capture)
        memset(capture, 0, (pos->ir_length + 7) / 8);
    shift_bits(j, bits, total, capture, pos->ir_nearer_tdo,
               capture ? pos->ir_length : 0, end);
}

void scan_dr(struct Jtag *j, const struct ChainPosition *pos,
             const unsigned char *out, unsigned char *in, uint32_t nbits,
             enum JtagState end)
{
    if (j->state != TAP_DR_SHIFT)
        jtag_goto(j, TAP_DR_SHIFT);
    struct MpsseQueue *q = &j->queue;
    // Reads skip the bypass bits of the devices nearer TDO.
    if (in && pos->devices_nearer_tdo > 0)
        shift_run(q, nullptr, BitRange{0, pos->devices_nearer_tdo}, nullptr, 0);
    const unsigned pad = out ? pos->devices_nearer_tdi : 0;
    if (pad == 0) {
        jtag_shift(j, out, in, nbits, end);
        return;
    }
    // Writes are pushed through the devices nearer TDI.
    jtag_shift(j, out, in, nbits, TAP_DR_SHIFT);
    jtag_shift(j, nullptr, nullptr, pad, end);
}

int jtag_load_ir(struct Jtag *j, const struct ChainPosition *pos, unsigned code)
{
    unsigned char bits[SCAN_MAX_IR_BITS / 8 + 4];
    // The instruction register takes code bits 0..4 and a sixth bit 0.
    const uint32_t total = ir_bits(pos, code & 0x1F, bits);
    int tms_result = jtag_walk(j, TAP_IR_SHIFT);
    int result = 0;
    shift_run(&j->queue, bits, BitRange{0, total - 1}, nullptr, 0);
    if (queue_send(&j->queue) != QUEUE_OK) {
        queue_report(STEP_SHIFT_IR_BITS, QUEUE_WRITE_FAILED, 0);
        result = -1;
    }
    // The last bit goes with the clock into Exit1-IR.
    queue_tms(&j->queue, TmsRun{1, 1}, bit_at(bits, total - 1));
    j->state = TAP_IR_EXIT1;
    if (queue_send(&j->queue) != QUEUE_OK)
        tms_result = -1;
    if (jtag_walk(j, TAP_IDLE) != 0)
        tms_result = -1;
    if (tms_result != 0) {
        queue_report(STEP_LOAD_IR, QUEUE_WRITE_FAILED, code);
        result = -1;
    }
    return result;
}

int jtag_read_dr(struct Jtag *j, const struct ChainPosition *pos,
                 const unsigned char *out, unsigned char *in, int count)
{
    if (count < 1 || count > 65535) {
        fprintf(stderr, "Can't read %d bytes: count must be 1 to 65535\n",
                count);
        return -1;
    }
    int result = 0;
    if (jtag_walk(j, TAP_DR_SHIFT) != 0) {
        queue_report(STEP_ENTER_SHIFT_DR, QUEUE_WRITE_FAILED, 0);
        result = -1;
    }
    struct MpsseQueue *q = &j->queue;
    if (pos->devices_nearer_tdo > 0)
        shift_run(q, nullptr, BitRange{0, pos->devices_nearer_tdo}, nullptr, 0);
    queue_bytes(q, out, (uint32_t)count, in, 0);
    enum QueueResult r = queue_send(q);
    if (r != QUEUE_OK) {
        q->n_reads = 0;
        q->answers = 0;
        queue_report(STEP_READ_DR, r, 0);
        return -1;
    }
    r = queue_receive(q);
    if (r != QUEUE_OK) {
        queue_report(STEP_READ_DR, r, 0);
        return -1;
    }
    return result;
}
