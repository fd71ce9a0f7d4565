#include "xilinx/devices.h"

#include <algorithm>

#include "xilinx/parts.h"

namespace {

struct KnownDevice {
    uint32_t code; // compared under mask
    uint32_t mask;
    unsigned ir_length;
    const char *name;
};

// Matched on bits 27:0 (the revision aside); the CoolRunner-II's package
// shows in bits 15:12.
const KnownDevice known[] = {
    {0x0BA00477, 0x0FFFFFFF, 4, "ARM debug access port"},
    {0x05044093, 0x0FFFFFFF, 8, "XCF01S"},
    {0x05045093, 0x0FFFFFFF, 8, "XCF02S"},
    {0x05046093, 0x0FFFFFFF, 8, "XCF04S"},
    {0x05057093, 0x0FFFFFFF, 16, "XCF08P"},
    {0x05058093, 0x0FFFFFFF, 16, "XCF16P"},
    {0x05059093, 0x0FFFFFFF, 16, "XCF32P"},
    {0x06E50093, 0x0FFF0FFF, 8, "XC2C64A"},
    {0x09602093, 0x0FFFFFFF, 8, "XC9536XL"},
    {0x09604093, 0x0FFFFFFF, 8, "XC9572XL"},
    {0x09608093, 0x0FFFFFFF, 8, "XC95144XL"},
    {0x09616093, 0x0FFFFFFF, 8, "XC95288XL"},
    {0x0A001093, 0x0FFFFFFF, 8, "System ACE CF"},
};

} // namespace

bool devices_lookup(uint32_t idcode, unsigned *ir_length, const char **name)
{
    if (idcode == 0)
        return false;
    const Part *part = parts_find(idcode);
    if (part) {
        *name = part->name;
        *ir_length =
            part->multi_die_ir ? part->multi_die_ir : part->family->ir_length;
        if (parts_behind_ps(idcode))
            *ir_length += PARTS_PS_IR_BITS;
        return true;
    }
    // Plain pointers: no iterator header on the uClibc-ng root.
    const KnownDevice *end = known + sizeof known / sizeof known[0];
    const KnownDevice *d =
        std::find_if(known, end, [idcode](const KnownDevice &k) {
            return ((idcode ^ k.code) & k.mask) == 0;
        });
    if (d == end)
        return false;
    *ir_length = d->ir_length;
    *name = d->name;
    return true;
}
