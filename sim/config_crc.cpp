#include "config_crc.h"

namespace tapsim {
namespace {

// Shifts `bits` bits of `value`, bit 0 first, through a reflected CRC.
uint32_t reflected(uint32_t crc, uint32_t value, int bits, uint32_t poly)
{
    for (int i = 0; i < bits; ++i, value >>= 1) {
        const bool carry = ((crc ^ value) & 1) != 0;
        crc >>= 1;
        if (carry)
            crc ^= poly;
    }
    return crc;
}

// Eight bits at a time for the data word: loads are megabytes.
struct ByteTable {
    uint32_t v[256];
    explicit ByteTable(uint32_t poly)
    {
        for (uint32_t i = 0; i < 256; ++i)
            v[i] = reflected(i, 0, 8, poly);
    }
};

// 32 data bits, then the 5 address bits.
uint32_t data_then_address(uint32_t crc, uint32_t reg, uint32_t data,
                           const ByteTable &t, uint32_t poly)
{
    for (int i = 0; i < 4; ++i, data >>= 8)
        crc = (crc >> 8) ^ t.v[(crc ^ data) & 0xFF];
    return reflected(crc, reg & 0x1F, 5, poly);
}

constexpr uint32_t kPoly16 = 0xA001;      // 0x8005 reflected
constexpr uint32_t kPoly32c = 0x82F63B78; // 0x1EDC6F41 reflected
const ByteTable kTable16(kPoly16);
const ByteTable kTable32c(kPoly32c);

} // namespace

uint32_t crc16_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    return data_then_address(crc, reg, data, kTable16, kPoly16);
}

uint32_t crc32c_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    return data_then_address(crc, reg, data, kTable32c, kPoly32c);
}

uint32_t crc22_step(uint32_t crc, uint32_t reg, uint32_t data)
{
    const bool feedback = (crc >> 21) & 1;
    crc = ((crc << 1) & 0x3FFFFF) ^ ((reg & 0x3F) << 16 | (data & 0xFFFF));
    return feedback ? crc ^ 0x9081 : crc;
}

} // namespace tapsim
