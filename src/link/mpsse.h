// MPSSE opcodes the queue writes, with their operand layouts. Length
// operands hold count - 1; two-byte lengths go low byte first.
#ifndef TAPLINE_LINK_MPSSE_H
#define TAPLINE_LINK_MPSSE_H

#include <stdint.h>

enum : unsigned char {
    MPSSE_SET_LOW = 0x80,  // level, direction
    MPSSE_GET_LOW = 0x81,  // answers one byte
    MPSSE_SET_HIGH = 0x82, // level, direction
    MPSSE_LOOPBACK_OFF = 0x85,
    MPSSE_SET_DIVISOR = 0x86, // divisor low, high
    MPSSE_SEND_IMMEDIATE = 0x87,
    // High-speed chips only: the 60 MHz base clock, divide-by-5 off.
    MPSSE_BASE_60MHZ = 0x8A,
    // TMS bits from bit 0, one per TCK; bit 7 of the data byte held on TDI.
    MPSSE_TMS_OUT = 0x4B,
    // TDI bits, LSB first, clocked out on the falling edge, no read.
    MPSSE_BITS_OUT = 0x1B,
    // TDI bytes, LSB first, falling edge, no read.
    MPSSE_BYTES_OUT = 0x19,
    // TDI bytes out (falling edge) while TDO is read (rising edge), LSB first.
    MPSSE_BYTES_IO = 0x39,
    // TDI bits out (falling edge) while TDO is read (rising edge), LSB first;
    // n bits read land in the answer byte's top n positions.
    MPSSE_BITS_IO = 0x3B,
    // TMS bits out while TDO is read; bit 7 of the data byte held on TDI.
    MPSSE_TMS_IO = 0x6B,
};

// TCK is half the base clock divided by 1 + the divisor (16 bits). Every
// MPSSE chip has the 12 MHz base, high-speed chips the 60 MHz one too.
enum : uint32_t {
    MPSSE_BASE_HZ = 12000000,
    MPSSE_FAST_BASE_HZ = 60000000,
    MPSSE_MAX_DIVISOR = 0xFFFF,
};

enum : unsigned {
    MPSSE_HEADER_SIZE = 3,    // opcode and a two-byte length
    MPSSE_MAX_BYTES = 65536,  // data bytes one byte command can carry
    MPSSE_MAX_TMS_CLOCKS = 7, // TMS clocks one TMS command can carry
};

#endif
