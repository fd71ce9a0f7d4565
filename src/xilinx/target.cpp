#include "xilinx/target.h"

#include <stdio.h>
#include <stdlib.h>

#include "xilinx/devices.h"
#include "xilinx/idcode.h"
#include "xilinx/stacked.h"

namespace {

// Positions as "0, 2" for a message.
void list_positions(const bool *chosen, unsigned count, char *out, size_t size)
{
    size_t used = 0;
    out[0] = '\0';
    for (unsigned i = 0; i < count && used < size; i++) {
        if (!chosen[i])
            continue;
        const int n =
            snprintf(out + used, size - used, "%s%u", used ? ", " : "", i);
        used += n > 0 ? (size_t)n : 0;
    }
}

// Every device's capture starts with 01 (bit 0 first), the device nearest
// TDO first out.
bool captures_agree(const struct ChainScan *scan, const struct Chain *chain)
{
    unsigned at = 0;
    for (unsigned i = chain->count; i-- > 0;) {
        if (!chain_capture_bit(scan, at) || chain_capture_bit(scan, at + 1))
            return false;
        at += chain->devices[i].ir_length;
    }
    return true;
}

int split_ir(const struct ChainScan *scan, struct Chain *chain)
{
    unsigned known_bits = 0;
    unsigned unknown = 0;
    unsigned unknown_at = 0;
    bool unknowns[CHAIN_MAX_DEVICES] = {};
    for (unsigned i = 0; i < chain->count; i++) {
        ChainDevice &d = chain->devices[i];
        if (devices_lookup(d.idcode, &d.ir_length, &d.name)) {
            known_bits += d.ir_length;
        } else {
            unknowns[i] = true;
            unknown++;
            unknown_at = i;
        }
    }
    if (unknown > 1) {
        char where[128];
        list_positions(unknowns, chain->count, where, sizeof where);
        fprintf(stderr,
                "Can't tell the JTAG chain apart: the IR lengths of the "
                "devices at positions %s are unknown (%u IR bits in all)\n",
                where, scan->ir_total);
        return -1;
    }
    // One unknown device takes what is left; an IR is at least 2 bits.
    if (unknown == 1) {
        if (scan->ir_total < known_bits + 2) {
            fprintf(stderr,
                    "Can't tell the JTAG chain apart: %u IR bits leave no "
                    "room for the unknown device at position %u\n",
                    scan->ir_total, unknown_at);
            return -1;
        }
        chain->devices[unknown_at].ir_length = scan->ir_total - known_bits;
    } else if (known_bits != scan->ir_total) {
        fprintf(stderr,
                "Can't tell the JTAG chain apart: its devices' IR lengths add "
                "up to %u bits, the chain has %u\n",
                known_bits, scan->ir_total);
        return -1;
    }
    if (!captures_agree(scan, chain)) {
        fputs("Can't tell the JTAG chain apart: the IR captures do not match "
              "the devices' IR lengths\n",
              stderr);
        return -1;
    }
    return 0;
}

void position_of(const struct Chain *chain, unsigned index,
                 struct ChainPosition *pos)
{
    pos->ir_length = chain->devices[index].ir_length;
    pos->ir_nearer_tdi = 0;
    pos->ir_nearer_tdo = 0;
    for (unsigned i = 0; i < chain->count; i++) {
        if (i < index)
            pos->ir_nearer_tdi += chain->devices[i].ir_length;
        else if (i > index)
            pos->ir_nearer_tdo += chain->devices[i].ir_length;
    }
    pos->devices_nearer_tdi = index;
    pos->devices_nearer_tdo = chain->count - 1 - index;
}

// --device's value as a position, or -1 when it is none on this chain.
long device_arg(const char *text, unsigned count)
{
    char *end = nullptr;
    if (text[0] < '0' || text[0] > '9')
        return -1;
    const unsigned long n = strtoul(text, &end, 10);
    if (*end != '\0' || n >= count)
        return -1;
    return (long)n;
}

void fill_target(const struct Chain *chain, unsigned index,
                 struct Target *target)
{
    target->index = index;
    target->count = chain->count;
    position_of(chain, index, &target->pos);
    target->idcode = chain->devices[index].idcode;
    target->part = parts_find(target->idcode);
    target->family = parts_family(target->idcode);
    target->insn = *family_instructions(target->family);
    target->dies_unknown = target->part && target->part->multi_die_ir &&
                           !stacked_instructions(target->part, &target->insn);
    if (!parts_behind_ps(target->idcode))
        return;
    // cppcheck-suppress constVariable ; the codes are written through these
    uint32_t *const codes[] = {
        &target->insn.cfg_out,  &target->insn.cfg_in,  &target->insn.idcode,
        &target->insn.jprogram, &target->insn.jstart,  &target->insn.user[0],
        &target->insn.user[1],  &target->insn.user[2], &target->insn.user[3]};
    for (uint32_t *const c : codes)
        if (*c)
            *c |= 0x3FU << PARTS_PS_IR_BITS;
}

// The MPSoC's processing-system TAP alone: JTAG_CTRL (IR 0x824) written
// with both enable bits, then Test-Logic-Reset, puts the programmable
// logic's half and the debug port on the chain. Returns 0, or -1 after a
// line on standard error.
int enable_logic(struct Jtag *j, unsigned ir_length)
{
    static const unsigned char enable[4] = {0x03, 0x00, 0x00, 0x00};
    const struct ChainPosition lone = {ir_length, 0, 0, 0, 0};
    jtag_queue_reset_to_idle(j);
    scan_ir(j, &lone, 0x824, TAP_IDLE, nullptr);
    scan_dr(j, &lone, enable, nullptr, 32, TAP_IDLE);
    jtag_queue_reset_to_idle(j);
    const enum QueueResult r = queue_send(&j->queue);
    queue_report(STEP_DETECT_CHAIN, r, 0);
    return r == QUEUE_OK ? 0 : -1;
}

} // namespace

int chain_identify(struct Jtag *j, struct Chain *chain)
{
    struct ChainScan scan;
    chain->count = 0;
    enum ChainScanResult found = chain_scan(j, &scan);
    if (found == CHAIN_SCAN_OK && scan.count == 1 &&
        parts_behind_ps(scan.idcodes[0])) {
        if (enable_logic(j, scan.ir_total) != 0)
            return -1;
        found = chain_scan(j, &scan);
    }
    switch (found) {
    case CHAIN_SCAN_OK:
        break;
    case CHAIN_SCAN_FAILED:
        return -1;
    case CHAIN_SCAN_NOTHING:
        chain->first_word = scan.first_word;
        return 0;
    case CHAIN_SCAN_TOO_LONG:
        fprintf(stderr,
                "Can't tell the JTAG chain apart: more than %u "
                "devices or %u IR bits\n",
                CHAIN_MAX_DEVICES, CHAIN_MAX_IR_BITS);
        return -1;
    case CHAIN_SCAN_MISMATCH:
        fprintf(stderr,
                "Can't tell the JTAG chain apart: the ID codes show %u "
                "devices, BYPASS shows %u\n",
                scan.count, scan.bypass_count);
        return -1;
    }
    chain->count = scan.count;
    for (unsigned i = 0; i < scan.count; i++) {
        chain->devices[i].idcode = scan.idcodes[i];
        chain->devices[i].ir_length = 0;
        chain->devices[i].name = nullptr;
    }
    chain->first_word = scan.first_word;
    // A lone device is what it is; its instruction register is the chain's.
    if (scan.count == 1) {
        ChainDevice &d = chain->devices[0];
        devices_lookup(d.idcode, &d.ir_length, &d.name);
        d.ir_length = scan.ir_total;
        return 0;
    }
    return split_ir(&scan, chain);
}

int chain_require_devices(const struct Chain *chain)
{
    if (chain->count > 0)
        return 0;
    idcode_report_absent(chain->first_word);
    return -1;
}

int target_choose(const struct Chain *chain, const char *device,
                  uint32_t stream_idcode, const char *file,
                  struct Target *target)
{
    if (chain->count == 0) {
        // Nothing answered: the lone 6-bit device the steps always assumed.
        target->index = 0;
        target->count = 1;
        target->pos = chain_lone_fpga;
        target->idcode = 0;
        target->part = nullptr;
        target->family = nullptr;
        target->insn = family_default_instructions;
        target->dies_unknown = false;
        return 0;
    }
    if (device) {
        const long n = device_arg(device, chain->count);
        if (n < 0) {
            fprintf(stderr,
                    "No device at position %s: the chain has %u devices "
                    "(tapline detect lists them)\n",
                    device, chain->count);
            return -1;
        }
        fill_target(chain, (unsigned)n, target);
        return 0;
    }
    if (chain->count == 1) {
        fill_target(chain, 0, target);
        return 0;
    }
    bool chosen[CHAIN_MAX_DEVICES] = {};
    unsigned found = 0;
    unsigned index = 0;
    for (unsigned i = 0; i < chain->count; i++) {
        const uint32_t code = chain->devices[i].idcode;
        const bool match = stream_idcode
                               ? code && idcode_same_part(code, stream_idcode)
                               : parts_find(code) != nullptr;
        if (match) {
            chosen[i] = true;
            found++;
            index = i;
        }
    }
    if (found == 1) {
        fill_target(chain, index, target);
        return 0;
    }
    if (found > 1) {
        char where[128];
        list_positions(chosen, chain->count, where, sizeof where);
        fprintf(stderr,
                "%u FPGAs on the chain (positions %s): choose one with "
                "--device\n",
                found, where);
    } else if (stream_idcode) {
        fprintf(stderr,
                "%s is for ID code %08lx, which no device on the chain has; "
                "nothing was sent\n",
                file, (unsigned long)stream_idcode);
    } else {
        fputs("No FPGA tapline knows on the JTAG chain (tapline detect lists "
              "the devices): choose one with --device\n",
              stderr);
    }
    return -1;
}
