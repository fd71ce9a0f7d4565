// The Xilinx parts the tool knows by ID code, and the configuration logic
// each family uses.
#ifndef TAPLINE_JTAG_PARTS_H
#define TAPLINE_JTAG_PARTS_H

#include <stdint.h>

// Configuration logic, as far as packets and the status register go.
// Spartan-3AN and Spartan-3A DSP use the Spartan-3A's.
enum PartFamily {
    FAMILY_UNKNOWN = 0,
    FAMILY_SPARTAN3E,
    FAMILY_SPARTAN3A,
    FAMILY_SPARTAN6,
    FAMILY_SERIES7,
};

struct Part {
    uint32_t code; // ID code bits 27:0
    const char *name;
    // Multi-die parts: several TAPs in one package behind a longer
    // instruction register, which the tool's 6-bit sequences do not fit.
    bool multi_die = false;
    uint32_t mask = 0x0FFFFFFFU; // bits compared
};

// The part of an ID code, whatever its revision; null when not in the table.
const struct Part *parts_find(uint32_t idcode);

// The configuration logic of an ID code's family (bits 27:21). The family
// code of Spartan-3A DSP is shared with other parts, so there only a known
// part counts.
enum PartFamily parts_family(uint32_t idcode);

// The family's name for bits 27:21 ("Spartan-6"), or null when the bits
// name no family in scope.
const char *parts_family_name(uint32_t idcode);

#endif
