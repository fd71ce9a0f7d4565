#include "mpsse.h"

#include <algorithm>
#include <cstdio>

#include "chain.h"
#include "model_clock.h"
#include "record.h"

namespace tapsim {
namespace {

uint8_t reverse8(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

struct OpcodeTable {
    OpcodeRow rows[256];
};

constexpr OpcodeTable make_table()
{
    OpcodeTable t{};
    // 0x10-0x3F clock data on TDI and/or TDO: a 16-bit byte count, or a
    // 3-bit bit count when bit 1 is set.
    for (int c = 0x10; c <= 0x3F; ++c)
        t.rows[c] = {Action::Shift, static_cast<uint8_t>(c & 0x02 ? 1 : 2),
                     false};
    // TMS commands: bit count, then TMS bits with TDI in bit 7.
    const uint8_t tms[] = {0x4A, 0x4B, 0x6A, 0x6B, 0x6E, 0x6F};
    for (uint8_t c : tms)
        t.rows[c] = {Action::Tms, 2, false};
    t.rows[op::kSetLow] = {Action::SetLow, 2, false};
    t.rows[op::kGetLow] = {Action::GetLow, 0, false};
    t.rows[op::kSetHigh] = {Action::SetHigh, 2, false};
    t.rows[op::kGetHigh] = {Action::GetHigh, 0, false};
    t.rows[op::kLoopbackOn] = {Action::LoopbackOn, 0, false};
    t.rows[op::kLoopbackOff] = {Action::LoopbackOff, 0, false};
    t.rows[op::kDivisor] = {Action::Divisor, 2, false};
    t.rows[op::kSendImmediate] = {Action::SendImmediate, 0, false};
    t.rows[op::kWaitHigh] = {Action::WaitHigh, 0, false};
    t.rows[op::kWaitLow] = {Action::WaitLow, 0, false};
    t.rows[op::kDiv5Off] = {Action::Div5Off, 0, true};
    t.rows[op::kDiv5On] = {Action::Div5On, 0, true};
    t.rows[op::kThreePhaseOn] = {Action::Nothing, 0, true};
    t.rows[op::kThreePhaseOff] = {Action::Nothing, 0, true};
    t.rows[op::kClockBits] = {Action::ClockBits, 1, true};
    t.rows[op::kClockBytes] = {Action::ClockBytes, 2, true};
    t.rows[op::kClockUntilHigh] = {Action::ClockUntilHigh, 0, true};
    t.rows[op::kClockUntilLow] = {Action::ClockUntilLow, 0, true};
    t.rows[op::kAdaptiveOn] = {Action::Nothing, 0, true};
    t.rows[op::kAdaptiveOff] = {Action::Nothing, 0, true};
    t.rows[op::kClockBytesUntilHigh] = {Action::ClockBytesUntilHigh, 2, true};
    t.rows[op::kClockBytesUntilLow] = {Action::ClockBytesUntilLow, 2, true};
    return t;
}

constexpr OpcodeTable kOpcodes = make_table();
constexpr OpcodeRow kBadRow{};

constexpr size_t kChunk = 4096;

} // namespace

const OpcodeRow &opcode_row(uint8_t opcode)
{
    return kOpcodes.rows[opcode];
}

Mpsse::Mpsse(Record &record, Chain *target, bool high_speed,
             AnswerQueue &answers)
    : record_(record), target_(target), high_speed_(high_speed),
      answers_(answers), cmd_(&scratch_)
{
    restart();
}

void Mpsse::restart()
{
    low_value_ = low_dir_ = high_value_ = high_dir_ = 0;
    loopback_ = false;
    drop_partial();
}

void Mpsse::drop_partial()
{
    busy_ = stalled_ = waiting_ = false;
    header_have_ = 0;
    payload_left_ = read_only_left_ = 0;
}

size_t Mpsse::feed(const uint8_t *data, size_t n)
{
    // A command that would answer more than the chip-to-host buffer holds
    // stops the engine until the host reads; so does an unmet wait.
    size_t i = 0;
    stalled_ = false;
    while (resume()) {
        if (i == n)
            return i;
        if (!busy_) {
            const OpcodeRow &row = opcode_row(data[i]);
            const bool bad =
                row.action == Action::Bad || (row.high_speed && !high_speed_);
            const size_t need =
                bad ? 2
                : row.action == Action::GetLow || row.action == Action::GetHigh
                    ? 1
                    : 0;
            if (answers_.room() < need)
                break;
            begin(data[i++]);
        } else if (header_have_ < row_.operands) {
            if (header_have_ + 1u == row_.operands &&
                answers_.room() < answers_on_last_header_byte())
                break;
            const uint8_t b = data[i++];
            header_[header_have_++] = b;
            cmd_->operands.push_back(b);
            if (header_have_ == row_.operands)
                header_done();
        } else {
            uint64_t take = std::min<uint64_t>(payload_left_, n - i);
            if (mode_.read_tdo)
                take = std::min<uint64_t>(take, answers_.room());
            if (take == 0)
                break;
            shift_payload(data + i, static_cast<size_t>(take));
            i += static_cast<size_t>(take);
            payload_left_ -= take;
            if (payload_left_ == 0)
                finish();
        }
    }
    stalled_ = true;
    return i;
}

bool Mpsse::resume()
{
    if (waiting_) {
        const bool high = pin_level(pin::kGpioL1);
        if (high != wait_high_)
            return false;
        waiting_ = false;
        finish();
    }
    if (read_only_left_ > 0) {
        if (!shift_read_only())
            return false;
        finish();
    }
    return true;
}

size_t Mpsse::answers_on_last_header_byte() const
{
    if (row_.action == Action::Tms)
        return mode_.read_tdo ? 1 : 0;
    if (row_.action == Action::Shift && mode_.bit_mode && mode_.read_tdo &&
        !mode_.write_tdi)
        return 1;
    return 0;
}

void Mpsse::begin(uint8_t opcode)
{
    opcode_ = opcode;
    command_ = commands_seen_++;
    MpsseCommand fresh;
    fresh.opcode = opcode;
    if (record_.keep(record_.commands, std::move(fresh))) {
        cmd_ = &record_.commands.back();
    } else {
        scratch_ = MpsseCommand();
        cmd_ = &scratch_;
    }
    busy_ = true;
    header_have_ = 0;
    payload_left_ = read_only_left_ = 0;
    row_ = opcode_row(opcode);
    if (row_.high_speed && !high_speed_)
        row_ = kBadRow;
    // The clocking commands' bit fields, decoded once.
    mode_ = Mode{(opcode & op::kNegWrite) != 0, (opcode & op::kBitMode) != 0,
                 (opcode & op::kNegRead) != 0,  (opcode & op::kLsbFirst) != 0,
                 (opcode & op::kWriteTdi) != 0, (opcode & op::kReadTdo) != 0};

    if (row_.action == Action::Bad) {
        // The chip answers an opcode it does not know with 0xFA and the
        // opcode.
        cmd_->bad = true;
        char text[64];
        std::snprintf(text, sizeof text, "command %zu: bad opcode 0x%02X",
                      command_, opcode);
        record_.keep(record_.protocol_errors, std::string(text));
        answer(op::kBadCommand);
        answer(opcode);
        finish();
        return;
    }
    if (row_.operands == 0)
        header_done();
}

void Mpsse::header_done()
{
    if (row_.action == Action::Tms) {
        run_tms();
        finish();
        return;
    }
    if (row_.action != Action::Shift) {
        run_fixed();
        if (!waiting_)
            finish();
        return;
    }
    if (mode_.bit_mode) {
        if (header_[0] > 7) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "command %zu: bit length field 0x%02X above 7, chip "
                          "uses the low 3 bits",
                          command_, header_[0]);
            record_.keep(record_.protocol_errors, std::string(text));
        }
        if (mode_.write_tdi) {
            payload_left_ = 1;
        } else {
            shift_bits(pin_level(pin::kTdi) ? 0xFF : 0x00,
                       (header_[0] & 7u) + 1);
            finish();
        }
        return;
    }
    const uint64_t bytes = (static_cast<uint64_t>(header_[0]) |
                            static_cast<uint64_t>(header_[1]) << 8) +
                           1;
    if (mode_.write_tdi)
        payload_left_ = bytes;
    else
        read_only_left_ = bytes; // produced as the answer buffer allows
}

void Mpsse::finish()
{
    busy_ = false;
}

void Mpsse::run_fixed()
{
    const uint64_t count16 =
        static_cast<uint64_t>(header_[0] | header_[1] << 8) + 1;
    const bool gpio_high = pin_level(pin::kGpioL1);
    switch (row_.action) {
    case Action::SetLow:
        low_value_ = header_[0];
        low_dir_ = header_[1];
        break;
    case Action::SetHigh:
        high_value_ = header_[0];
        high_dir_ = header_[1];
        break;
    case Action::GetLow:
        answer(read_low());
        break;
    case Action::GetHigh:
        // ACBUS has nothing wired: inputs float high.
        answer(static_cast<uint8_t>((high_value_ & high_dir_) | ~high_dir_));
        break;
    case Action::LoopbackOn:
        loopback_ = true;
        break;
    case Action::LoopbackOff:
        loopback_ = false;
        break;
    case Action::Divisor:
        divisor_ = static_cast<uint16_t>(header_[0] | header_[1] << 8);
        record_.divisor = divisor_;
        break;
    case Action::SendImmediate:
        answers_.flush = answers_.bytes.size();
        break;
    case Action::WaitHigh:
    case Action::WaitLow:
        // GPIOL1 only changes if the host drives it, which it cannot do
        // while the engine waits: an unmet wait lasts until a purge.
        wait_high_ = row_.action == Action::WaitHigh;
        waiting_ = gpio_high != wait_high_;
        break;
    case Action::ClockUntilLow:
        // The level never falls on this bench: clocks for ever, i.e. stalls.
        wait_high_ = false;
        waiting_ = gpio_high;
        break;
    case Action::ClockUntilHigh:
        wait_high_ = true;
        waiting_ = !gpio_high;
        break;
    case Action::Div5Off:
        div5_ = false;
        record_.clock_base_hz = 60000000;
        break;
    case Action::Div5On:
        div5_ = true;
        record_.clock_base_hz = 12000000;
        break;
    case Action::ClockBits:
        clock_idle((header_[0] & 7u) + 1u);
        break;
    case Action::ClockBytes:
        clock_idle(8 * count16);
        break;
    case Action::ClockBytesUntilHigh:
        if (!gpio_high)
            clock_idle(8 * count16);
        break;
    case Action::ClockBytesUntilLow:
        if (gpio_high)
            clock_idle(8 * count16);
        break;
    default: // three-phase and adaptive clocking: nothing to model
        break;
    }
}

void Mpsse::clock_idle(uint64_t cycles)
{
    // TCK only: TMS and TDI keep their levels, so the TAP moves on TMS.
    for (uint64_t i = 0; i < cycles; ++i)
        cycle(0, 0, false, false);
    add_clocks(cycles);
}

void Mpsse::shift_payload(const uint8_t *data, size_t n)
{
    cmd_->out.append(data, n);
    if (mode_.bit_mode) {
        shift_bits(data[0], (header_[0] & 7u) + 1);
        return;
    }
    const bool read = mode_.read_tdo;
    const bool lsb = mode_.lsb;
    uint8_t in_buf[kChunk];
    uint8_t out_buf[kChunk];
    while (n > 0) {
        const size_t k = std::min(n, kChunk);
        if (fast_path_ok()) {
            const uint8_t *src = data;
            if (!lsb) {
                for (size_t i = 0; i < k; ++i)
                    in_buf[i] = reverse8(data[i]);
                src = in_buf;
            }
            const uint64_t tck = tck_ticks();
            target_->shift_dr_bytes(src, k, read ? out_buf : nullptr, tck);
            model_advance(8ull * k * tck);
            const uint8_t last = data[k - 1];
            const bool tdi = lsb ? (last & 0x80) != 0 : (last & 0x01) != 0;
            low_value_ = static_cast<uint8_t>(tdi ? (low_value_ | pin::kTdi)
                                                  : (low_value_ & ~pin::kTdi));
            add_clocks(8ull * k);
            if (read) {
                for (size_t i = 0; i < k; ++i)
                    answer(lsb ? out_buf[i] : reverse8(out_buf[i]));
            }
        } else {
            for (size_t i = 0; i < k; ++i) {
                uint8_t got = 0;
                shift_byte_slow(data[i], &got);
                if (read)
                    answer(got);
            }
        }
        data += k;
        n -= k;
    }
}

bool Mpsse::shift_read_only()
{
    // TDI keeps its level while only TDO is read.
    uint8_t fill[kChunk];
    std::fill(fill, fill + kChunk, pin_level(pin::kTdi) ? 0xFF : 0x00);
    const bool lsb = mode_.lsb;
    uint8_t out_buf[kChunk];
    while (read_only_left_ > 0 && answers_.room() > 0) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(
            std::min<uint64_t>(read_only_left_, kChunk), answers_.room()));
        if (fast_path_ok()) {
            const uint64_t tck = tck_ticks();
            target_->shift_dr_bytes(fill, k, out_buf, tck);
            model_advance(8ull * k * tck);
            add_clocks(8ull * k);
            for (size_t i = 0; i < k; ++i)
                answer(lsb ? out_buf[i] : reverse8(out_buf[i]));
        } else {
            for (size_t i = 0; i < k; ++i) {
                uint8_t got = 0;
                shift_byte_slow(fill[0], &got);
                answer(got);
            }
        }
        read_only_left_ -= k;
    }
    return read_only_left_ == 0;
}

void Mpsse::shift_byte_slow(uint8_t in_byte, uint8_t *out_byte)
{
    const bool lsb = mode_.lsb;
    const uint8_t drive = mode_.write_tdi ? pin::kTdi : 0;
    uint8_t got = 0;
    for (int i = 0; i < 8; ++i) {
        const bool bit =
            lsb ? ((in_byte >> i) & 1) : ((in_byte >> (7 - i)) & 1);
        const bool s =
            cycle(drive, bit ? pin::kTdi : 0, mode_.neg_write, mode_.neg_read);
        got = lsb ? static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0))
                  : static_cast<uint8_t>((got << 1) | (s ? 0x01 : 0));
    }
    add_clocks(8);
    *out_byte = got;
}

void Mpsse::shift_bits(uint8_t data, unsigned count)
{
    const bool lsb = mode_.lsb;
    const uint8_t drive = mode_.write_tdi ? pin::kTdi : 0;
    // Read bits enter a shift register: at the top for LSB first (so n bits
    // end up in the n high bits), at the bottom for MSB first.
    uint8_t got = 0;
    for (unsigned i = 0; i < count; ++i) {
        const bool bit = lsb ? ((data >> i) & 1) : ((data >> (7 - i)) & 1);
        const bool s =
            cycle(drive, bit ? pin::kTdi : 0, mode_.neg_write, mode_.neg_read);
        got = lsb ? static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0))
                  : static_cast<uint8_t>((got << 1) | (s ? 0x01 : 0));
    }
    add_clocks(count);
    if (mode_.read_tdo)
        answer(got);
}

void Mpsse::run_tms()
{
    if (header_[0] > 6) {
        char text[96];
        std::snprintf(
            text, sizeof text,
            "command %zu: TMS length field 0x%02X above 6 (bit 7 is TDI)",
            command_, header_[0]);
        record_.keep(record_.protocol_errors, std::string(text));
    }
    const unsigned count = (header_[0] & 7u) + 1;
    const uint8_t data = header_[1];
    const uint8_t tdi = (data & 0x80) ? pin::kTdi : 0;
    uint8_t got = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t tms = ((data >> i) & 1) ? pin::kTms : 0;
        const bool s =
            cycle(pin::kTms | pin::kTdi, static_cast<uint8_t>(tms | tdi),
                  mode_.neg_write, mode_.neg_read);
        got = static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0));
    }
    add_clocks(count);
    if (mode_.read_tdo)
        answer(got);
}

bool Mpsse::cycle(uint8_t drive_mask, uint8_t drive_bits, bool neg_write,
                  bool neg_read)
{
    // The target samples TMS/TDI on the rising edge and moves TDO on the
    // falling one. A pin changed on an edge is seen by the other side only
    // after that edge (output delay beats zero hold time), so a write on the
    // rising edge reaches the target one clock late.
    model_advance(tck_ticks());
    bool sampled = false;
    auto drive = [&] {
        low_value_ = static_cast<uint8_t>((low_value_ & ~drive_mask) |
                                          (drive_bits & drive_mask));
    };
    auto rising = [&] {
        if (!neg_read)
            sampled = sample_tdo();
        if (clocks_target())
            target_->rise(pin_level(pin::kTms), pin_level(pin::kTdi));
        if (!neg_write)
            drive();
    };
    auto falling = [&] {
        if (neg_read)
            sampled = sample_tdo();
        if (clocks_target())
            target_->fall();
    };
    if (low_value_ & pin::kTck) { // clock idles high: falling edge first
        falling();
        if (neg_write)
            drive();
        rising();
    } else {
        if (neg_write)
            drive();
        rising();
        falling();
    }
    return sampled;
}

bool Mpsse::fast_path_ok() const
{
    // Byte path: clock idles low, TMS held low in Shift-DR, writes set up on
    // the falling edge. Then both read edges see the same bit.
    if (!clocks_target() || !target_->powered())
        return false;
    if (target_->state() != TapState::ShiftDR)
        return false;
    if ((low_value_ & pin::kTck) || pin_level(pin::kTms) || loopback_)
        return false;
    if (low_dir_ & pin::kTdo)
        return false;
    if (mode_.write_tdi && !mode_.neg_write)
        return false;
    return true;
}

bool Mpsse::pin_level(uint8_t mask) const
{
    // Undriven pins float high on the chip's internal pull-ups.
    return (low_dir_ & mask) ? (low_value_ & mask) != 0 : true;
}

bool Mpsse::sample_tdo() const
{
    if (loopback_)
        return pin_level(pin::kTdi);
    if (low_dir_ & pin::kTdo)
        return (low_value_ & pin::kTdo) != 0;
    return target_ ? target_->tdo() : true;
}

bool Mpsse::clocks_target() const
{
    return target_ != nullptr && (low_dir_ & pin::kTck) != 0;
}

uint8_t Mpsse::read_low() const
{
    uint8_t in = 0xFF;
    if (target_ && !target_->tdo())
        in = static_cast<uint8_t>(in & ~pin::kTdo);
    if (!(target_ && target_->powered()))
        in = static_cast<uint8_t>(in & ~pin::kVref);
    return static_cast<uint8_t>((low_value_ & low_dir_) | (in & ~low_dir_));
}

void Mpsse::answer(uint8_t b)
{
    if (answers_.bytes.empty())
        answers_.since = model_now(); // the latency timer starts
    answers_.bytes.push_back(b);
    cmd_->in.append(&b, 1);
}

uint64_t Mpsse::tck_ticks() const
{
    // Half a TCK period is (1 + divisor) cycles of the base clock: 60 MHz,
    // or 12 MHz (five ticks) with divide-by-5 on.
    return 2ull * (1u + divisor_) * (div5_ ? 5u : 1u);
}

void Mpsse::add_clocks(uint64_t n)
{
    record_.tck_cycles += n;
    cmd_->clocks += n;
    const double base = div5_ ? 12e6 : 60e6;
    const double hz = base / ((1.0 + divisor_) * 2.0);
    record_.wire_seconds += static_cast<double>(n) / hz;
}

} // namespace tapsim
