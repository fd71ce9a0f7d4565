// The configuration logic of each FPGA family, one row each: packet word
// size, sync word, register addresses, the STAT bit layout and the
// configuration CRC. A new family is a new row.
#pragma once

#include <cstdint>

namespace tapsim {

enum class Family : uint8_t {
    Unknown,
    Spartan3E,
    Spartan3A,
    Spartan6,
    Series7,
    UltraScale,
    UltraScalePlus
};

// Where each STAT bit sits; kNoBit where the family has none. Fields of
// several bits give their lowest bit.
constexpr int8_t kNoBit = -1;
struct StatLayout {
    int8_t crc_error, id_error;
    int8_t lock; // MMCM_LOCK or DCM_LOCK
    int8_t dci_match;
    int8_t end_of_startup;
    int8_t gts_cfg_b, gwe, ghigh_b;
    int8_t init_b, done, release_done;
    int8_t sync_watchdog; // SWWD or SYNC_TIMEOUT
    int8_t mode;          // the mode pins
    uint8_t mode_jtag;    // what they read on a board used over JTAG
    int8_t startup_state; // 3-bit Gray-coded start-up phase
    int8_t init_complete; // housecleaning over, whatever INIT_B shows
    int8_t bus_width;     // 2-bit field
    uint8_t bus_width_jtag;
    int8_t bad_packet; // a packet header the device cannot parse
};

enum class CrcCheck : uint8_t {
    Feed,    // the CRC write is fed like any write and must leave zero
    Compare, // the CRC write is compared with the running value
};

struct FamilyRow {
    Family family;
    const char *name;
    uint8_t word_bits; // packet word: 16 or 32
    uint32_t sync;
    uint8_t sync_bits;
    uint8_t crc_reg, fdri_reg, cmd_reg, stat_reg, idcode_reg;
    StatLayout stat;
    uint32_t (*crc_step)(uint32_t crc, uint32_t reg, uint32_t data);
    CrcCheck crc_check;
    uint32_t crc_mask;      // bits compared
    uint64_t not_fed;       // bit r: writes to register r skip the CRC
    uint8_t auto_crc_words; // after frame data, outside the packet's count
    bool init_low_on_crc_error;
    // A read is lost when the TAP rests in Run-Test/Idle before CFG_OUT.
    bool read_lost_in_idle;
    uint8_t frame_words; // words of one configuration frame (0: per part)
    uint8_t forward_reg; // writes here go to the next SLR (kNoReg: none)
    uint32_t clear_us;   // JPROGRAM to INIT high on the bench by default
};

constexpr uint8_t kNoReg = 0xFF;

// The row for a device, by ID code; nullptr for a part of no known family.
const FamilyRow *family_row(uint32_t idcode);
Family family_of(uint32_t idcode);

// JPROGRAM to INIT high for a part, when the bench is not told otherwise:
// the family's time, or the part's own where it differs.
uint32_t clear_us_of(uint32_t idcode);

// The ID codes of a stacked part's SLRs in the order its stream configures
// them, the master first; one entry (the code itself) for any other part.
// Slaves take their streams through the master's forwarding register.
// The instruction register has a 6-bit field per SLR; master_field is the
// master's (0 nearest TDO), which differs by part.
struct SlrCodes {
    uint8_t count;
    uint32_t code[4];
    uint8_t master_field;
};
SlrCodes slr_codes(uint32_t idcode);

// The Zynq UltraScale+ programmable logic (family code 0x23): behind the
// processing system's 12-bit TAP, which hides it until JTAG_CTRL.
bool is_mpsoc(uint32_t idcode);

} // namespace tapsim
