// Drives the real static libftdi against the simulator, the way a JTAG tool
// would, with the MPSSE byte strings spelled out here independently of the
// simulator's own code.
#pragma once

#include <ftdi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tapsim.h"

using Bytes = std::vector<uint8_t>;

class Bench {
  public:
    explicit Bench(const tapsim::Scenario &s = tapsim::Scenario());
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    int open(uint16_t vid = 0x2a5e, uint16_t pid = 0x0c41);
    void close();
    int mpsse(uint8_t mask = 0x0B); // bit mode MPSSE
    int write(const Bytes &b);
    // Reads exactly n bytes, retrying empty reads up to `tries` times.
    // Returns what arrived; stops early on an error (stored in last_read).
    Bytes read(size_t n, int tries = 20);

    // Probe set-up: pins, high byte, divisor, loopback off.
    static Bytes setup();
    // Pins set up, then IR/DR operations from Test-Logic-Reset.
    Bytes idcode_after_reset();
    uint8_t probe(); // low byte after set-up

    ftdi_context ctx{};
    int last_read = 0;
    bool opened = false;
};

// MPSSE command builders (JTAG over ADBUS: TCK 0, TDI 1, TDO 2, TMS 3).
namespace mp {
// Clock count TMS bits (LSB first), TDI held at tdi; read if read.
Bytes tms(uint8_t bits, int count, bool tdi = false, bool read = false);
// Shift nbits through the current shift state, leaving it on the last bit
// (TMS high) when exit. TDI bits LSB first from data; reads TDO if read.
Bytes shift(const Bytes &data, size_t nbits, bool exit, bool read);
// Collects the answer bytes of shift(..., read=true) back into bits.
Bytes shift_result(const Bytes &answer, size_t nbits, bool exit);
// Answer bytes that shift(..., read=true) produces.
size_t answer_size(size_t nbits, bool exit);
} // namespace mp

// Goes from Run-Test/Idle (or Update-xR) to Shift-IR / Shift-DR.
inline Bytes to_shift_ir()
{
    return mp::tms(0x03, 4);
} // 1,1,0,0
inline Bytes to_shift_dr()
{
    return mp::tms(0x01, 3);
} // 1,0,0
// From Exit1-xR through Update-xR to Run-Test/Idle.
inline Bytes exit_to_idle()
{
    return mp::tms(0x01, 2);
} // 1,0
inline Bytes reset_to_idle()
{
    return mp::tms(0x1F, 6);
} // 5 x 1, then 0

Bytes cat(std::initializer_list<Bytes> parts);

// b with its bit order reversed, one bit at a time.
inline uint8_t rev8(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            r = static_cast<uint8_t>(r | 0x80 >> i);
    return r;
}

// Loads a 6-bit instruction from Run-Test/Idle, back to Run-Test/Idle.
Bytes load_ir(uint8_t code);
// Reads an nbits data register from Run-Test/Idle, back to Run-Test/Idle.
Bytes read_dr(size_t nbits, const Bytes &tdi = {});

uint32_t le32(const Bytes &b);
