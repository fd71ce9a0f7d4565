#include "tap.h"

#include <cstring>
#include <string>

#include "state.h"

namespace tapsim {
namespace {

using S = TapState;

// IEEE 1149.1 state diagram: {next on TMS=0, next on TMS=1}.
constexpr TapState kNext[kTapStateCount][2] = {
    /* Test-Logic-Reset */ {S::RunTestIdle, S::TestLogicReset},
    /* Run-Test/Idle    */ {S::RunTestIdle, S::SelectDRScan},
    /* Select-DR-Scan   */ {S::CaptureDR, S::SelectIRScan},
    /* Capture-DR       */ {S::ShiftDR, S::Exit1DR},
    /* Shift-DR         */ {S::ShiftDR, S::Exit1DR},
    /* Exit1-DR         */ {S::PauseDR, S::UpdateDR},
    /* Pause-DR         */ {S::PauseDR, S::Exit2DR},
    /* Exit2-DR         */ {S::ShiftDR, S::UpdateDR},
    /* Update-DR        */ {S::RunTestIdle, S::SelectDRScan},
    /* Select-IR-Scan   */ {S::CaptureIR, S::TestLogicReset},
    /* Capture-IR       */ {S::ShiftIR, S::Exit1IR},
    /* Shift-IR         */ {S::ShiftIR, S::Exit1IR},
    /* Exit1-IR         */ {S::PauseIR, S::UpdateIR},
    /* Pause-IR         */ {S::PauseIR, S::Exit2IR},
    /* Exit2-IR         */ {S::ShiftIR, S::UpdateIR},
    /* Update-IR        */ {S::RunTestIdle, S::SelectDRScan},
};

constexpr const char *kNames[kTapStateCount] = {
    "Test-Logic-Reset", "Run-Test/Idle",  "Select-DR-Scan", "Capture-DR",
    "Shift-DR",         "Exit1-DR",       "Pause-DR",       "Exit2-DR",
    "Update-DR",        "Select-IR-Scan", "Capture-IR",     "Shift-IR",
    "Exit1-IR",         "Pause-IR",       "Exit2-IR",       "Update-IR",
};

constexpr const char *kInstructionNames[kInstructionNameCount] = {
    "other",  "USER1",  "USER2",    "USER3",  "USER4",  "CFG_OUT",
    "CFG_IN", "IDCODE", "JPROGRAM", "JSTART", "BYPASS",
};

} // namespace

TapState next_state(TapState state, bool tms)
{
    return kNext[static_cast<int>(state)][tms ? 1 : 0];
}

const char *state_name(TapState state)
{
    return kNames[static_cast<int>(state)];
}

bool parse_state_name(const char *name, TapState &out)
{
    for (int i = 0; i < kTapStateCount; ++i) {
        if (std::strcmp(kNames[i], name) == 0) {
            out = static_cast<TapState>(i);
            return true;
        }
    }
    return false;
}

const char *instruction_name(InstructionName name)
{
    return kInstructionNames[static_cast<int>(name)];
}

TapDevice::TapDevice(uint32_t position, unsigned ir_length, TapSink &sink)
    : sink_(sink), position_(position), ir_length_(ir_length)
{
}

void TapDevice::rise(TapState state, bool tdi)
{
    switch (state) {
    case S::CaptureDR:
        capture_dr();
        idcode_captured_ = selected_ == InstructionName::Idcode;
        idcode_bits_ = 0;
        break;
    case S::ShiftDR:
        shift_dr_bit(tdi);
        break;
    case S::CaptureIR:
        ir_shift_ = capture_ir();
        break;
    case S::ShiftIR:
        ir_shift_ = (ir_shift_ >> 1) | (tdi ? 1u << (ir_length_ - 1) : 0);
        break;
    case S::RunTestIdle:
        idle_clock();
        break;
    default:
        break;
    }
}

void TapDevice::enter(TapState next)
{
    if (next == S::UpdateIR) {
        const uint32_t mask = ir_length_ >= 32 ? ~0u : (1u << ir_length_) - 1;
        const uint32_t code = ir_shift_ & mask;
        loaded_code_ = code;
        selected_ = decode(code);
        sink_.instruction(position_, code, selected_);
        instruction_loaded();
    } else if (next == S::UpdateDR) {
        update_dr();
    } else if (next == S::TestLogicReset) {
        selected_ =
            has_idcode() ? InstructionName::Idcode : InstructionName::Bypass;
        tap_reset();
    }
}

void TapDevice::fall(TapState state)
{
    // TDO is driven only while shifting; otherwise the pull-up wins.
    if (state == S::ShiftDR)
        tdo_pin_ = (dr_ & 1) != 0;
    else if (state == S::ShiftIR)
        tdo_pin_ = (ir_shift_ & 1) != 0;
    else
        tdo_pin_ = true;
}

void TapDevice::capture_dr()
{
    if (selected_ == InstructionName::Idcode && has_idcode())
        load_dr(idcode(), 32);
    else
        load_dr(0, 1); // BYPASS captures 0
}

void TapDevice::load_dr(uint64_t value, int length)
{
    dr_ = value;
    dr_len_ = length;
}

void TapDevice::shift_dr_bit(bool tdi)
{
    const uint64_t in = tdi ? 1 : 0;
    dr_ = (dr_ >> 1) | (in << (dr_len_ - 1));
    count_idcode_bits(1);
}

void TapDevice::count_idcode_bits(uint64_t bits)
{
    if (!idcode_captured_ || idcode_whole_ == 0 ||
        idcode_bits_ >= idcode_whole_)
        return;
    idcode_bits_ += bits;
    if (idcode_bits_ >= idcode_whole_)
        sink_.idcode_read();
}

void TapDevice::shift_register(const uint8_t *in, size_t n, uint8_t *out)
{
    // The register is at most 32 bits, so register and byte fit 64 bits.
    const uint64_t mask = (1ull << dr_len_) - 1;
    uint64_t dr = dr_;
    const int len = dr_len_;
    for (size_t i = 0; i < n; ++i) {
        // Register bits leave first, then the new bits follow them.
        const uint64_t stream = dr | (static_cast<uint64_t>(in[i]) << len);
        if (out)
            out[i] = static_cast<uint8_t>(stream);
        dr = (stream >> 8) & mask;
    }
    dr_ = dr;
    tdo_pin_ = (dr_ & 1) != 0;
}

void TapDevice::shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                               uint64_t)
{
    shift_register(in, n, out);
    count_idcode_bits(8ull * n);
}

void TapDevice::pass_dr_bytes(const uint8_t *tail, size_t tail_n, size_t n,
                              uint8_t *tail_out)
{
    shift_register(tail, tail_n, tail_out);
    count_idcode_bits(8ull * n);
}

void TapDevice::state(StateFields &f)
{
    f.section("device");
    f.expect("position", position_);
    f.expect("ir_length", ir_length_);
    std::string name = instruction_name(selected_);
    f.text("instruction", name);
    bool known = false;
    for (int i = 0; i < kInstructionNameCount && !known; ++i) {
        known = name == kInstructionNames[i];
        if (known)
            selected_ = static_cast<InstructionName>(i);
    }
    f.require(known, "an instruction's name");
    f.code("ir", ir_shift_);
    f.code("dr", dr_);
    f.count("dr_length", dr_len_, 64);
    f.require(dr_len_ >= 1, "dr_length of at least 1");
    f.count("idcode_bits", idcode_bits_);
    f.count("idcode_whole", idcode_whole_);
    f.flag("idcode_captured", idcode_captured_);
    f.flag("tdo", tdo_pin_);
}

} // namespace tapsim
