// JTAG side of the simulated adapter: the IEEE 1149.1 TAP controller and
// the FPGA behind it (6-bit instruction register, Xilinx-style opcodes).
#pragma once

#include <cstddef>
#include <cstdint>

#include <vector>

#include "config_engine.h"
#include "fnv.h"

namespace tapsim {

enum class TapState : uint8_t {
    TestLogicReset,
    RunTestIdle,
    SelectDRScan,
    CaptureDR,
    ShiftDR,
    Exit1DR,
    PauseDR,
    Exit2DR,
    UpdateDR,
    SelectIRScan,
    CaptureIR,
    ShiftIR,
    Exit1IR,
    PauseIR,
    Exit2IR,
    UpdateIR,
};

constexpr int kTapStateCount = 16;

// The one state table: where the TAP goes on a rising TCK edge.
TapState next_state(TapState state, bool tms);

// Names as written in the record file ("Shift-DR", "Run-Test/Idle", ...).
const char *state_name(TapState state);
bool parse_state_name(const char *name, TapState &out);

// Instruction codes of the simulated part.
namespace ir {
constexpr uint8_t kUser1 = 0x02;
constexpr uint8_t kUser2 = 0x03;
constexpr uint8_t kCfgOut = 0x04;
constexpr uint8_t kCfgIn = 0x05;
constexpr uint8_t kIdcode = 0x09;
constexpr uint8_t kJprogram = 0x0B;
constexpr uint8_t kJstart = 0x0C;
constexpr uint8_t kUser3 = 0x1A;
constexpr uint8_t kUser4 = 0x1B;
constexpr uint8_t kBypass = 0x3F;
constexpr int kLength = 6;
// IR capture: low bits 01 as 1149.1 requires, then the status bits.
constexpr uint8_t kCaptureBase = 0x01;
constexpr uint8_t kCaptureIscDone = 0x04; // end of start-up
constexpr uint8_t kCaptureInit = 0x10;    // cleared, no configuration error
constexpr uint8_t kCaptureDone = 0x20;
} // namespace ir

// What an instruction code selects in the device it was loaded into, as
// the record names it.
enum class InstructionName : uint8_t {
    Other, // undefined: BYPASS in effect
    User1,
    User2,
    User3,
    User4,
    CfgOut,
    CfgIn,
    Idcode,
    Jprogram,
    Jstart,
    Bypass,
};
constexpr int kInstructionNameCount = 11;
const char *instruction_name(InstructionName name);

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
};

// Where the TAP reports what the record keeps: the shared TAP's states,
// each device's instruction loads, and whole ID code reads.
class TapSink {
  public:
    virtual void state(TapState state, uint64_t count) = 0;
    virtual void instruction(uint32_t device, uint8_t code,
                             InstructionName name) = 0;
    virtual void idcode_read() = 0;

  protected:
    ~TapSink() = default;
};

struct FpgaConfig {
    bool powered = true;
    uint32_t idcode = 0;
    uint32_t user[4] = {0, 0, 0, 0};
    bool keep_config = true;
    int tdo_stuck = -1; // 0 or 1: the TDO wire held at that level
    EngineSettings engine;
};

// The target. The chip calls rise() and fall() for every TCK edge with the
// pin levels it drives; tdo() is what the TDO pin shows right now.
class Fpga {
  public:
    // Reports go to sink; the configuration summary and bits to config.
    Fpga(const FpgaConfig &config, TapSink &sink, ConfigRecord &config_out);

    bool powered() const { return config_.powered; }
    bool tdo() const
    {
        return config_.tdo_stuck >= 0 ? config_.tdo_stuck != 0 : tdo_pin_;
    }
    TapState state() const { return state_; }
    uint8_t instruction() const { return ir_; }
    bool done() const { return engine_.done(); }

    void rise(bool tms, bool tdi);
    void fall();

    // Byte path for long Shift-DR runs: equivalent to 8*n rising/falling
    // edge pairs with TMS low, one every tck ticks of model time from now
    // on (the caller moves the clock afterwards). Each in[] byte is shifted
    // LSB first; out[] (may be null) gets the TDO bits in the same order.
    void shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                        uint64_t tck);

    // Copies the configuration count and hash into config_out; the packed
    // bits go there directly, the rest stays local while shifting.
    void publish() const;

  private:
    void enter(TapState next);
    void capture_dr();
    void update_ir();
    void clear_config();
    void append_config_bit(bool bit);
    void append_config_byte(uint8_t msb_first);
    void count_idcode_bits(uint64_t bits);
    uint32_t word_of(uint64_t acc) const;
    void cfg_in_bit(bool bit, uint64_t when);
    void cfg_in_bytes(const uint8_t *lsb_first, size_t n, uint64_t tck);

    FpgaConfig config_;
    TapSink &sink_;
    ConfigRecord &out_;
    TapState state_ = TapState::TestLogicReset;
    uint8_t ir_ = ir::kIdcode;
    uint8_t ir_shift_ = 0;
    uint64_t dr_ = 0;
    uint64_t idcode_bits_ = 32; // shifted out since the last capture
    int dr_len_ = 1;
    bool tdo_pin_ = true; // released TDO reads high through the pull-up
    ConfigEngine engine_;

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
