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

// Run-Test/Idle -> Shift-IR, five instruction bits, -> Run-Test/Idle.
inline Writes ir_writes(uint8_t code)
{
    return {tms(1), tms(1), tms(0), tms(0), {0x1B, 0x04, code},
            tms(1), tms(1), tms(0)};
}

// Run-Test/Idle -> Shift-IR, code out while the capture comes back ->
// Run-Test/Idle, answers sent at once: one write.
inline Bytes capture_write(uint8_t code)
{
    return {0x4B, 0x03, 0x03, 0x3B, 0x04, code, 0x6B,
            0x00, 0x01, 0x4B, 0x01, 0x01, 0x87};
}

// The load's own ID code check: reset, idle, to Shift-DR, four bytes read,
// answers sent at once: one write.
inline Bytes idcode_check_write()
{
    return {0x4B, 0x05, 0x1F, 0x4B, 0x02, 0x01, 0x39,
            0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x87};
}

#endif
