#include "jtag/chain.h"

#include <string.h>

#include "jtag/scan.h"

namespace {

// Room for the longest chain's ID codes, then a whole word of the ones
// shifted in after them.
enum : unsigned {
    ID_READ_BITS = 32 * (CHAIN_MAX_DEVICES + 1),
    // The 0 marker, then enough ones to fill the longest instruction chain
    // and show the marker after it.
    IR_READ_BITS = 8 * (CHAIN_MAX_IR_BITS / 8 + 1),
    BYPASS_READ_BITS = 8 * (CHAIN_MAX_DEVICES / 8 + 1),
};

int bit(const unsigned char *bits, unsigned i)
{
    return (bits[i / 8] >> (i % 8)) & 1;
}

uint32_t word_at(const unsigned char *bits, unsigned from)
{
    uint32_t w = 0;
    for (unsigned k = 0; k < 32; k++)
        w |= (uint32_t)bit(bits, from + k) << k;
    return w;
}

// The ID codes as they left TDO, nearest TDO first; ones shifted in after
// the last device read as an all-ones word, which no device has. Stores
// them nearest TDI first. False when the read never reached that word.
bool parse_ids(const unsigned char *bits, struct ChainScan *scan)
{
    uint32_t found[CHAIN_MAX_DEVICES + 1];
    unsigned n = 0;
    unsigned at = 0;
    while (at + 32 <= ID_READ_BITS) {
        if (!bit(bits, at)) { // BYPASS after reset: no ID code
            if (n == CHAIN_MAX_DEVICES)
                return false;
            found[n++] = 0;
            at++;
            continue;
        }
        const uint32_t code = word_at(bits, at);
        if (code == 0xFFFFFFFFU)
            break;
        if (n == CHAIN_MAX_DEVICES)
            return false;
        found[n++] = code;
        at += 32;
    }
    if (at + 32 > ID_READ_BITS)
        return false;
    scan->count = n;
    for (unsigned i = 0; i < n; i++)
        scan->idcodes[i] = found[n - 1 - i];
    return true;
}

} // namespace

int chain_capture_bit(const struct ChainScan *scan, unsigned i)
{
    return bit(scan->ir_capture, i);
}

enum ChainScanResult chain_scan(struct Jtag *j, struct ChainScan *scan)
{
    unsigned char ones[ID_READ_BITS / 8];
    unsigned char ids[ID_READ_BITS / 8] = {};
    unsigned char marker[IR_READ_BITS / 8];
    unsigned char ir[IR_READ_BITS / 8] = {};
    unsigned char bypass[BYPASS_READ_BITS / 8] = {};
    memset(ones, 0xFF, sizeof ones);
    memset(marker, 0xFF, sizeof marker);
    marker[0] = 0xFE;

    jtag_queue_reset_to_idle(j);
    jtag_goto(j, TAP_DR_SHIFT);
    jtag_shift(j, ones, ids, ID_READ_BITS, TAP_IR_SHIFT);
    // What the instruction registers captured comes out first, then the
    // marker: the last 0 out is the marker, as many bits in as the chain
    // is long. The ones behind it leave every device in BYPASS.
    jtag_shift(j, marker, ir, IR_READ_BITS, TAP_DR_SHIFT);
    // BYPASS captures 0: as many zeros come out as there are devices.
    jtag_shift(j, ones, bypass, BYPASS_READ_BITS, TAP_IDLE_VIA_RESET);
    queue_answer_now(&j->queue);
    const enum QueueResult r = queue_run(&j->queue);
    if (r != QUEUE_OK) {
        queue_report(STEP_DETECT_CHAIN, r, 0);
        return CHAIN_SCAN_FAILED;
    }

    scan->count = 0;
    scan->first_word = word_at(ids, 0);
    unsigned last_zero = IR_READ_BITS;
    for (unsigned i = 0; i < IR_READ_BITS; i++)
        if (!bit(ir, i))
            last_zero = i;
    unsigned first_one = BYPASS_READ_BITS;
    for (unsigned i = BYPASS_READ_BITS; i-- > 0;)
        if (bit(bypass, i))
            first_one = i;
    // TDO stuck high reads no zero at all; stuck low, nothing but zeros.
    if (last_zero == IR_READ_BITS || last_zero + 1 == IR_READ_BITS ||
        first_one == 0)
        return CHAIN_SCAN_NOTHING;
    if (last_zero > CHAIN_MAX_IR_BITS || first_one == BYPASS_READ_BITS ||
        !parse_ids(ids, scan))
        return CHAIN_SCAN_TOO_LONG;
    scan->ir_total = last_zero;
    memset(scan->ir_capture, 0, sizeof scan->ir_capture);
    memcpy(scan->ir_capture, ir, (last_zero + 7) / 8);
    scan->bypass_count = first_one;
    if (scan->count == 0)
        return CHAIN_SCAN_NOTHING;
    if (scan->count != scan->bypass_count)
        return CHAIN_SCAN_MISMATCH;
    return CHAIN_SCAN_OK;
}
