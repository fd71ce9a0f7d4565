#include "xilinx/stat_read.h"

#include <string.h>

namespace {

unsigned char reverse_bits(unsigned char b)
{
    b = (unsigned char)((b >> 4) | (b << 4));
    b = (unsigned char)(((b >> 2) & 0x33) | ((b & 0x33) << 2));
    return (unsigned char)(((b >> 1) & 0x55) | ((b & 0x55) << 1));
}

// Configuration words go most significant bit first; the shifter sends
// least significant first, so each byte goes bit-reversed.
uint32_t words_to_bits(const uint32_t *words, size_t n_words,
                       unsigned char *bits, unsigned word_bits)
{
    uint32_t n = 0;
    for (size_t w = 0; w < n_words; w++)
        for (int shift = (int)word_bits - 8; shift >= 0; shift -= 8)
            bits[n++] = reverse_bits((unsigned char)(words[w] >> shift));
    return n * 8;
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

    jtag_queue_reset_to_idle(j);
    scan_ir(j, pos, insn->cfg_in, TAP_DR_SHIFT, nullptr);
    jtag_shift(j, nullptr, nullptr, pad_bits % 32, TAP_DR_SHIFT);
    // Exit1-DR, then Update-DR, Select-DR, Select-IR, Capture-IR, Shift-IR:
    // resting in Run-Test/Idle here makes a Spartan-6 read back zeros.
    scan_dr(j, pos, request, nullptr, request_bits, TAP_IR_SHIFT);
    scan_ir(j, pos, insn->cfg_out, TAP_DR_SHIFT, nullptr);
    scan_dr(j, pos, nullptr, answer, word_bits, TAP_DR_SHIFT);
    if (with_sync) {
        // The TMS-high clock into Exit1-DR shifts one more bit, unread.
        jtag_goto(j, TAP_IR_SHIFT);
        scan_ir(j, pos, insn->cfg_in, TAP_DR_SHIFT, nullptr);
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
    uint32_t v = 0;
    for (unsigned i = 0; i < word_bits / 8; i++)
        v = v << 8 | reverse_bits(answer[i]);
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
