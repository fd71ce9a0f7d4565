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
// board strapped to boot from SPI flash. UltraScale's BUS_WIDTH reads 01
// over JTAG, as in the vendor's STAT of a configured VU37P (0x02B07AFC);
// its DECRYPTOR_ENABLED, SECURITY_VIOLATION, SECURITY_AUTH_ERROR, the
// SECURITY_STATUS field and the PUDC_B and CFGBVS pins read 0: no
// encryption here, pins as on that board.
// clang-format off
//                              CRC ID     lock DCI    EOS     GTS GWE GHIGH INIT DONE REL.   watchdog MODE  =    state   INIT_C. width =  bad packet
constexpr StatLayout kStat3E = {0,  13,    2,   3,     kNoBit, 5,  6,  7,    11,  12,  kNoBit, kNoBit, 8,    5,   kNoBit, kNoBit, kNoBit, 0, kNoBit};
constexpr StatLayout kStat3A = {0,  1,     2,   kNoBit, kNoBit, 3, 4,  5,    12,  13,  kNoBit, 15,     9,    5,   kNoBit, kNoBit, kNoBit, 0, kNoBit};
constexpr StatLayout kStat6  = {0,  1,     2,   kNoBit, kNoBit, 3, 4,  5,    12,  13,  kNoBit, 15,     9,    1,   kNoBit, kNoBit, kNoBit, 0, kNoBit};
constexpr StatLayout kStat7  = {0,  15,    2,   3,     4,      5,  6,  7,    12,  14,  13,     kNoBit, 8,    5,   18,     kNoBit, kNoBit, 0, kNoBit};
constexpr StatLayout kStatUs = {0,  15,    2,   3,     4,      5,  6,  7,    12,  14,  13,     kNoBit, 8,    5,   18,     11,     25,     1, 29};
// clang-format on

struct Entry {
    uint32_t code; // ID code bits 27:21
    FamilyRow row;
};

constexpr uint64_t kNotFed3A = regs({0x00, 0x04, 0x08, 0x09, 0x12, 0x1C});
constexpr uint64_t kNotFed6 = regs({0x00, 0x04, 0x08, 0x09, 0x12, 0x1F, 0x20});
constexpr uint64_t kNotFed7 = regs({0x00, 0x0F, 0x12, 0x14, 0x15, 0x16});
// UltraScale feeds every write but the CRC register's (checked on vendor
// files: MFWR, register 0x13, TIMER and every command value included).
constexpr uint64_t kNotFedUs = regs({0x00});
constexpr uint8_t kSlrForward = 0x1E;
// The bench's clearing time where the facts give none: the 7-series
// program latency.
constexpr uint32_t kClearUs = 5000;

// Spartan-3E is 32-bit Virtex-II style; Spartan-3A shares Spartan-6's
// 16-bit packets and CRC but syncs on the one word 0xAA99 and has no
// auto-CRC words. A CRC error over JTAG leaves INIT high on 7-series
// (vendor answer record 34909): only STAT tells. UltraScale keeps 7-series'
// packets, registers and CRC; its guides say nothing else about INIT over
// JTAG, so it keeps 7-series' behaviour there too. Its frames are 123
// words, UltraScale+'s 93; UltraScale+ clears in 7.5 ms (TPL max), no
// time is given for UltraScale.
// clang-format off
//                                                       word sync        bits CRC   FDRI  CMD   STAT  IDCODE
constexpr FamilyRow kSpartan3E = {Family::Spartan3E, "Spartan-3E", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0E,
    kStat3E, crc16_step, CrcCheck::Feed, 0xFFFF, 0, 1, true, false, 0, kNoReg, kClearUs};
constexpr FamilyRow kSpartan3A = {Family::Spartan3A, "Spartan-3A", 16, 0xAA99, 16, 0x00, 0x03, 0x05, 0x08, 0x0E,
    kStat3A, crc22_step, CrcCheck::Compare, 0x3FFFFF, kNotFed3A, 0, true, false, 0, kNoReg, kClearUs};
constexpr FamilyRow kSpartan6 = {Family::Spartan6, "Spartan-6", 16, 0xAA995566, 32, 0x00, 0x03, 0x05, 0x08, 0x0E,
    kStat6, crc22_step, CrcCheck::Compare, 0x3FFFFF, kNotFed6, 2, true, true, 0, kNoReg, kClearUs};
constexpr FamilyRow kSeries7 = {Family::Series7, "7-series", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0C,
    kStat7, crc32c_step, CrcCheck::Compare, 0xFFFFFFFF, kNotFed7, 0, false, false, 0, kNoReg, kClearUs};
constexpr FamilyRow kUltraScale = {Family::UltraScale, "UltraScale", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0C,
    kStatUs, crc32c_step, CrcCheck::Compare, 0xFFFFFFFF, kNotFedUs, 0, false, false, 123, kSlrForward, kClearUs};
constexpr FamilyRow kUltraScalePlus = {Family::UltraScalePlus, "UltraScale+", 32, 0xAA995566, 32, 0x00, 0x02, 0x04, 0x07, 0x0C,
    kStatUs, crc32c_step, CrcCheck::Compare, 0xFFFFFFFF, kNotFedUs, 0, false, false, 93, kSlrForward, 7500};
// clang-format on

// Family codes (ID code bits 27:21) from the parts tables. 0x1C is shared:
// the two Spartan-3A DSP parts (matched on bits 27:12 first), every other
// part with it is UltraScale (0x038xx, 0x039xx). UltraScale+ is 0x047xx
// (Zynq UltraScale+ programmable logic, 0x23), 0x048xx (0x24), 0x04Axx and
// 0x04Bxx (both 0x25). Spartan UltraScale+ (0x04Exx) boots from other
// images, not bit files: no row.
constexpr Entry kFamilies[] = {
    {0x0E, kSpartan3E},      {0x11, kSpartan3A},      {0x13, kSpartan3A},
    {0x20, kSpartan6},       {0x1B, kSeries7},        {0x1C, kUltraScale},
    {0x23, kUltraScalePlus}, {0x24, kUltraScalePlus}, {0x25, kUltraScalePlus},
};
constexpr uint32_t kSpartan3ADsp[] = {0x03840, 0x0384E};

// Parts whose clearing time differs from their family's (TPL max).
struct PartClear {
    uint32_t part; // ID code bits 27:12
    uint32_t us;
};
constexpr PartClear kPartClear[] = {{0x04ACF, 8500}}; // KU19P

// Stacked parts whose SLRs' ID codes the facts give, master first.
constexpr SlrCodes kStacked[] = {
    // VU9P; its master's CFG_IN is 0x05924: field 2.
    {3, {0x04B31093, 0x04B22093, 0x04B24093, 0}, 2},
};

uint32_t part_of(uint32_t idcode)
{
    return (idcode >> 12) & 0xFFFF;
}

} // namespace

const FamilyRow *family_row(uint32_t idcode)
{
    for (uint32_t p : kSpartan3ADsp)
        if (p == part_of(idcode))
            return &kSpartan3A;
    const uint32_t code = (idcode >> 21) & 0x7F;
    for (const Entry &e : kFamilies)
        if (e.code == code)
            return &e.row;
    return nullptr;
}

Family family_of(uint32_t idcode)
{
    const FamilyRow *r = family_row(idcode);
    return r ? r->family : Family::Unknown;
}

uint32_t clear_us_of(uint32_t idcode)
{
    for (const PartClear &p : kPartClear)
        if (p.part == part_of(idcode))
            return p.us;
    const FamilyRow *r = family_row(idcode);
    return r ? r->clear_us : kClearUs;
}

bool is_mpsoc(uint32_t idcode)
{
    return ((idcode >> 21) & 0x7F) == 0x23;
}

SlrCodes slr_codes(uint32_t idcode)
{
    for (const SlrCodes &s : kStacked)
        if (part_of(s.code[0]) == part_of(idcode))
            return s;
    return {1, {idcode, 0, 0, 0}, 0};
}

} // namespace tapsim
