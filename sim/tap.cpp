#include "tap.h"

#include <algorithm>
#include <cstring>

#include "model_clock.h"

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

uint8_t reverse8(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

struct ReverseTable {
    uint8_t v[256];
    ReverseTable()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = reverse8(static_cast<uint8_t>(i));
    }
};
const ReverseTable kReverse;

constexpr const char *kInstructionNames[kInstructionNameCount] = {
    "other",  "USER1",    "USER2",  "USER3",  "USER4", "CFG_OUT",
    "CFG_IN", "IDCODE",   "JPROGRAM", "JSTART", "BYPASS",
};

InstructionName name_of(uint8_t code)
{
    using N = InstructionName;
    switch (code) {
    case ir::kUser1:
        return N::User1;
    case ir::kUser2:
        return N::User2;
    case ir::kCfgOut:
        return N::CfgOut;
    case ir::kCfgIn:
        return N::CfgIn;
    case ir::kIdcode:
        return N::Idcode;
    case ir::kJprogram:
        return N::Jprogram;
    case ir::kJstart:
        return N::Jstart;
    case ir::kUser3:
        return N::User3;
    case ir::kUser4:
        return N::User4;
    case ir::kBypass:
        return N::Bypass;
    default:
        return N::Other;
    }
}

bool is_user(uint8_t code)
{
    return code == ir::kUser1 || code == ir::kUser2 || code == ir::kUser3 ||
           code == ir::kUser4;
}

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

Fpga::Fpga(const FpgaConfig &config, TapSink &sink, ConfigRecord &config_out)
    : config_(config), sink_(sink), out_(config_out), engine_(config.engine),
      word_size_(engine_.word_bits()), sync_word_(engine_.sync_word()),
      sync_mask_(static_cast<uint32_t>((1ull << engine_.sync_bits()) - 1)),
      sync_bits_(engine_.sync_bits())
{
    clear_config();
}

void Fpga::rise(bool tms, bool tdi)
{
    if (!config_.powered)
        return;
    switch (state_) {
    case S::CaptureDR:
        capture_dr();
        break;
    case S::ShiftDR: {
        if (ir_ == ir::kCfgIn)
            cfg_in_bit(tdi, model_now());
        const uint64_t in = tdi ? 1 : 0;
        dr_ = (dr_ >> 1) | (in << (dr_len_ - 1));
        count_idcode_bits(1);
        break;
    }
    case S::CaptureIR:
        ir_shift_ = static_cast<uint8_t>(
            ir::kCaptureBase |
            (engine_.init(model_now()) ? ir::kCaptureInit : 0) |
            (engine_.done() ? ir::kCaptureDone | ir::kCaptureIscDone : 0));
        break;
    case S::ShiftIR:
        ir_shift_ = static_cast<uint8_t>((ir_shift_ >> 1) |
                                         (tdi ? 1u << (ir::kLength - 1) : 0));
        break;
    case S::RunTestIdle:
        // Start-up is clocked by TCK in Run-Test/Idle once JSTART is loaded.
        if (ir_ == ir::kJstart)
            engine_.startup_clock();
        else if (ir_ == ir::kCfgIn)
            engine_.idle_in_cfg_in();
        break;
    default:
        break;
    }
    enter(next_state(state_, tms));
}

void Fpga::fall()
{
    if (!config_.powered)
        return;
    // TDO is driven only while shifting; otherwise the pull-up wins.
    if (state_ == S::ShiftDR)
        tdo_pin_ = (dr_ & 1) != 0;
    else if (state_ == S::ShiftIR)
        tdo_pin_ = (ir_shift_ & 1) != 0;
    else
        tdo_pin_ = true;
}

void Fpga::enter(TapState next)
{
    state_ = next;
    sink_.state(next, 1);
    if (next == S::UpdateIR) {
        update_ir();
    } else if (next == S::TestLogicReset) {
        ir_ = ir::kIdcode;
        engine_.restart_startup_count();
    }
}

void Fpga::update_ir()
{
    ir_ = ir_shift_ & ((1u << ir::kLength) - 1);
    sink_.instruction(0, ir_, name_of(ir_));
    engine_.restart_startup_count();
    if (ir_ == ir::kJprogram) {
        engine_.program(model_now());
        clear_config();
    }
}

void Fpga::capture_dr()
{
    // USER registers belong to the design: only a configured device has them.
    const bool user = engine_.done();
    switch (user || !is_user(ir_) ? ir_ : ir::kBypass) {
    case ir::kIdcode:
        dr_ = config_.idcode;
        dr_len_ = 32;
        idcode_bits_ = 0;
        break;
    case ir::kUser1:
        dr_ = config_.user[0];
        dr_len_ = 32;
        break;
    case ir::kUser2:
        dr_ = config_.user[1];
        dr_len_ = 32;
        break;
    case ir::kUser3:
        dr_ = config_.user[2];
        dr_len_ = 32;
        break;
    case ir::kUser4:
        dr_ = config_.user[3];
        dr_len_ = 32;
        break;
    case ir::kCfgIn:
        // Configuration words pass through a 32-bit register.
        dr_ = 0;
        dr_len_ = 32;
        break;
    case ir::kCfgOut: {
        // One word of what a read packet asked for, most significant bit
        // first, in the family's word size.
        const uint32_t word = engine_.take_output();
        dr_ = 0;
        dr_len_ = static_cast<int>(word_size_);
        for (unsigned i = 0; i < word_size_; ++i)
            dr_ |= static_cast<uint64_t>((word >> i) & 1)
                   << (word_size_ - 1 - i);
        break;
    }
    default: // BYPASS, JPROGRAM, JSTART and unknown codes
        dr_ = 0;
        dr_len_ = 1;
        break;
    }
}

void Fpga::count_idcode_bits(uint64_t bits)
{
    // A stuck TDO hides the register from the client.
    if (ir_ != ir::kIdcode || config_.tdo_stuck >= 0 || idcode_bits_ >= 32)
        return;
    idcode_bits_ += bits;
    if (idcode_bits_ >= 32)
        sink_.idcode_read();
}

void Fpga::shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                          uint64_t tck)
{
    if (n == 0)
        return;
    if (ir_ == ir::kCfgIn)
        cfg_in_bytes(in, n, tck);
    const uint64_t mask = dr_len_ >= 64 ? ~0ull : ((1ull << dr_len_) - 1);
    uint64_t dr = dr_;
    const int len = dr_len_;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = in[i];
        // Register bits leave first, then the new bits follow them.
        const uint64_t stream = dr | (static_cast<uint64_t>(b) << len);
        if (out)
            out[i] = static_cast<uint8_t>(stream);
        dr = (stream >> 8) & mask;
    }
    dr_ = dr;
    count_idcode_bits(8ull * n);
    sink_.state(S::ShiftDR, 8ull * n);
    tdo_pin_ = (dr_ & 1) != 0;
    if (out && config_.tdo_stuck >= 0)
        std::memset(out, config_.tdo_stuck ? 0xFF : 0x00, n);
}

void Fpga::clear_config()
{
    config_bits_ = 0;
    config_hash_ = kFnvOffset;
    partial_ = 0;
    window_ = 0;
    sync_seen_ = false;
    word_bits_ = 0;
    // Packed bits live in the record itself so a big load is kept once.
    out_.config_data.clear();
    out_.config_data.shrink_to_fit();
}

void Fpga::append_config_bit(bool bit)
{
    const unsigned pos = static_cast<unsigned>(config_bits_ & 7);
    if (bit)
        partial_ = static_cast<uint8_t>(partial_ | (0x80u >> pos));
    if (config_.keep_config) {
        if (pos == 0)
            out_.config_data.push_back(0);
        out_.config_data.back() = partial_;
    }
    ++config_bits_;
    if (pos == 7) {
        config_hash_ = (config_hash_ ^ partial_) * kFnvPrime;
        partial_ = 0;
    }
    window_ = (window_ << 1) | (bit ? 1 : 0);
    if (engine_.synced()) {
        word_acc_ = (word_acc_ << 1) | (bit ? 1 : 0);
        if (++word_bits_ == word_size_) {
            word_bits_ = 0;
            engine_.word(word_of(word_acc_));
        }
    } else if ((static_cast<uint32_t>(window_) & sync_mask_) == sync_word_ &&
               config_bits_ >= sync_bits_) {
        sync_seen_ = true;
        word_bits_ = 0;
        engine_.sync();
    }
}

void Fpga::append_config_byte(uint8_t msb_first)
{
    const unsigned pos = static_cast<unsigned>(config_bits_ & 7);
    if (pos != 0) {
        // Unaligned stream (an earlier bit-mode shift): go bit by bit.
        for (int i = 7; i >= 0; --i)
            append_config_bit(((msb_first >> i) & 1) != 0);
        return;
    }
    config_bits_ += 8;
    config_hash_ = (config_hash_ ^ msb_first) * kFnvPrime;
    if (config_.keep_config)
        out_.config_data.push_back(msb_first);
    window_ = (window_ << 8) | msb_first;
    if (engine_.synced()) {
        word_acc_ = (word_acc_ << 8) | msb_first;
        word_bits_ += 8;
        if (word_bits_ >= word_size_) {
            word_bits_ -= word_size_;
            engine_.word(word_of(word_acc_ >> word_bits_));
        }
    } else if (config_bits_ >= sync_bits_) {
        // The sync word may sit at any bit offset within the last bits;
        // the k bits after it start the first word.
        for (int k = 7; k >= 0; --k) {
            if (config_bits_ - static_cast<uint64_t>(k) < sync_bits_)
                continue;
            if ((static_cast<uint32_t>(window_ >> k) & sync_mask_) ==
                sync_word_) {
                sync_seen_ = true;
                word_acc_ = window_ & ((1u << k) - 1);
                word_bits_ = static_cast<unsigned>(k);
                engine_.sync();
                break;
            }
        }
    }
}

uint32_t Fpga::word_of(uint64_t acc) const
{
    return static_cast<uint32_t>(acc) &
           static_cast<uint32_t>((1ull << word_size_) - 1);
}

void Fpga::cfg_in_bit(bool bit, uint64_t when)
{
    engine_.note_input();
    // While the device clears its memory, CFG_IN ignores what arrives.
    if (engine_.clearing(when))
        ++dropped_;
    else
        append_config_bit(bit);
}

void Fpga::cfg_in_bytes(const uint8_t *in, size_t n, uint64_t tck)
{
    // Bit j of the run meets its rising edge at now + (j + 1) * tck; those
    // before the end of clearing are dropped.
    engine_.note_input();
    const uint64_t now = model_now();
    uint64_t first = 0;
    if (engine_.clearing(now + tck)) {
        const uint64_t wait = engine_.clear_end() - now;
        first = std::min<uint64_t>(8ull * n, tck ? (wait - 1) / tck : 0);
    }
    dropped_ += first;
    size_t i = static_cast<size_t>(first / 8);
    if (first % 8 && i < n) {
        for (unsigned b = static_cast<unsigned>(first % 8); b < 8; ++b)
            append_config_bit(((in[i] >> b) & 1) != 0);
        ++i;
    }
    for (; i < n; ++i)
        append_config_byte(kReverse.v[in[i]]);
}

void Fpga::publish() const
{
    out_.config_bits = config_bits_;
    out_.config_hash = config_hash_;
    out_.sync_seen = sync_seen_;
    out_.config_kept = config_.keep_config;
    out_.done = engine_.done();
    out_.init = engine_.init(model_now());
    out_.config_error = engine_.error();
    out_.stat = engine_.stat(model_now());
    out_.dropped_config_bits = dropped_;
    if (config_bits_ & 7)
        out_.config_hash = (config_hash_ ^ partial_) * kFnvPrime;
}

} // namespace tapsim
