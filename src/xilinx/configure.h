// The configuration sequence over JTAG: clear the device and wait for it,
// feed its configuration input, start it up and see whether it started.
#ifndef TAPLINE_XILINX_CONFIGURE_H
#define TAPLINE_XILINX_CONFIGURE_H

#include <stdint.h>

#include "jtag/scan.h"
#include "xilinx/family.h"

// Clearing takes up to 5 ms on 7-series and 7.5 ms on UltraScale+ parts;
// a second without INIT means the device will not clear.
enum : long { CONFIGURE_INIT_WAIT_LIMIT_MS = 1000 };

// Start-up retry for designs that wait for clock lock: 250 zero bytes
// clock 2,000 TCK cycles in Run-Test/Idle, the 7-series documented count.
enum : unsigned { CONFIGURE_RETRY_BYTES = 250 };

// Bitstream bytes per chunk: with the 3-byte header, one 65,535-byte write.
enum : unsigned { CONFIGURE_CHUNK_SIZE = 65532 };

// Clear the device and wait until it has, select its configuration input,
// go to Shift-DR. Bits sent before clearing ends would be dropped, sync
// word and all. Returns 0, or -1 after a line on standard error.
int configure_begin(struct Jtag *j, const struct ChainPosition *pos,
                    const struct FamilyInstructions *insn);

// Where the next chunk's n (1..CONFIGURE_CHUNK_SIZE) bytes go, already
// bit-mirrored, before configure_send_chunk.
unsigned char *configure_chunk(struct Jtag *j, uint32_t n);

// Sends the chunk as one write. Silent: the caller ends its progress line
// first, then reports a failure as STEP_CHUNK or STEP_LAST_CHUNK.
enum QueueResult configure_send_chunk(struct Jtag *j);

// Leave Shift-DR (one more 0 bit goes in, after the bits that push the
// stream through the devices nearer TDI), load the start-up instruction
// and give it 32 clocks in Run-Test/Idle, then reset the TAP. Returns 0,
// or -1 after a line on standard error.
int configure_start(struct Jtag *j, const struct ChainPosition *pos,
                    const struct FamilyInstructions *insn);

// After JPROGRAM: polls the IR capture with CFG_IN selected until INIT
// rises (the configuration memory is cleared), for at most a second.
// Returns 0, or -1 after a line on standard error.
int configure_wait_init(struct Jtag *j, const struct ChainPosition *pos,
                        const struct FamilyInstructions *insn);

// configure_confirm_done's result when the device answered but did not
// start.
enum { CONFIGURE_NOT_STARTED = -2 };

// After start-up, from Run-Test/Idle: DONE set is success. DONE low with
// INIT high gets one longer start-up; INIT low is a configuration error.
// Returns 0; CONFIGURE_NOT_STARTED after a line on standard error when
// DONE stays low; -1 after a line on standard error when a step failed.
int configure_confirm_done(struct Jtag *j, const struct ChainPosition *pos,
                           const struct FamilyInstructions *insn);

#endif
