#include "fpga.h"

#include <algorithm>

#include "model_clock.h"
#include "state.h"

namespace tapsim {
namespace {

using S = TapState;
using N = InstructionName;

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

// The codes every family shares.
struct Code {
    uint8_t code;
    InstructionName name;
};
constexpr Code kCommon[] = {
    {ir::kUser1, N::User1},   {ir::kUser2, N::User2},
    {ir::kCfgOut, N::CfgOut}, {ir::kCfgIn, N::CfgIn},
    {ir::kIdcode, N::Idcode}, {ir::kJprogram, N::Jprogram},
    {ir::kJstart, N::Jstart}, {ir::kBypass, N::Bypass},
};

bool is_user(InstructionName n)
{
    return n == N::User1 || n == N::User2 || n == N::User3 || n == N::User4;
}

} // namespace

unsigned fpga_ir_length(uint32_t idcode)
{
    return is_mpsoc(idcode) ? ir::kMpsocLength
                            : ir::kLength * slr_codes(idcode).count;
}

UserCodes user_codes(Family family)
{
    switch (family) {
    case Family::Spartan3E:
    case Family::Spartan3A:
        return {0, 0}; // two user registers only
    case Family::Spartan6:
    case Family::Unknown: // as the tool has always used them
        return {0x1A, 0x1B};
    default: // 7-series, Zynq-7000 and the families after them
        return {0x22, 0x23};
    }
}

Fpga::Fpga(uint32_t position, const FpgaConfig &config, TapSink &sink,
           ConfigRecord &config_out)
    : TapDevice(position, fpga_ir_length(config.idcode), sink), config_(config),
      out_(config_out), user_(user_codes(family_of(config.idcode))),
      stack_(config.engine), engine_(&stack_.master()),
      master_field_(slr_codes(config.idcode).master_field),
      mpsoc_(is_mpsoc(config.idcode)), word_size_(engine_->word_bits()),
      sync_word_(engine_->sync_word()),
      sync_mask_(static_cast<uint32_t>((1ull << engine_->sync_bits()) - 1)),
      sync_bits_(engine_->sync_bits())
{
    out_.device = position;
    out_.config_kept = config.keep_config;
    clear_config();
}

size_t Fpga::slr_of_field(unsigned field) const
{
    if (field == master_field_)
        return 0;
    // Fields above the master's come after those below it.
    return field < master_field_
               ? master_field_ - field
               : stack_.size() - 1 - (field - master_field_ - 1);
}

// The field of a stacked part's one-SLR instruction (one field that is not
// the skip code), -1 for a device-wide one (every field the same), -2 for
// anything else.
int Fpga::addressed_field(uint32_t whole) const
{
    const unsigned fields = static_cast<unsigned>(stack_.size());
    const uint32_t first = whole & 0x3F;
    bool same = true;
    int other = -1;
    unsigned others = 0;
    for (unsigned f = 0; f < fields; ++f) {
        const uint32_t v = (whole >> (ir::kLength * f)) & 0x3F;
        same = same && v == first;
        if (v != ir::kOtherSlrs) {
            other = static_cast<int>(f);
            ++others;
        }
    }
    if (same)
        return -1;
    return others == 1 ? other : -2;
}

InstructionName Fpga::decode(uint32_t whole) const
{
    // MPSoC: until enabled, the logic answers nothing; then its codes in
    // the low half, all ones in the processing system's.
    if (mpsoc_) {
        if (!pl_enabled_ || (whole >> ir::kLength) != 0x3F)
            return whole == 0xFFF ? N::Bypass : N::Other;
        return decode_field(whole & 0x3F);
    }
    const int field = addressed_field(whole);
    if (field == -2)
        return N::Other;
    const N name = decode_field(
        field < 0 ? whole & 0x3F : (whole >> (ir::kLength * field)) & 0x3F);
    // Only configuration and user instructions address one SLR.
    const bool one_slr = name == N::CfgIn || name == N::CfgOut || is_user(name);
    if (stack_.size() > 1 && (field >= 0) != one_slr)
        return N::Other;
    return name;
}

InstructionName Fpga::decode_field(uint32_t code) const
{
    for (const Code &c : kCommon)
        if (c.code == code)
            return c.name;
    if (user_.user3 && code == user_.user3)
        return N::User3;
    if (user_.user4 && code == user_.user4)
        return N::User4;
    return N::Other;
}

uint32_t Fpga::capture_ir() const
{
    // INIT and DONE are wired across the SLRs; every field shows them.
    const uint32_t field =
        ir::kCaptureBase | (stack_.init(model_now()) ? ir::kCaptureInit : 0) |
        (stack_.done() ? ir::kCaptureDone | ir::kCaptureIscDone : 0);
    if (mpsoc_) // the processing system's half captures ...01
        return (pl_enabled_ ? field : ir::kCaptureBase) | ir::kCaptureBase
                                                              << ir::kLength;
    uint32_t v = 0;
    for (size_t f = 0; f < stack_.size(); ++f)
        v |= field << (ir::kLength * f);
    return v;
}

void Fpga::shift_dr_bit(bool tdi)
{
    if (selected() == N::CfgIn)
        cfg_in_bit(tdi, model_now());
    TapDevice::shift_dr_bit(tdi);
}

void Fpga::idle_clock()
{
    // Start-up is clocked by TCK in Run-Test/Idle once JSTART is loaded.
    if (selected() == N::Jstart)
        stack_.startup_clock();
    else if (selected() == N::CfgIn)
        engine_->idle_in_cfg_in();
}

void Fpga::instruction_loaded()
{
    const int field = addressed_field(loaded_code());
    engine_ = field >= 0
                  ? &stack_.slr(slr_of_field(static_cast<unsigned>(field)))
                  : &stack_.master();
    stack_.restart_startup_count();
    if (selected() == N::Jprogram) {
        stack_.program(model_now());
        clear_config();
    }
}

void Fpga::update_dr()
{
    if (mpsoc_ && loaded_code() == ir::kJtagCtrl && (dr_ & 3) == 3)
        pl_enable_written_ = true;
}

void Fpga::tap_reset()
{
    pl_enabled_ = pl_enabled_ || pl_enable_written_;
    engine_ = &stack_.master();
    stack_.restart_startup_count();
}

void Fpga::capture_dr()
{
    // USER registers belong to the design: only a configured device has
    // them.
    const N sel = selected();
    if (is_user(sel) && !stack_.done()) {
        load_dr(0, 1);
        return;
    }
    if (mpsoc_ && !pl_enabled_ && loaded_code() == ir::kJtagCtrl) {
        load_dr(0, 32);
        return;
    }
    switch (sel) {
    case N::User1:
    case N::User2:
    case N::User3:
    case N::User4:
        load_dr(
            config_.user[static_cast<int>(sel) - static_cast<int>(N::User1)],
            32);
        break;
    case N::CfgIn:
        // Configuration words pass through a 32-bit register.
        load_dr(0, 32);
        break;
    case N::CfgOut: {
        // One word of what a read packet asked for, most significant bit
        // first, in the family's word size.
        const uint32_t word = engine_->take_output();
        uint64_t dr = 0;
        for (unsigned i = 0; i < word_size_; ++i)
            dr |= static_cast<uint64_t>((word >> i) & 1)
                  << (word_size_ - 1 - i);
        load_dr(dr, static_cast<int>(word_size_));
        break;
    }
    default: // IDCODE, BYPASS, JPROGRAM, JSTART and undefined codes
        TapDevice::capture_dr();
        break;
    }
}

void Fpga::shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                          uint64_t tck)
{
    if (n == 0)
        return;
    if (selected() == N::CfgIn)
        cfg_in_bytes(in, n, tck);
    TapDevice::shift_dr_bytes(in, n, out, tck);
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
    if (engine_->synced()) {
        word_acc_ = (word_acc_ << 1) | (bit ? 1 : 0);
        if (++word_bits_ == word_size_) {
            word_bits_ = 0;
            engine_->word(word_of(word_acc_));
        }
    } else if ((static_cast<uint32_t>(window_) & sync_mask_) == sync_word_ &&
               config_bits_ >= sync_bits_) {
        sync_seen_ = true;
        word_bits_ = 0;
        engine_->sync();
    }
}

void Fpga::append_config_byte(uint8_t msb_first)
{
    // An unaligned stream (an earlier bit-mode shift, or bypass bits from
    // the devices nearer TDI) completes the pending byte and leaves the
    // rest pending.
    const unsigned pos = static_cast<unsigned>(config_bits_ & 7);
    const uint8_t full = static_cast<uint8_t>(partial_ | msb_first >> pos);
    config_bits_ += 8;
    config_hash_ = (config_hash_ ^ full) * kFnvPrime;
    if (pos == 0) {
        if (config_.keep_config)
            out_.config_data.push_back(full);
    } else {
        partial_ = static_cast<uint8_t>(msb_first << (8 - pos));
        if (config_.keep_config) {
            out_.config_data.back() = full;
            out_.config_data.push_back(partial_);
        }
    }
    window_ = (window_ << 8) | msb_first;
    if (engine_->synced()) {
        word_acc_ = (word_acc_ << 8) | msb_first;
        word_bits_ += 8;
        if (word_bits_ >= word_size_) {
            word_bits_ -= word_size_;
            engine_->word(word_of(word_acc_ >> word_bits_));
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
                engine_->sync();
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
    engine_->note_input();
    // While the device clears its memory, CFG_IN ignores what arrives.
    if (engine_->clearing(when))
        ++dropped_;
    else
        append_config_bit(bit);
}

void Fpga::cfg_in_bytes(const uint8_t *in, size_t n, uint64_t tck)
{
    // Bit j of the run meets its rising edge at now + (j + 1) * tck; those
    // before the end of clearing are dropped.
    engine_->note_input();
    const uint64_t now = model_now();
    uint64_t first = 0;
    if (engine_->clearing(now + tck)) {
        const uint64_t wait = engine_->clear_end() - now;
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
    out_.done = stack_.done();
    out_.init = stack_.init(model_now());
    // The first SLR that refused its stream.
    out_.config_error = engine_->error();
    for (size_t i = 0; i < stack_.size(); ++i)
        if (out_.config_error == ConfigError::None)
            out_.config_error = stack_.slr(i).error();
    out_.stat = engine_->stat(model_now());
    out_.dropped_config_bits = dropped_;
    out_.slrs.clear();
    for (size_t i = 0; stack_.size() > 1 && i < stack_.size(); ++i) {
        const ConfigEngine &e = stack_.slr(i);
        out_.slrs.push_back({out_.device, static_cast<uint32_t>(i), e.idcode(),
                             e.ever_synced(), e.id_check(), e.crc_check(),
                             e.error(), e.done(), e.init(model_now()),
                             e.stat(model_now())});
    }
    if (config_bits_ & 7)
        out_.config_hash = (config_hash_ ^ partial_) * kFnvPrime;
}

void Fpga::state(StateFields &f)
{
    TapDevice::state(f);
    f.section("fpga");
    f.expect("idcode", config_.idcode, true);
    f.count("bits", config_bits_);
    f.code("hash", config_hash_);
    f.code("partial", partial_);
    f.code("window", window_);
    f.flag("sync", sync_seen_);
    f.count("dropped", dropped_);
    f.code("word", word_acc_);
    f.count("word_bits", word_bits_, 63);
    // The packed bits live in the record (clear_config).
    const uint64_t packed = config_.keep_config ? (config_bits_ + 7) / 8 : 0;
    f.bytes("data", out_.config_data, packed);
    f.require(out_.config_data.size() == packed,
              "as many configuration bytes as bits kept");
    // Every SLR's engine, the master's first.
    for (size_t i = 0; i < stack_.size(); i++)
        stack_.slr(i).state(f);
}

} // namespace tapsim
