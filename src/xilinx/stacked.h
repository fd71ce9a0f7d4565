// Stacked-silicon parts: several dies (SLRs) behind one instruction
// register of 6 bits per die. Device-wide instructions go to every die's
// field; configuration and user instructions to the master's alone, with
// 0x24 in the others, and the whole bitstream goes through the master.
#ifndef TAPLINE_XILINX_STACKED_H
#define TAPLINE_XILINX_STACKED_H

#include "xilinx/family.h"
#include "xilinx/parts.h"

// The part's instruction codes, built from the family's 6-bit codes for
// the field the table gives as its master's. False for a part the table
// does not know, with only the device-wide codes filled (the others 0):
// which field is the master's is not guessed.
bool stacked_instructions(const struct Part *part,
                          struct FamilyInstructions *out);

// The master's field (0 nearest TDO) from the table; -1 without a row.
int stacked_master_field(const struct Part *part);

// The codes that address the die in IR field `field` alone, the
// device-wide ones in every field: what reaches a die's own status
// register.
void stacked_field_instructions(const struct Part *part, unsigned field,
                                struct FamilyInstructions *out);

#endif
