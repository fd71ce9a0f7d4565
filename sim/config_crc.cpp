#include "config_crc.h"

namespace tapsim {
namespace {

// Shifts `bits` bits of `value`, bit 0 first, through a reflected CRC.
uint32_t reflected(uint32_t crc, uint64_t value, int bits, uint32_t poly)
{
    for (int i = 0; i < bits; ++i) {
        const bool in = ((value >> i) & 1) != 0;
        const bool out = (crc & 1) != 0;
        crc >>= 1;
        if (in != out)
            crc ^= poly;
    }
    return crc;
}

// The address goes in after the data: bits 36:32 of one 37-bit input.
uint64_t data_then_address(uint32_t reg, uint32_t data)
{
    return static_cast<uint64_t>(data) | static_cast<uint64_t>(reg & 0x1F)
                                             << 32;
}

} // namespace

uint32_t crc16_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    return reflected(crc, data_then_address(reg, data), 37, 0xA001);
}

uint32_t crc32c_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    return reflected(crc, data_then_address(reg, data), 37, 0x82F63B78);
}

uint32_t crc22_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    const bool feedback = (crc >> 21) & 1;
    crc = ((crc << 1) & 0x3FFFFF) ^ ((reg & 0x3F) << 16 | (data & 0xFFFF));
    return feedback ? crc ^ 0x9081 : crc;
}

} // namespace tapsim
