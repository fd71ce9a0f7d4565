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

// TCK cycles in Run-Test/Idle after JSTART, at the default rate; faster
// rates clock as many more as keep the time (adapter_wait_clocks). The
// retry, for designs that wait for clock lock, gives the 7-series
// documented count.
enum : uint32_t {
    CONFIGURE_STARTUP_CLOCKS = 32,
    CONFIGURE_RETRY_CLOCKS = 2000,
};

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

// For a stream that ends without its DESYNC: the family's DESYNC after it,
// still in Shift-DR, so the configuration logic is not left synchronised
// to take the next reader's words as packets. Returns 0, or -1 after a
// line on standard error.
int configure_send_desync(struct Jtag *j, const struct XilinxFamily *family);

// After the tool cut its own stream: the chip's half-received command
// dropped, the TAP reset from wherever it is and the device cleared, so no
// half-fed configuration logic stays behind. Silent, best effort: the
// adapter may be gone.
void configure_abandon(struct Jtag *j, const struct ChainPosition *pos,
                       const struct FamilyInstructions *insn);

// Leave Shift-DR (one more 0 bit goes in, after the bits that push the
// stream through the devices nearer TDI), load the start-up instruction
// and give it 32 clocks in Run-Test/Idle, one write each (at a faster TCK
// the further clocks that keep the time follow in one write), then reset
// the TAP. Returns 0,
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
