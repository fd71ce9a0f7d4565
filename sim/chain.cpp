#include "chain.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "state.h"

namespace tapsim {
namespace {

// The IDCODE instruction of the parts met beside Xilinx FPGAs, matched on
// the ID code under mask (the top nibble is the silicon revision).
struct KnownPart {
    uint32_t code;
    uint32_t mask;
    uint32_t idcode_instruction;
};
constexpr KnownPart kKnownParts[] = {
    {0x0BA00477, 0x0FFFFFFF, 0x0E}, // Zynq-7000 ARM debug access port
    {0x05044093, 0x0FFFFFFF, 0xFE}, // XCF01S
    {0x05045093, 0x0FFFFFFF, 0xFE}, // XCF02S
    {0x05046093, 0x0FFFFFFF, 0xFE}, // XCF04S
    {0x05057093, 0x0FFFFFFF, 0xFE}, // XCF08P
    {0x05058093, 0x0FFFFFFF, 0xFE}, // XCF16P
    {0x05059093, 0x0FFFFFFF, 0xFE}, // XCF32P
    {0x06E50093, 0x0FFF0FFF, 0x01}, // XC2C64A, bits 15:12 by package
    {0x09602093, 0x0FFFFFFF, 0xFE}, // XC9536XL
    {0x09604093, 0x0FFFFFFF, 0xFE}, // XC9572XL
    {0x09608093, 0x0FFFFFFF, 0xFE}, // XC95144XL
    {0x09616093, 0x0FFFFFFF, 0xFE}, // XC95288XL
    {0x0A001093, 0x0FFFFFFF, 0x09}, // System ACE CF
};

class PlainDevice final : public TapDevice {
  public:
    PlainDevice(uint32_t position, const ChainEntry &entry, TapSink &sink)
        : TapDevice(position, entry.ir_length, sink), entry_(entry)
    {
        hidden_ = entry.hidden;
        if (!entry.has_idcode)
            return;
        for (const KnownPart &p : kKnownParts)
            if ((entry.idcode & p.mask) == p.code)
                idcode_instruction_ = p.idcode_instruction;
    }

  private:
    InstructionName decode(uint32_t code) const override
    {
        const uint32_t ones = ir_length() >= 32 ? ~0u : (1u << ir_length()) - 1;
        if (code == ones)
            return InstructionName::Bypass;
        if (idcode_instruction_ >= 0 &&
            code == static_cast<uint32_t>(idcode_instruction_))
            return InstructionName::Idcode;
        return InstructionName::Other;
    }
    bool starts_hidden() const override { return hidden_; }
    bool has_idcode() const override { return entry_.has_idcode; }
    uint32_t idcode() const override { return entry_.idcode; }

    ChainEntry entry_;
    bool hidden_ = false;
    int64_t idcode_instruction_ = -1; // none known
};

} // namespace

std::unique_ptr<TapDevice>
make_plain_device(uint32_t position, const ChainEntry &entry, TapSink &sink)
{
    return std::make_unique<PlainDevice>(position, entry, sink);
}

Chain::Chain(std::vector<std::unique_ptr<TapDevice>> devices, bool powered,
             int tdo_stuck, TapSink &sink)
    : devices_(std::move(devices)), powered_(powered), tdo_stuck_(tdo_stuck),
      sink_(sink)
{
    // Power-up puts every TAP in Test-Logic-Reset.
    for (auto &d : devices_)
        d->enter(TapState::TestLogicReset);
    for (auto &d : devices_)
        if (!d->starts_hidden())
            active_.push_back(d.get());
}

// A device revealed by the one before it joins the chain at
// Test-Logic-Reset; hidden ones neither shift nor see the TAP moves.
void Chain::reveal()
{
    std::vector<TapDevice *> active;
    bool shown = true;
    for (auto &d : devices_) {
        const bool on = shown || !d->starts_hidden();
        if (on)
            active.push_back(d.get());
        shown = on && d->reveals_next();
    }
    active_ = active;
}

bool Chain::tdo() const
{
    if (tdo_stuck_ >= 0)
        return tdo_stuck_ != 0;
    return active_.back()->tdo();
}

void Chain::rise(bool tms, bool tdi)
{
    if (!powered_)
        return;
    // Each device samples what the one nearer TDI has shown on its TDO
    // since the last falling edge; rising edges leave TDO alone.
    bool in = tdi;
    for (TapDevice *d : active_) {
        d->rise(state_, in);
        in = d->tdo();
    }
    if (state_ == TapState::CaptureDR)
        after_capture_dr();
    state_ = next_state(state_, tms);
    sink_.state(state_, 1);
    for (TapDevice *d : active_)
        d->enter(state_);
    if (state_ == TapState::TestLogicReset)
        reveal();
}

void Chain::after_capture_dr()
{
    // An FPGA's ID code reaches the adapter whole once it has passed the
    // registers of every device nearer TDO; a stuck TDO hides it.
    uint64_t after = 0;
    for (size_t i = active_.size(); i-- > 0;) {
        TapDevice &d = *active_[i];
        const bool counts = d.reports_idcode_reads() && tdo_stuck_ < 0;
        d.report_idcode_after(counts ? 32 + after : 0);
        after += static_cast<uint64_t>(d.dr_length());
    }
}

void Chain::fall()
{
    if (!powered_)
        return;
    for (TapDevice *d : active_)
        d->fall(state_);
}

void Chain::shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                           uint64_t tck)
{
    if (n == 0)
        return;
    const size_t count = active_.size();
    // Written only, the bits past the last device that takes them in leave
    // no trace but the registers' last bits: those devices see a tail of
    // their input long enough to fill their registers (at most 32 bits, so
    // each one spoils at most four leading bytes of its output tail).
    size_t full = count;
    if (!out) {
        full = 0;
        for (size_t i = 0; i < count; ++i)
            if (active_[i]->takes_dr_input())
                full = i + 1;
    }
    scratch_.resize(2 * n);
    const uint8_t *src = in;
    for (size_t i = 0; i < count; ++i) {
        uint8_t *dst = i + 1 == count ? out : &scratch_[(i % 2) * n];
        if (i < full) {
            active_[i]->shift_dr_bytes(src, n, dst, tck);
        } else {
            const size_t tail = std::min(n, 4 * (count - i) + 8);
            active_[i]->pass_dr_bytes(src + n - tail, tail, n,
                                      dst ? dst + n - tail : nullptr);
        }
        src = dst;
    }
    sink_.state(TapState::ShiftDR, 8ull * n);
    if (out && tdo_stuck_ >= 0)
        std::memset(out, tdo_stuck_ ? 0xFF : 0x00, n);
}

void Chain::state(StateFields &f)
{
    f.section("tap");
    std::string name = state_name(state_);
    f.text("state", name);
    f.require(parse_state_name(name.c_str(), state_), "a TAP state's name");
    f.expect("devices", devices_.size());
    for (const auto &d : devices_)
        d->state(f);
}

} // namespace tapsim
