// What sits on the JTAG chains of Xilinx boards besides the FPGAs: debug
// ports, configuration PROMs, CPLDs. With the parts table, where a
// device's instruction length and name come from.
#ifndef TAPLINE_XILINX_DEVICES_H
#define TAPLINE_XILINX_DEVICES_H

#include <stdint.h>

// A device's instruction register length and name by ID code, FPGAs of the
// parts table included. Returns false for a code no table knows (and for
// 0, a device without an ID code).
bool devices_lookup(uint32_t idcode, unsigned *ir_length, const char **name);

#endif
