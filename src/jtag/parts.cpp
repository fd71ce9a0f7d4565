#include "jtag/parts.h"

#include <algorithm>

namespace {

// ID code bits 27:21 to family. Spartan-3A DSP's code is also used by
// later families, which is why it needs a known part.
struct FamilyRow {
    const char *name;
    PartFamily logic;
    unsigned char id;
    bool needs_known_part;
};

const FamilyRow families[] = {
    {"Spartan-3E", FAMILY_SPARTAN3E, 0x0E, false},
    {"Spartan-3A", FAMILY_SPARTAN3A, 0x11, false},
    {"Spartan-3AN", FAMILY_SPARTAN3A, 0x13, false},
    {"Spartan-3A DSP", FAMILY_SPARTAN3A, 0x1C, true},
    {"Spartan-6", FAMILY_SPARTAN6, 0x20, false},
    {"7-series", FAMILY_SERIES7, 0x1B, false},
};

// Bits 27:0 of revision 0. XA, XQ and low-power variants share the XC
// part's code.
const Part parts[] = {
    // Spartan-3E
    {0x01C10093, "XC3S100E"},
    {0x01C1A093, "XC3S250E"},
    {0x01C22093, "XC3S500E"},
    {0x01C2E093, "XC3S1200E"},
    {0x01C3A093, "XC3S1600E"},
    // Spartan-3A
    {0x02210093, "XC3S50A"},
    {0x02218093, "XC3S200A"},
    {0x02220093, "XC3S400A"},
    {0x02228093, "XC3S700A"},
    {0x02230093, "XC3S1400A"},
    // Spartan-3AN
    {0x02610093, "XC3S50AN"},
    {0x02618093, "XC3S200AN"},
    {0x02620093, "XC3S400AN"},
    {0x02628093, "XC3S700AN"},
    {0x02630093, "XC3S1400AN"},
    // Spartan-3A DSP
    {0x03840093, "XC3SD1800A"},
    {0x0384E093, "XC3SD3400A"},
    // Spartan-6 LX and LXT
    {0x04000093, "XC6SLX4"},
    {0x04001093, "XC6SLX9"},
    {0x04002093, "XC6SLX16"},
    {0x04004093, "XC6SLX25"},
    {0x04008093, "XC6SLX45"},
    {0x0400E093, "XC6SLX75"},
    {0x04011093, "XC6SLX100"},
    {0x0401D093, "XC6SLX150"},
    {0x04024093, "XC6SLX25T"},
    {0x04028093, "XC6SLX45T"},
    {0x0402E093, "XC6SLX75T"},
    {0x04031093, "XC6SLX100T"},
    {0x0403D093, "XC6SLX150T"},
    // Spartan-7
    {0x03622093, "XC7S6"},
    {0x03620093, "XC7S15"},
    {0x037C4093, "XC7S25"},
    {0x0362F093, "XC7S50"},
    {0x037C8093, "XC7S75"},
    {0x037C7093, "XC7S100"},
    // Artix-7
    {0x037C3093, "XC7A12T"},
    {0x0362E093, "XC7A15T"},
    {0x037C2093, "XC7A25T"},
    {0x0362D093, "XC7A35T"},
    {0x0362C093, "XC7A50T"},
    {0x03632093, "XC7A75T"},
    {0x03631093, "XC7A100T"},
    {0x03636093, "XC7A200T"},
    // Kintex-7
    {0x03642093, "XC7K30T"},
    {0x03647093, "XC7K70T"},
    {0x0364C093, "XC7K160T"},
    {0x03651093, "XC7K325T"},
    {0x03747093, "XC7K355T"},
    {0x03656093, "XC7K410T"},
    {0x03752093, "XC7K420T"},
    {0x03751093, "XC7K480T"},
    // Virtex-7; the multi-die parts last. XC7V2000T's bits 15:14 vary.
    {0x03671093, "XC7V585T"},
    {0x03667093, "XC7VX330T"},
    {0x03682093, "XC7VX415T"},
    {0x03687093, "XC7VX485T"},
    {0x03692093, "XC7VX550T"},
    {0x03691093, "XC7VX690T"},
    {0x03696093, "XC7VX980T"},
    {0x036B3093, "XC7V2000T", true, 0x0FFF3FFFU},
    {0x036D5093, "XC7VX1140T", true},
    {0x036D9093, "XC7VH580T", true},
    {0x036DB093, "XC7VH870T", true},
    // Zynq-7000, its programmable logic's TAP
    {0x03723093, "XC7Z007S"},
    {0x03722093, "XC7Z010"},
    {0x0373C093, "XC7Z012S"},
    {0x03728093, "XC7Z014S"},
    {0x0373B093, "XC7Z015"},
    {0x03727093, "XC7Z020"},
    {0x0372C093, "XC7Z030"},
    {0x03732093, "XC7Z035"},
    {0x03731093, "XC7Z045"},
    {0x03736093, "XC7Z100"},
};

const FamilyRow *family_row(uint32_t idcode)
{
    const unsigned id = (idcode >> 21) & 0x7F;
    // Plain pointers: <iterator> would pull in the threads layer, which a
    // uClibc-ng root without threads has no header for.
    const FamilyRow *end = families + sizeof families / sizeof families[0];
    const FamilyRow *row = std::find_if(
        families, end, [id](const FamilyRow &r) { return r.id == id; });
    if (row == end || (row->needs_known_part && !parts_find(idcode)))
        return nullptr;
    return row;
}

} // namespace

const struct Part *parts_find(uint32_t idcode)
{
    const Part *end = parts + sizeof parts / sizeof parts[0];
    const Part *part = std::find_if(parts, end, [idcode](const Part &p) {
        return ((idcode ^ p.code) & p.mask) == 0;
    });
    return part == end ? nullptr : part;
}

enum PartFamily parts_family(uint32_t idcode)
{
    const FamilyRow *row = family_row(idcode);
    return row ? row->logic : FAMILY_UNKNOWN;
}

const char *parts_family_name(uint32_t idcode)
{
    const FamilyRow *row = family_row(idcode);
    return row ? row->name : nullptr;
}
