// The configuration CRC steps of the FPGA families: each takes the running
// value and one register write (address, data word) and returns the next.
#pragma once

#include <cstdint>

namespace tapsim {

// Spartan-3E: CRC-16 (0x8005, least significant bit first) over the 32
// data bits and then the 5 address bits, bit 0 first.
uint32_t crc16_step(uint32_t crc, uint32_t reg, uint32_t data);

// 7-series: CRC-32C (0x1EDC6F41, least significant bit first) over the same
// 32 + 5 bits.
uint32_t crc32c_step(uint32_t crc, uint32_t reg, uint32_t data);

// Spartan-6 and -3A: a 22-bit register fed one 16-bit word and its 6-bit
// address at a time.
uint32_t crc22_step(uint32_t crc, uint32_t reg, uint32_t data);

} // namespace tapsim
