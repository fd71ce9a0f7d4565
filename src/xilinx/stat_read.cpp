#include "xilinx/stat_read.h"

#include <string.h>

#include "bitstream/mirror.h"

namespace {

// Configuration words go most significant bit first; the shifter sends
// least significant first, so the bytes go mirrored, as a load's do.
uint32_t words_to_bits(const uint32_t *words, size_t n_words,
                       unsigned char *bits, unsigned word_bits)
{
    uint32_t n = 0;
    for (size_t w = 0; w < n_words; w++)
        for (int shift = (int)word_bits - 8; shift >= 0; shift -= 8)
            bits[n++] = (unsigned char)(words[w] >> shift);
    bitstream_mirror(bits, bits, n);
    return n * 8;
}

// Every write scan hands the target first the bits the bypass registers of
// the devices nearer TDI captured (zeros), which would shift a synchronised
// logic's word boundary: the low bits of a no-op complete those zeros to a
// whole no-op (its top two bits are zero, so one or two devices fit).
// Returns the bits to shift ahead of the data, 0 when none are needed or
// none can help.
uint32_t noop_prefix(const struct XilinxFamily *f,
                     const struct ChainPosition *pos, unsigned char *bits)
{
    const unsigned k = pos->devices_nearer_tdi;
    const unsigned word_bits = family_word_bits(f);
    if (k == 0 || k > 2)
        return 0;
    const uint32_t noop = f->desync[2];
    const uint32_t n = word_bits - k;
    memset(bits, 0, 4);
    for (uint32_t i = 0; i < n; i++)
        if ((noop >> (n - 1 - i)) & 1)
            bits[i / 8] |= (unsigned char)(1U << (i % 8));
    return n;
}

} // namespace

namespace {

// One read: the request (from its first word, or past its sync words for a
// logic still synchronised), CFG_OUT, and for a synchronised request a
// DESYNC, which leaves the logic as it was found; then through reset to
// Run-Test/Idle.
enum QueueResult read_once(struct Jtag *j, const struct ChainPosition *pos,
                           const struct FamilyInstructions *insn,
                           const struct XilinxFamily *f, unsigned pad_bits,
                           bool with_sync, uint32_t *value)
{
    const unsigned word_bits = family_word_bits(f);
    const size_t skip = with_sync ? 0 : f->stat_sync_words;
    unsigned char request[32]; // the longest request is 20 bytes
    unsigned char desync[16];
    unsigned char answer[4] = {};
    const uint32_t request_bits =
        words_to_bits(f->stat_request + skip, f->stat_request_words - skip,
                      request, word_bits);
    const uint32_t desync_bits =
        words_to_bits(f->desync, f->desync_words, desync, word_bits);

    unsigned char prefix[4];
    const uint32_t prefix_bits = noop_prefix(f, pos, prefix);

    jtag_queue_reset_to_idle(j);
    scan_ir(j, pos, insn->cfg_in, TAP_DR_SHIFT, nullptr);
    jtag_shift(j, nullptr, nullptr, pad_bits % 32, TAP_DR_SHIFT);
    jtag_shift(j, prefix, nullptr, prefix_bits, TAP_DR_SHIFT);
    // Exit1-DR, then Update-DR, Select-DR, Select-IR, Capture-IR, Shift-IR:
    // resting in Run-Test/Idle here makes a Spartan-6 read back zeros.
    scan_dr(j, pos, request, nullptr, request_bits, TAP_IR_SHIFT);
    scan_ir(j, pos, insn->cfg_out, TAP_DR_SHIFT, nullptr);
    scan_dr(j, pos, nullptr, answer, word_bits, TAP_DR_SHIFT);
    if (with_sync) {
        // The TMS-high clock into Exit1-DR shifts one more bit, unread.
        jtag_goto(j, TAP_IR_SHIFT);
        scan_ir(j, pos, insn->cfg_in, TAP_DR_SHIFT, nullptr);
        jtag_shift(j, prefix, nullptr, prefix_bits, TAP_DR_SHIFT);
        scan_dr(j, pos, desync, nullptr, desync_bits, TAP_IDLE_VIA_RESET);
    } else {
        jtag_goto(j, TAP_IDLE_VIA_RESET);
    }
    queue_answer_now(&j->queue);
    const enum QueueResult r = queue_run(&j->queue);
    if (r != QUEUE_OK)
        return r;
    // The register comes out most significant bit first into a shifter
    // that fills each byte from bit 0.
    bitstream_mirror(answer, answer, word_bits / 8);
    uint32_t v = 0;
    for (unsigned i = 0; i < word_bits / 8; i++)
        v = v << 8 | answer[i];
    *value = v;
    return QUEUE_OK;
}

} // namespace

enum QueueResult stat_read(struct Jtag *j, const struct ChainPosition *pos,
                           const struct FamilyInstructions *insn,
                           const struct XilinxFamily *f, unsigned pad_bits,
                           uint32_t *value)
{
    // A logic left synchronised (a stream without its DESYNC, a start-up
    // waiting for its clock) would take a sync word as a packet header: ask
    // it first without one. Unsynchronised logic ignores that request and
    // answers nothing, so CFG_OUT reads zero; then the whole request.
    enum QueueResult r = read_once(j, pos, insn, f, pad_bits, false, value);
    if (r != QUEUE_OK || *value != 0)
        return r;
    return read_once(j, pos, insn, f, 0, true, value);
}
