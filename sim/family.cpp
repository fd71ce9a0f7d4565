#include "family.h"

#include <initializer_list>

#include "config_crc.h"

namespace tapsim {
namespace {

constexpr uint64_t regs(std::initializer_list<unsigned> list)
{
    uint64_t bits = 0;
    for (unsigned r : list)
        bits |= 1ull << r;
    return bits;
}

// STAT layouts as the configuration guides give them, in the field order
// of StatLayout. MODE reads 101, the JTAG setting, where the family has
// one; Spartan-6 has none (JTAG works in every mode), so it reads 01, a
// board strapped to boot from SPI flash.
// clang-format off
//                              CRC ID     lock DCI    EOS     GTS GWE GHIGH INIT DONE REL.   watchdog MODE  =    state
constexpr StatLayout kStat3E = {0,  13,    2,   3,     kNoBit, 5,  6,  7,    11,  12,  kNoBit, kNoBit, 8,    5,   kNoBit};
constexpr StatLayout kStat3A = {0,  1,     2,   kNoBit, kNoBit, 3, 4,  5,    12,  13,  kNoBit, 15,     9,    5,   kNoBit};
constexpr StatLayout kStat6  = {0,  1,     2,   kNoBit, kNoBit, 3, 4,  5,    12,  13,  kNoBit, 15,     9,    1,   kNoBit};
constexpr StatLayout kStat7  = {0,  15,    2,   3,     4,      5,  6,  7,    12,  14,  13,     kNoBit, 8,    5,   18};
// clang-format on

struct Entry {
    uint32_t code; // ID code bits 27:21
    FamilyRow row;
};

constexpr uint64_t kNotFed3A = regs({0x00, 0x04, 0x08, 0x09, 0x12, 0x1C});
constexpr uint64_t kNotFed6 = regs({0x00, 0x04, 0x08, 0x09, 0x12, 0x1F, 0x20});
constexpr uint64_t kNotFed7 = regs({0x00, 0x0F, 0x12, 0x14, 0x15, 0x16});

// Spartan-3E is 32-bit Virtex-II style; Spartan-3A shares Spartan-6's
// 16-bit packets and CRC but syncs on the one word 0xAA99 and has no
// auto-CRC words. A CRC error over JTAG leaves INIT high on 7-series
// (vendor answer record 34909): only STAT tells.
// clang-format off
//                                                       word sync        bits CRC   FDRI  CMD   STAT  IDCODE
constexpr FamilyRow kSpartan3E = {Family::Spartan3E, "Spartan-3E", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0E,
    kStat3E, crc16_step, CrcCheck::Feed, 0xFFFF, 0, 1, true, false};
constexpr FamilyRow kSpartan3A = {Family::Spartan3A, "Spartan-3A", 16, 0xAA99, 16, 0x00, 0x03, 0x05, 0x08, 0x0E,
    kStat3A, crc22_step, CrcCheck::Compare, 0x3FFFFF, kNotFed3A, 0, true, false};
constexpr FamilyRow kSpartan6 = {Family::Spartan6, "Spartan-6", 16, 0xAA995566, 32, 0x00, 0x03, 0x05, 0x08, 0x0E,
    kStat6, crc22_step, CrcCheck::Compare, 0x3FFFFF, kNotFed6, 2, true, true};
constexpr FamilyRow kSeries7 = {Family::Series7, "7-series", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0C,
    kStat7, crc32c_step, CrcCheck::Compare, 0xFFFFFFFF, kNotFed7, 0, false, false};
// clang-format on

constexpr Entry kFamilies[] = {
    {0x0E, kSpartan3E}, {0x11, kSpartan3A}, {0x13, kSpartan3A},
    {0x20, kSpartan6},  {0x1B, kSeries7},
};

// Family code 0x1C is also UltraScale's: only these parts (bits 27:12) are
// Spartan-3A DSP.
constexpr uint32_t kSpartan3ADsp[] = {0x03840, 0x0384E};

} // namespace

const FamilyRow *family_row(uint32_t idcode)
{
    const uint32_t code = (idcode >> 21) & 0x7F;
    for (const Entry &e : kFamilies)
        if (e.code == code)
            return &e.row;
    const uint32_t part = (idcode >> 12) & 0xFFFF;
    for (uint32_t p : kSpartan3ADsp)
        if (p == part)
            return &kSpartan3A;
    return nullptr;
}

Family family_of(uint32_t idcode)
{
    const FamilyRow *r = family_row(idcode);
    return r ? r->family : Family::Unknown;
}

} // namespace tapsim
