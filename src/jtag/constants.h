// Hardware facts of the adapter and the FPGA behind it, in one place.
#ifndef TAPLINE_JTAG_CONSTANTS_H
#define TAPLINE_JTAG_CONSTANTS_H

// The adapter's USB identity. No description or serial is matched.
enum : int {
    ADAPTER_VENDOR_ID = 0x2A5E,
    ADAPTER_PRODUCT_ID = 0x0C41,
};

// Channel settings for interface A.
enum : unsigned char {
    ADAPTER_LATENCY_MS = 2,
    // ADBUS bits 0, 1, 3 (TCK, TDI, TMS) are outputs; mpsse mode takes the
    // mask as given and the set-up command fixes the real directions.
    ADAPTER_BITMODE_MASK = 0xFB,
};

// ADBUS pin map of the adapter.
enum : unsigned char {
    PIN_TCK = 0x01,
    PIN_TDI = 0x02,
    PIN_TDO = 0x04,
    PIN_TMS = 0x08,
    PIN_VREF = 0x10, // target reference-voltage sense, high when powered
};

// MPSSE opcodes the tool writes. Length operands hold count - 1; two-byte
// lengths go low byte first.
enum : unsigned char {
    MPSSE_SET_LOW = 0x80,  // level, direction
    MPSSE_GET_LOW = 0x81,  // answers one byte
    MPSSE_SET_HIGH = 0x82, // level, direction
    MPSSE_LOOPBACK_OFF = 0x85,
    MPSSE_SET_DIVISOR = 0x86, // divisor low, high
    MPSSE_SEND_IMMEDIATE = 0x87,
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

// FPGA instruction codes (6-bit instruction register).
enum : unsigned char {
    INSN_USER1 = 0x02,
    INSN_USER2 = 0x03,
    INSN_CFG_OUT = 0x04, // makes the data register the configuration output
    INSN_CFG_IN = 0x05,
    INSN_IDCODE = 0x09,
    INSN_JPROGRAM = 0x0B,
    INSN_JSTART = 0x0C,
    INSN_USER3 = 0x1A,
    INSN_USER4 = 0x1B,
};

// What the 6-bit instruction register shifts out in Shift-IR: bits 1:0 read
// 01 on every single 6-bit-IR device, so anything else means no such device
// answers (TDO stuck, wiring, a longer chain).
enum : unsigned char {
    CAPTURE_FIXED_MASK = 0x03,
    CAPTURE_FIXED = 0x01,
    CAPTURE_INIT = 0x10, // configuration memory cleared, no error (INIT_B)
    CAPTURE_DONE = 0x20, // start-up finished, the design runs
};

// Transfer buffer: a 3-byte MPSSE header plus 65,532 data bytes, the size of
// one write.
enum : unsigned {
    MPSSE_HEADER_SIZE = 3,
    TRANSFER_BUFFER_SIZE = 65535,
    CHUNK_DATA_SIZE = TRANSFER_BUFFER_SIZE - MPSSE_HEADER_SIZE,
};

// How long a read may go without a byte arriving before it is given up.
// The adapter flushes every 2 ms (latency timer), so a second is generous.
enum : long { READ_IDLE_LIMIT_MS = 1000 };

// Clearing takes up to 5 ms on 7-series and 7.5 ms on UltraScale+ parts;
// a second without INIT means the device will not clear.
enum : long { INIT_WAIT_LIMIT_MS = 1000 };

// Start-up retry for designs that wait for clock lock: 250 zero bytes
// clock 2,000 TCK cycles in Run-Test/Idle, the 7-series documented count.
enum : unsigned { STARTUP_RETRY_BYTES = 250 };

#endif
