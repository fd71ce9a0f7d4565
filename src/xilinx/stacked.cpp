#include "xilinx/stacked.h"

#include <algorithm>

namespace {

struct Master {
    uint32_t code;  // ID code bits 27:0
    unsigned field; // the master's 6-bit field, 0 nearest TDO
};

// From the master's CFG_IN seen in the vendor's flows: VU9P and VU37P
// 0x05924, VU7P 0x164, VU19P 0x164924. The other parts' master field is
// unconfirmed.
const Master masters[] = {
    {0x04B31093, 2}, // XCVU9P
    {0x04B79093, 2}, // XCVU37P
    {0x04B29093, 1}, // XCVU7P
    {0x04BA1093, 3}, // XCVU19P
};

// What the dies that are not addressed take in their fields.
const unsigned kOtherDies = 0x24;

uint32_t spread(unsigned code, unsigned fields, unsigned master, bool all)
{
    uint32_t v = 0;
    for (unsigned f = 0; f < fields; f++)
        v |= (uint32_t)(all || f == master ? code : kOtherDies) << (6 * f);
    return v;
}

} // namespace

bool stacked_instructions(const struct Part *part,
                          struct FamilyInstructions *out)
{
    if (part->multi_die_ir % 6 != 0)
        return false;
    const unsigned fields = part->multi_die_ir / 6;
    const FamilyInstructions &f = part->family->insn;
    // The device-wide codes need no master: reset and IDCODE work on
    // every such part.
    const Master *end = masters + sizeof masters / sizeof masters[0];
    const Master *m = std::find_if(masters, end, [part](const Master &r) {
        return ((r.code ^ part->code) & 0x0FFFFFFFU) == 0;
    });
    *out = FamilyInstructions{};
    out->idcode = spread(f.idcode, fields, 0, true);
    out->jprogram = spread(f.jprogram, fields, 0, true);
    out->jstart = spread(f.jstart, fields, 0, true);
    if (m == end)
        return false;
    out->cfg_out = spread(f.cfg_out, fields, m->field, false);
    out->cfg_in = spread(f.cfg_in, fields, m->field, false);
    for (unsigned i = 0; i < 4; i++)
        out->user[i] =
            f.user[i] ? spread(f.user[i], fields, m->field, false) : 0;
    return true;
}
