// The FPGA on the chain: a 6-bit instruction register whose capture shows
// the configuration status, Xilinx instructions, the USER registers, and
// CFG_IN/CFG_OUT/JPROGRAM/JSTART into its configuration engine. A stacked
// part has a 6-bit field per SLR: device-wide instructions fill every
// field, the others sit in the master's field with 0x24 in the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config_engine.h"
#include "family.h"
#include "fnv.h"
#include "tap.h"

namespace tapsim {

// Instruction codes every modelled family shares.
namespace ir {
constexpr uint8_t kUser1 = 0x02;
constexpr uint8_t kUser2 = 0x03;
constexpr uint8_t kCfgOut = 0x04;
constexpr uint8_t kCfgIn = 0x05;
constexpr uint8_t kIdcode = 0x09;
constexpr uint8_t kJprogram = 0x0B;
constexpr uint8_t kJstart = 0x0C;
constexpr uint8_t kBypass = 0x3F;
constexpr unsigned kLength = 6;
constexpr uint8_t kOtherSlrs = 0x24; // the fields an SLR instruction skips
// Zynq UltraScale+: the processing system's half above the logic's.
constexpr unsigned kMpsocLength = 12;
constexpr uint32_t kJtagCtrl = 0x824;
} // namespace ir

// The instruction register length of a modelled FPGA with this ID code.
unsigned fpga_ir_length(uint32_t idcode);

namespace ir {
// IR capture: low bits 01 as 1149.1 requires, then the status bits.
constexpr uint8_t kCaptureBase = 0x01;
constexpr uint8_t kCaptureIscDone = 0x04; // end of start-up
constexpr uint8_t kCaptureInit = 0x10;    // cleared, no configuration error
constexpr uint8_t kCaptureDone = 0x20;
} // namespace ir

// USER3 and USER4 differ by family; 0 where the family has none (the code
// then selects BYPASS, as any undefined one does).
struct UserCodes {
    uint8_t user3;
    uint8_t user4;
};
UserCodes user_codes(Family family);

// One SLR's own view of a stacked part's load: its engine's checks and
// start-up, master first, then the slaves in forwarding order.
struct SlrConfigRecord {
    uint32_t device = 0; // the part's position on the chain
    uint32_t slr = 0;    // 0 the master
    uint32_t idcode = 0; // the code its stream must write
    bool sync_seen = false;
    CheckResult id = CheckResult::None;
    CheckResult crc = CheckResult::None;
    ConfigError config_error = ConfigError::None;
    bool started = false; // its start-up ran: the part's DONE waits for all
    bool init = true;
    uint32_t stat = 0; // its own STAT at exit
};

// What an FPGA's configuration input came to: one per FPGA in the record.
struct ConfigRecord {
    uint32_t device = 0; // position on the chain, nearest TDI 0
    uint64_t config_bits = 0;
    uint64_t config_hash = kFnvOffset; // over packed bytes, last one
                                       // zero-padded
    bool config_kept = true;
    std::vector<uint8_t> config_data; // packed MSB first in arrival order
    bool sync_seen = false;
    bool done = false;
    bool init = true;
    ConfigError config_error = ConfigError::None;
    uint64_t dropped_config_bits = 0; // shifted into CFG_IN while clearing
    uint32_t stat = 0; // the STAT register at exit (0: no known family)
    std::vector<SlrConfigRecord> slrs; // a stacked part's; empty otherwise
};

struct FpgaConfig {
    uint32_t idcode = 0;
    uint32_t user[4] = {0, 0, 0, 0};
    bool keep_config = true;
    EngineSettings engine;
};

class Fpga final : public TapDevice {
  public:
    // Reports go to sink; the configuration summary and bits to config_out.
    Fpga(uint32_t position, const FpgaConfig &config, TapSink &sink,
         ConfigRecord &config_out);

    bool done() const { return stack_.done(); }

    void shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                        uint64_t tck) override;
    bool reports_idcode_reads() const override { return true; }
    bool reveals_next() const override { return mpsoc_ && pl_enabled_; }
    bool takes_dr_input() const override
    {
        return selected() == InstructionName::CfgIn;
    }

    // Copies the configuration count and hash into config_out; the packed
    // bits go there directly, the rest stays local while shifting.
    void publish() const;

    void state(StateFields &f) override;

  private:
    InstructionName decode(uint32_t code) const override;
    InstructionName decode_field(uint32_t code) const;
    bool has_idcode() const override { return true; }
    uint32_t idcode() const override { return config_.idcode; }
    uint32_t capture_ir() const override;
    void capture_dr() override;
    void shift_dr_bit(bool tdi) override;
    void idle_clock() override;
    void instruction_loaded() override;
    void tap_reset() override;

    void clear_config();
    void append_config_bit(bool bit);
    void append_config_byte(uint8_t msb_first);
    uint32_t word_of(uint64_t acc) const;
    void cfg_in_bit(bool bit, uint64_t when);
    void cfg_in_bytes(const uint8_t *lsb_first, size_t n, uint64_t tck);

    FpgaConfig config_;
    ConfigRecord &out_;
    UserCodes user_;
    // One engine per SLR; the stream goes to the master's, which forwards
    // the others' on.
    SlrStack stack_;
    // The SLR the last instruction addressed (the master for device-wide
    // ones), and its IR field: the master's field is the part's; the
    // others follow it towards TDO, one SLR each (an assumption: the facts
    // give no order).
    ConfigEngine *engine_;
    unsigned master_field_;
    // MPSoC: JTAG_CTRL's DR written with both enable bits, taking effect at
    // the next Test-Logic-Reset, adds the logic's half and the debug port.
    bool mpsoc_;
    bool pl_enable_written_ = false;
    bool pl_enabled_ = false;
    void update_dr() override;
    size_t slr_of_field(unsigned field) const;
    int addressed_field(uint32_t whole) const;

    // Configuration input since the last JPROGRAM, packed MSB first.
    uint64_t config_bits_ = 0;
    uint64_t config_hash_ = 0; // FNV-1a over completed bytes
    uint8_t partial_ = 0;      // pending bits, left aligned
    uint64_t window_ = 0;      // last arrival bits, newest in bit 0
    bool sync_seen_ = false;
    uint64_t dropped_ = 0; // bits that arrived while clearing
    // Words for the engine once it is synced: bits since the last word.
    uint64_t word_acc_ = 0;
    unsigned word_bits_ = 0;
    // The family's packet word and sync word.
    unsigned word_size_ = 32;
    uint32_t sync_word_ = 0;
    uint32_t sync_mask_ = 0;
    unsigned sync_bits_ = 32;
};

} // namespace tapsim
