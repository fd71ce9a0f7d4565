// The chain as the tables know it, and the device a command talks to.
#ifndef TAPLINE_XILINX_TARGET_H
#define TAPLINE_XILINX_TARGET_H

#include <stdint.h>

#include "jtag/chain.h"
#include "jtag/scan.h"
#include "xilinx/parts.h"

struct ChainDevice {
    uint32_t idcode; // 0: the device has none
    unsigned ir_length;
    const char *name; // null: no table knows it
};

struct Chain {
    unsigned count; // 0: nothing answered the detection
    struct ChainDevice devices[CHAIN_MAX_DEVICES]; // nearest TDI first
    uint32_t first_word; // the first 32 bits the ID read brought
};

// Detects the chain and splits its instruction bits between the devices:
// known devices by the tables, one unknown device takes the rest, and
// every device's capture must start with 01. Returns 0 (count 0 when no
// device answers: the caller's own steps say so as they always have), or
// -1 after one line on standard error when a transfer failed or the chain
// cannot be told apart; nothing more is sent then.
int chain_identify(struct Jtag *j, struct Chain *chain);

// 0 when something answered the detection; otherwise -1 after "No FPGA
// answers on JTAG" with the first word read, for the commands that need a
// device to have answered.
int chain_require_devices(const struct Chain *chain);

struct Target {
    unsigned index; // position, nearest TDI 0
    unsigned count; // devices on the chain (1 when nothing answered)
    struct ChainPosition pos;
    uint32_t idcode; // as detected; 0 when nothing answered
    const struct Part *part;
    const struct XilinxFamily *family;
    // The codes as the device's whole instruction register takes them: a
    // stacked part's spread over its dies' fields.
    struct FamilyInstructions insn;
    // A multi-die part whose master die no table gives: named, not fed.
    bool dies_unknown;
};

// The device at --device's position, else for a load the one with the
// stream's ID code (stream_idcode non-zero; file names the input), else
// the one FPGA the parts table knows; a lone device whatever it is.
// Returns 0, or -1 after one line on standard error.
int target_choose(const struct Chain *chain, const char *device,
                  uint32_t stream_idcode, const char *file,
                  struct Target *target);

#endif
