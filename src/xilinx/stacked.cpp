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

struct Fields {
    unsigned count;
    unsigned master;
};

uint32_t spread(unsigned code, Fields fields, bool all)
{
    uint32_t v = 0;
    for (unsigned f = 0; f < fields.count; f++)
        v |= (uint32_t)(all || f == fields.master ? code : kOtherDies)
             << (6 * f);
    return v;
}

} // namespace

int stacked_master_field(const struct Part *part)
{
    const Master *end = masters + sizeof masters / sizeof masters[0];
    const Master *m = std::find_if(masters, end, [part](const Master &r) {
        return ((r.code ^ part->code) & 0x0FFFFFFFU) == 0;
    });
    return m == end ? -1 : (int)m->field;
}

void stacked_field_instructions(const struct Part *part, unsigned field,
                                struct FamilyInstructions *out)
{
    const Fields fields = {part->multi_die_ir / 6, field};
    const FamilyInstructions &f = part->family->insn;
    out->idcode = spread(f.idcode, fields, true);
    out->jprogram = spread(f.jprogram, fields, true);
    out->jstart = spread(f.jstart, fields, true);
    out->cfg_out = spread(f.cfg_out, fields, false);
    out->cfg_in = spread(f.cfg_in, fields, false);
    for (unsigned i = 0; i < 4; i++)
        out->user[i] = f.user[i] ? spread(f.user[i], fields, false) : 0;
}

bool stacked_instructions(const struct Part *part,
                          struct FamilyInstructions *out)
{
    if (part->multi_die_ir % 6 != 0)
        return false;
    const int master = stacked_master_field(part);
    if (master >= 0) {
        stacked_field_instructions(part, (unsigned)master, out);
        return true;
    }
    // The device-wide codes need no master: reset and IDCODE work on
    // every such part.
    stacked_field_instructions(part, 0, out);
    const FamilyInstructions wide = *out;
    *out = FamilyInstructions{};
    out->idcode = wide.idcode;
    out->jprogram = wide.jprogram;
    out->jstart = wide.jstart;
    return false;
}
