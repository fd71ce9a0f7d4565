// The tool's writes spelled out byte by byte, so that a wrong constant in
// the tool cannot hide behind itself.
#ifndef TAPLINE_TESTS_WIRE_H
#define TAPLINE_TESTS_WIRE_H

#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Writes = std::vector<Bytes>;

// One TCK with TMS at level, TDI low.
inline Bytes tms(int level)
{
    return {0x4B, 0x00, uint8_t(level ? 1 : 0)};
}

inline Writes concat(std::initializer_list<Writes> parts)
{
    Writes all;
    for (const Writes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Any state -> Test-Logic-Reset -> Run-Test/Idle.
inline Writes reset_writes()
{
    return {tms(1), tms(1), tms(1), tms(1), tms(1), tms(0)};
}

// Run-Test/Idle -> Shift-DR.
inline Writes to_shift_dr_writes()
{
    return {tms(1), tms(0), tms(0)};
}

// Run-Test/Idle -> Shift-IR, five instruction bits, the sixth with the
// clock into Exit1-IR, -> Run-Test/Idle.
inline Writes ir_writes(uint8_t code)
{
    return {tms(1),
            tms(1),
            tms(0),
            tms(0),
            {0x1B, 0x04, uint8_t(code & 0x1F)},
            {0x4B, 0x00, uint8_t(code & 0x20 ? 0x81 : 0x01)},
            tms(1),
            tms(0)};
}

// Run-Test/Idle -> Shift-IR, code out while the capture comes back ->
// Run-Test/Idle, answers sent at once: one write.
inline Bytes capture_write(uint8_t code)
{
    return {0x4B, 0x03, 0x03, 0x3B, 0x04, code, 0x6B,
            0x00, 0x01, 0x4B, 0x01, 0x01, 0x87};
}

// The chain detection every command but help and version starts with, one
// write: reset and idle; to Shift-DR, 33 words of ones while the ID codes
// come back, the last bit on the way out to Shift-IR; a 0 then 519 ones
// while the captures come back, on to Shift-DR; 40 ones while the BYPASS
// bits come back, out through reset to idle; answers at once. Bit shifts
// carry only their bits (seven ones: 0x7F).
inline Bytes detect_write()
{
    Bytes w = {0x4B, 0x05, 0x1F, 0x4B, 0x02, 0x01, 0x39, 0x82, 0x00};
    w.insert(w.end(), 131, 0xFF);
    w.insert(w.end(), {0x3B, 0x06, 0x7F, 0x6B, 0x00, 0x81, 0x4B, 0x04, 0x87,
                       0x39, 0x3F, 0x00, 0xFE});
    w.insert(w.end(), 63, 0xFF);
    w.insert(w.end(), {0x3B, 0x06, 0x7F, 0x6B, 0x00, 0x81, 0x4B, 0x03, 0x83,
                       0x39, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x3B, 0x06,
                       0x7F, 0x6B, 0x00, 0x81, 0x4B, 0x05, 0x9F, 0x87});
    return w;
}

// The status register read, one write: reset to idle, CFG_IN, the request
// (all of it but its last byte given here), CFG_OUT, the read, CFG_IN, a
// DESYNC, reset to idle.
// Reset to idle, to Shift-IR, CFG_IN, its sixth bit and on to Shift-DR.
inline const Bytes stat_head = {0x4B, 0x05, 0x1F, 0x4B, 0x03, 0x03,
                                0x1B, 0x04, 0x05, 0x4B, 0x04, 0x07};
// The request's last bit rides into Exit1-DR, then Shift-IR; CFG_OUT on to
// Shift-DR.
inline const Bytes stat_to_cfg_out = {0x1B, 0x06, 0x00, 0x4B, 0x05, 0x0F,
                                      0x1B, 0x04, 0x04, 0x4B, 0x04, 0x07};
// Exit1-DR on to Shift-IR, CFG_IN on to Shift-DR.
inline const Bytes stat_to_cfg_in = {0x4B, 0x05, 0x0F, 0x1B, 0x04,
                                     0x05, 0x4B, 0x04, 0x07};
// The DESYNC's last bit into Exit1-DR, on to Test-Logic-Reset and
// Run-Test/Idle; answers at once.
inline const Bytes stat_tail = {0x1B, 0x06, 0x00, 0x4B, 0x06, 0x3F, 0x87};

inline const Bytes stat_request32 = {
    0x19, 0x12, 0x00, 0x55, 0x99, 0xAA, 0x66, 0x04, 0x00, 0x00, 0x00,
    0x14, 0x00, 0x07, 0x80, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
inline const Bytes stat_read32 = {0x39, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
inline const Bytes stat_desync32 = {0x19, 0x0E, 0x00, 0x0C, 0x00, 0x01,
                                    0x80, 0x00, 0x00, 0x00, 0xB0, 0x04,
                                    0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
inline const Bytes stat_read16 = {0x39, 0x01, 0x00, 0x00, 0x00};
inline const Bytes stat_desync16 = {0x19, 0x06, 0x00, 0x0C, 0x85,
                                    0x00, 0xB0, 0x04, 0x00, 0x04};

// pad: zero bits ahead of the request that finish a word a cut stream left
// open (whole bytes, then the rest).
inline Bytes pad_bits(unsigned pad)
{
    Bytes zeros;
    if (pad >= 8) {
        zeros = {0x19, uint8_t(pad / 8 - 1), 0x00};
        zeros.resize(3 + pad / 8, 0x00);
    }
    if (pad % 8)
        zeros.insert(zeros.end(), {0x1B, uint8_t(pad % 8 - 1), 0x00});
    return zeros;
}

inline Bytes cat(std::initializer_list<const Bytes *> parts)
{
    Bytes all;
    for (const Bytes *p : parts)
        all.insert(all.end(), p->begin(), p->end());
    return all;
}

inline Bytes stat_read_write(const Bytes &request, bool wide, unsigned pad = 0)
{
    const Bytes zeros = pad_bits(pad);
    return cat({&stat_head, &zeros, &request, &stat_to_cfg_out,
                wide ? &stat_read32 : &stat_read16, &stat_to_cfg_in,
                wide ? &stat_desync32 : &stat_desync16, &stat_tail});
}

// The request past its sync words, for a logic still synchronised (all but
// its last byte): no-op, the read, two no-ops.
inline const Bytes stat_probe32 = {0x19, 0x0E, 0x00, 0x04, 0x00, 0x00,
                                   0x00, 0x14, 0x00, 0x07, 0x80, 0x04,
                                   0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
inline const Bytes stat_probe16 = {0x19, 0x06, 0x00, 0x04, 0x00,
                                   0x94, 0x80, 0x04, 0x00, 0x04};
// After the read, out through reset to idle; answers at once.
inline const Bytes stat_probe_tail = {0x4B, 0x05, 0x1F, 0x87};

// The first read, which a synchronised logic answers and an unsynchronised
// one ignores: no sync word, no DESYNC.
inline Bytes stat_probe_write(bool wide, unsigned pad = 0)
{
    const Bytes zeros = pad_bits(pad);
    return cat({&stat_head, &zeros, wide ? &stat_probe32 : &stat_probe16,
                &stat_to_cfg_out, wide ? &stat_read32 : &stat_read16,
                &stat_probe_tail});
}

#endif
