// The Xilinx parts the tool knows by ID code, each pointing at its
// family's row.
#ifndef TAPLINE_XILINX_PARTS_H
#define TAPLINE_XILINX_PARTS_H

#include <stdint.h>

#include "xilinx/family.h"

struct Part {
    uint32_t code; // ID code bits 27:0
    const char *name;
    const struct XilinxFamily *family;
    uint32_t mask = 0x0FFFFFFFU; // bits compared
    // Multi-die parts: several dies behind one longer instruction register,
    // which the family's sequences do not fit. 0: one die, the family's.
    unsigned multi_die_ir = 0;
    unsigned slrs = 0; // dies of a multi-die part; 0 where not stated
    // Boots from PDI images only: no bit file configures it.
    bool pdi_only = false;
};

// The part of an ID code, whatever its revision; null when not in the table.
const struct Part *parts_find(uint32_t idcode);

// The family row of an ID code's family (bits 27:21), null for none in
// scope. The family code of Spartan-3A DSP is shared with other parts, so
// there only a known part counts.
const struct XilinxFamily *parts_family(uint32_t idcode);

// The Zynq UltraScale+ programmable logic (family code 0x23): its 6-bit
// codes go in the low half of the 12-bit instruction register it shares
// with the processing system, all ones in the high half.
bool parts_behind_ps(uint32_t idcode);
enum : unsigned { PARTS_PS_IR_BITS = 6 };

// The family's name for bits 27:21 ("Spartan-6"), or null when the bits
// name no family in scope.
const char *parts_family_name(uint32_t idcode);

#endif
