// JTAG side of the simulated adapter: the IEEE 1149.1 TAP controller, a
// device on the chain, and what the record keeps of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapsim {

class StateFields;

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

// Where the TAP reports what the record keeps: the shared TAP's states,
// each device's instruction loads, and whole ID code reads.
class TapSink {
  public:
    virtual void state(TapState state, uint64_t count) = 0;
    virtual void instruction(uint32_t device, uint32_t code,
                             InstructionName name) = 0;
    virtual void idcode_read() = 0;

  protected:
    ~TapSink() = default;
};

// A device on the chain as IEEE 1149.1 describes it: an instruction
// register of its own length that captures ...01, BYPASS (one bit,
// captures 0) and, if it has one, IDCODE (32 bits, selected by
// Test-Logic-Reset). Every device's TAP moves on the same TCK and TMS, so
// the chain holds the one state and hands it to each edge. The FPGA
// extends this with its own instructions and registers.
class TapDevice {
  public:
    // IR lengths from 2 to 32 bits.
    static constexpr unsigned kMaxIrLength = 32;

    TapDevice(uint32_t position, unsigned ir_length, TapSink &sink);
    virtual ~TapDevice() = default;

    uint32_t position() const { return position_; }
    unsigned ir_length() const { return ir_length_; }
    InstructionName selected() const { return selected_; }
    int dr_length() const { return dr_len_; }
    bool tdo() const { return tdo_pin_; }

    // A rising TCK edge in state with tdi on the device's TDI (what the
    // device nearer TDI shows on its TDO); then the TAP enters next.
    void rise(TapState state, bool tdi);
    void enter(TapState next);
    // The falling edge: TDO moves, driven only while shifting.
    void fall(TapState state);

    // Byte path for long Shift-DR runs: equivalent to 8*n edge pairs with
    // TMS low, one every tck ticks of model time from now on (the caller
    // moves the clock afterwards). in[] is shifted LSB first; out[] (may be
    // null) gets the device's TDO bits in the same order.
    virtual void shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                                uint64_t tck);
    // Whether every bit shifted in matters (the FPGA's CFG_IN), or only the
    // register left at the end, which the last 32 bits decide.
    virtual bool takes_dr_input() const { return false; }
    // A write-only run of n bytes of which only the last tail_n reach the
    // register here (the earlier ones pass through without a trace).
    void pass_dr_bytes(const uint8_t *tail, size_t tail_n, size_t n,
                       uint8_t *tail_out);

    // Whether whole reads of this device's ID code are reported (the
    // FPGAs'), and after how many bits since Capture-DR a read is whole:
    // the register and the devices nearer TDO it has to pass. 0: never
    // (a stuck TDO hides it).
    virtual bool reports_idcode_reads() const { return false; }
    // Off the chain until the device nearer TDI reveals it (a
    // Test-Logic-Reset after reveals_next turned true).
    virtual bool starts_hidden() const { return false; }
    virtual bool reveals_next() const { return false; }
    void report_idcode_after(uint64_t bits) { idcode_whole_ = bits; }

    // Kept between runs (state.h); a device with more extends it.
    virtual void state(StateFields &f);

  protected:
    // What a loaded code selects; undefined codes select BYPASS (Other).
    virtual InstructionName decode(uint32_t code) const = 0;
    virtual bool has_idcode() const = 0;
    virtual uint32_t idcode() const = 0;
    virtual uint32_t capture_ir() const { return 0x01; }
    // Loads the selected register; the base knows BYPASS and IDCODE.
    virtual void capture_dr();
    virtual void shift_dr_bit(bool tdi);
    virtual void idle_clock() {}
    virtual void instruction_loaded() {}
    virtual void tap_reset() {}
    virtual void update_dr() {}

    void load_dr(uint64_t value, int length);
    // The whole code of the last Update-IR.
    uint32_t loaded_code() const { return loaded_code_; }
    void shift_register(const uint8_t *in, size_t n, uint8_t *out);
    void count_idcode_bits(uint64_t bits);

    TapSink &sink_;
    uint64_t dr_ = 0;
    int dr_len_ = 1; // up to 32 bits

  private:
    uint32_t position_;
    unsigned ir_length_;
    InstructionName selected_ = InstructionName::Idcode;
    uint32_t ir_shift_ = 0;
    uint32_t loaded_code_ = 0;
    uint64_t idcode_bits_ = 0; // shifted since the last capture of IDCODE
    uint64_t idcode_whole_ = 0;
    bool idcode_captured_ = false;
    bool tdo_pin_ = true; // released TDO reads high through the pull-up
};

} // namespace tapsim
