#include "xilinx/parts.h"

#include <algorithm>

namespace {

// ID code bits 27:21 to family. Spartan-3A DSP's code is also UltraScale's,
// which is why it needs a known part of its own family; any other code
// there is UltraScale. UltraScale+ has three codes (0x23 the Zynq
// UltraScale+ programmable logic). Spartan UltraScale+ has a configuration
// logic of its own (PDI images, a 48-bit status register): named, no row.
struct FamilyCode {
    const char *name;
    const XilinxFamily *family;
    unsigned char id;
    bool needs_known_part;
};

const FamilyCode family_codes[] = {
    {"Spartan-3E", &family_spartan3e, 0x0E, false},
    {"Spartan-3A", &family_spartan3a, 0x11, false},
    {"Spartan-3AN", &family_spartan3a, 0x13, false},
    {"Spartan-3A DSP", &family_spartan3a, 0x1C, true},
    {"Spartan-6", &family_spartan6, 0x20, false},
    {"7-series", &family_series7, 0x1B, false},
    {"UltraScale", &family_ultrascale, 0x1C, false},
    {"Zynq UltraScale+", &family_ultrascale_plus, 0x23, false},
    {"UltraScale+", &family_ultrascale_plus, 0x24, false},
    {"UltraScale+", &family_ultrascale_plus, 0x25, false},
    {"Spartan UltraScale+", nullptr, 0x27, false},
};

const XilinxFamily *const us = &family_ultrascale;
const XilinxFamily *const usp = &family_ultrascale_plus;
constexpr uint32_t all = 0x0FFFFFFFU;

// Bits 27:0 of revision 0. XA, XQ and low-power variants share the XC
// part's code.
const Part parts[] = {
    // Spartan-3E
    {0x01C10093, "XC3S100E", &family_spartan3e},
    {0x01C1A093, "XC3S250E", &family_spartan3e},
    {0x01C22093, "XC3S500E", &family_spartan3e},
    {0x01C2E093, "XC3S1200E", &family_spartan3e},
    {0x01C3A093, "XC3S1600E", &family_spartan3e},
    // Spartan-3A
    {0x02210093, "XC3S50A", &family_spartan3a},
    {0x02218093, "XC3S200A", &family_spartan3a},
    {0x02220093, "XC3S400A", &family_spartan3a},
    {0x02228093, "XC3S700A", &family_spartan3a},
    {0x02230093, "XC3S1400A", &family_spartan3a},
    // Spartan-3AN
    {0x02610093, "XC3S50AN", &family_spartan3a},
    {0x02618093, "XC3S200AN", &family_spartan3a},
    {0x02620093, "XC3S400AN", &family_spartan3a},
    {0x02628093, "XC3S700AN", &family_spartan3a},
    {0x02630093, "XC3S1400AN", &family_spartan3a},
    // Spartan-3A DSP
    {0x03840093, "XC3SD1800A", &family_spartan3a},
    {0x0384E093, "XC3SD3400A", &family_spartan3a},
    // Spartan-6 LX and LXT
    {0x04000093, "XC6SLX4", &family_spartan6},
    {0x04001093, "XC6SLX9", &family_spartan6},
    {0x04002093, "XC6SLX16", &family_spartan6},
    {0x04004093, "XC6SLX25", &family_spartan6},
    {0x04008093, "XC6SLX45", &family_spartan6},
    {0x0400E093, "XC6SLX75", &family_spartan6},
    {0x04011093, "XC6SLX100", &family_spartan6},
    {0x0401D093, "XC6SLX150", &family_spartan6},
    {0x04024093, "XC6SLX25T", &family_spartan6},
    {0x04028093, "XC6SLX45T", &family_spartan6},
    {0x0402E093, "XC6SLX75T", &family_spartan6},
    {0x04031093, "XC6SLX100T", &family_spartan6},
    {0x0403D093, "XC6SLX150T", &family_spartan6},
    // Spartan-7
    {0x03622093, "XC7S6", &family_series7},
    {0x03620093, "XC7S15", &family_series7},
    {0x037C4093, "XC7S25", &family_series7},
    {0x0362F093, "XC7S50", &family_series7},
    {0x037C8093, "XC7S75", &family_series7},
    {0x037C7093, "XC7S100", &family_series7},
    // Artix-7
    {0x037C3093, "XC7A12T", &family_series7},
    {0x0362E093, "XC7A15T", &family_series7},
    {0x037C2093, "XC7A25T", &family_series7},
    {0x0362D093, "XC7A35T", &family_series7},
    {0x0362C093, "XC7A50T", &family_series7},
    {0x03632093, "XC7A75T", &family_series7},
    {0x03631093, "XC7A100T", &family_series7},
    {0x03636093, "XC7A200T", &family_series7},
    // Kintex-7
    {0x03642093, "XC7K30T", &family_series7},
    {0x03647093, "XC7K70T", &family_series7},
    {0x0364C093, "XC7K160T", &family_series7},
    {0x03651093, "XC7K325T", &family_series7},
    {0x03747093, "XC7K355T", &family_series7},
    {0x03656093, "XC7K410T", &family_series7},
    {0x03752093, "XC7K420T", &family_series7},
    {0x03751093, "XC7K480T", &family_series7},
    // Virtex-7; the multi-die parts last. XC7V2000T's bits 15:14 vary.
    {0x03671093, "XC7V585T", &family_series7},
    {0x03667093, "XC7VX330T", &family_series7},
    {0x03682093, "XC7VX415T", &family_series7},
    {0x03687093, "XC7VX485T", &family_series7},
    {0x03692093, "XC7VX550T", &family_series7},
    {0x03691093, "XC7VX690T", &family_series7},
    {0x03696093, "XC7VX980T", &family_series7},
    {0x036B3093, "XC7V2000T", &family_series7, 0x0FFF3FFFU, 24},
    {0x036D5093, "XC7VX1140T", &family_series7, 0x0FFFFFFFU, 24},
    {0x036D9093, "XC7VH580T", &family_series7, 0x0FFFFFFFU, 22},
    {0x036DB093, "XC7VH870T", &family_series7, 0x0FFFFFFFU, 38},
    // Zynq-7000, its programmable logic's TAP
    {0x03723093, "XC7Z007S", &family_series7},
    {0x03722093, "XC7Z010", &family_series7},
    {0x0373C093, "XC7Z012S", &family_series7},
    {0x03728093, "XC7Z014S", &family_series7},
    {0x0373B093, "XC7Z015", &family_series7},
    {0x03727093, "XC7Z020", &family_series7},
    {0x0372C093, "XC7Z030", &family_series7},
    {0x03732093, "XC7Z035", &family_series7},
    {0x03731093, "XC7Z045", &family_series7},
    {0x03736093, "XC7Z100", &family_series7},
    // Kintex and Virtex UltraScale; a second code for some packages and
    // grades. Multi-die: 6 IR bits per die (KU115 is 12 whatever one
    // source says: the BSDL's).
    {0x03824093, "XCKU025", us},
    {0x03823093, "XCKU035", us},
    {0x03822093, "XCKU040", us},
    {0x03919093, "XCKU060", us},
    {0x0381B093, "XCKU060", us},
    {0x03844093, "XCKU095", us},
    {0x03845093, "XCKU095", us},
    {0x03939093, "XCVU065", us},
    {0x03843093, "XCVU080", us},
    {0x03842093, "XCVU095", us},
    {0x0380F093, "XCKU085", us, all, 12, 2},
    {0x0390D093, "XCKU115", us, all, 12, 2},
    {0x0392D093, "XCVU125", us, all, 12, 2},
    {0x03933093, "XCVU160", us, all, 18, 3},
    {0x03931093, "XCVU190", us, all, 18, 3},
    {0x0396D093, "XCVU440", us, all, 18, 3},
    // Kintex, Artix and Virtex UltraScale+ (XCAU7P from one source only)
    {0x04A63093, "XCKU3P", usp},
    {0x04A62093, "XCKU5P", usp},
    {0x0484A093, "XCKU9P", usp},
    {0x04A4E093, "XCKU11P", usp},
    {0x04A52093, "XCKU13P", usp},
    {0x04A56093, "XCKU15P", usp},
    {0x04ACF093, "XCKU19P", usp},
    {0x04AF6093, "XCAU7P", usp},
    {0x04AC4093, "XCAU10P", usp},
    {0x04AC2093, "XCAU15P", usp},
    {0x04A65093, "XCAU20P", usp},
    {0x04A64093, "XCAU25P", usp},
    {0x04AEA093, "XCVU2P", usp},
    {0x04B39093, "XCVU3P", usp},
    {0x04B2B093, "XCVU5P", usp, all, 12, 2},
    {0x04B29093, "XCVU7P", usp, all, 12, 2},
    {0x04B31093, "XCVU9P", usp, all, 18, 3},
    {0x04B49093, "XCVU11P", usp, all, 18, 3},
    {0x04B79093, "XCVU37P", usp, all, 18, 3},
    {0x04B51093, "XCVU13P", usp, all, 24, 4},
    {0x04BA3093, "XCVU15P", usp, all, 24, 4},
    {0x04BA1093, "XCVU19P", usp, all, 24, 4},
    // Zynq UltraScale+, its programmable logic's TAP
    {0x04711093, "XCZU2", usp},
    // Spartan UltraScale+: the family row for the IR length alone.
    {0x04E81093, "XCSU10P", usp, all, 0, 0, true},
    {0x04E82093, "XCSU25P", usp, all, 0, 0, true},
    {0x04E80093, "XCSU35P", usp, all, 0, 0, true},
    {0x04EB1093, "XCSU45P", usp, all, 0, 0, true},
    {0x04EB2093, "XCSU60P", usp, all, 0, 0, true},
    {0x04E99093, "XCSU65P", usp, all, 0, 0, true},
    {0x04E98093, "XCSU100P", usp, all, 0, 0, true},
    {0x04EA1093, "XCSU150P", usp, all, 0, 0, true},
    {0x04EA0093, "XCSU200P", usp, all, 0, 0, true},
};

const FamilyCode *family_code(uint32_t idcode)
{
    const unsigned id = (idcode >> 21) & 0x7F;
    // Plain pointers: <iterator> would pull in the threads layer, which a
    // uClibc-ng root without threads has no header for.
    const FamilyCode *end =
        family_codes + sizeof family_codes / sizeof family_codes[0];
    const Part *part = parts_find(idcode);
    const FamilyCode *row =
        std::find_if(family_codes, end, [id, part](const FamilyCode &r) {
            return r.id == id &&
                   (!r.needs_known_part || (part && part->family == r.family));
        });
    return row == end ? nullptr : row;
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

bool parts_behind_ps(uint32_t idcode)
{
    return ((idcode >> 21) & 0x7F) == 0x23;
}

const struct XilinxFamily *parts_family(uint32_t idcode)
{
    const FamilyCode *row = family_code(idcode);
    return row ? row->family : nullptr;
}

const char *parts_family_name(uint32_t idcode)
{
    const FamilyCode *row = family_code(idcode);
    return row ? row->name : nullptr;
}
