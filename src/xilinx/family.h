// One row per configuration-logic family: the instruction register and
// its codes, how a bitstream's packets look, the status register's read
// request and bit names, and the bits a failure's cause is read from. The
// parts table points at these rows; a new family is a new row.
#ifndef TAPLINE_XILINX_FAMILY_H
#define TAPLINE_XILINX_FAMILY_H

#include <stddef.h>
#include <stdint.h>

// Codes as the whole instruction register of the device takes them: a
// stacked part's span several 6-bit fields.
struct FamilyInstructions {
    uint32_t cfg_out; // makes the data register the configuration output
    uint32_t cfg_in;  // and the configuration input
    uint32_t idcode;
    uint32_t jprogram; // clears the configuration
    uint32_t jstart;   // starts the device after configuration
    uint32_t user[4];  // USER1..USER4; 0 where the family has none
};

struct XilinxFamily {
    const char *name; // of the configuration logic
    unsigned ir_length;
    struct FamilyInstructions insn;

    // Packets: word size, the sync word's length (0xAA995566, or its
    // first half alone), the ID code and frame data registers.
    unsigned word_bytes;
    unsigned sync_bytes;
    unsigned char idcode_reg;
    unsigned char fdri_reg;

    // Status register: the read request shifted into CFG_IN, the DESYNC
    // that leaves the logic unsynchronised, the bit names (fields of
    // several bits repeat one name at each of their bits).
    const uint32_t *stat_request;
    size_t stat_request_words;
    // Its leading dummy and sync words: a logic still synchronised takes
    // what follows them as packets, and would misread them.
    size_t stat_sync_words;
    const uint32_t *desync;
    size_t desync_words;
    const char *const *stat_names;
    unsigned stat_named_bits;
    // Bits the causes look at; 0 where the family has none.
    uint32_t crc_error, id_error, dec_error, lock, dci_match, done;
    // UltraScale's: a key or authentication refused, a packet not parsed.
    uint32_t key_error, bad_packet;
};

extern const struct XilinxFamily family_spartan3e;
extern const struct XilinxFamily family_spartan3a;
extern const struct XilinxFamily family_spartan6;
extern const struct XilinxFamily family_series7;
extern const struct XilinxFamily family_ultrascale;
extern const struct XilinxFamily family_ultrascale_plus;

// Every row, null last.
extern const struct XilinxFamily *const family_rows[];

// The instruction codes a lone device of no known family gets.
extern const struct FamilyInstructions family_default_instructions;

// The family's codes, or the default ones for null.
const struct FamilyInstructions *
family_instructions(const struct XilinxFamily *family);

// Width of the family's packet and register word: 32 or 16.
unsigned family_word_bits(const struct XilinxFamily *family);

#endif
