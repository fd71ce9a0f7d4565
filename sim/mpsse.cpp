#include "mpsse.h"

#include <algorithm>
#include <cstdio>

#include "record.h"
#include "tap.h"

namespace tapsim {
namespace {

uint8_t reverse8(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

bool is_shift(uint8_t opcode)
{
    return opcode >= 0x10 && opcode <= 0x3F;
}

bool is_tms(uint8_t opcode)
{
    switch (opcode) {
    case 0x4A:
    case 0x4B:
    case 0x6A:
    case 0x6B:
    case 0x6E:
    case 0x6F:
        return true;
    default:
        return false;
    }
}

constexpr size_t kChunk = 4096;

} // namespace

Mpsse::Mpsse(Record &record, Fpga *target, bool high_speed,
             std::deque<uint8_t> &answers)
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
    busy_ = false;
    header_have_ = header_need_ = 0;
    payload_left_ = 0;
}

void Mpsse::feed(const uint8_t *data, size_t n)
{
    size_t i = 0;
    while (i < n) {
        if (!busy_) {
            begin(data[i++]);
        } else if (header_have_ < header_need_) {
            const uint8_t b = data[i++];
            header_[header_have_++] = b;
            cmd_->operands.push_back(b);
            if (header_have_ == header_need_)
                header_done();
        } else {
            const size_t take =
                static_cast<size_t>(std::min<uint64_t>(payload_left_, n - i));
            shift_payload(data + i, take);
            i += take;
            payload_left_ -= take;
            if (payload_left_ == 0)
                finish();
        }
    }
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
    payload_left_ = 0;

    if (is_shift(opcode)) {
        kind_ = Kind::Shift;
        header_need_ = (opcode & op::kBitMode) ? 1 : 2;
        return;
    }
    if (is_tms(opcode)) {
        kind_ = Kind::Tms;
        header_need_ = 2;
        return;
    }
    kind_ = Kind::Fixed;
    switch (opcode) {
    case op::kSetLow:
    case op::kSetHigh:
    case op::kDivisor:
        header_need_ = 2;
        return;
    case op::kGetLow:
    case op::kGetHigh:
    case op::kLoopbackOn:
    case op::kLoopbackOff:
    case op::kSendImmediate:
        header_need_ = 0;
        header_done();
        return;
    case op::kDiv5Off:
    case op::kDiv5On:
    case op::kThreePhaseOff:
    case op::kAdaptiveOff:
        if (high_speed_) {
            header_need_ = 0;
            header_done();
            return;
        }
        break;
    default:
        break;
    }
    // The chip answers an opcode it does not know with 0xFA and the opcode.
    kind_ = Kind::Bad;
    cmd_->bad = true;
    char text[64];
    std::snprintf(text, sizeof text, "command %zu: bad opcode 0x%02X", command_,
                  opcode);
    record_.keep(record_.protocol_errors, std::string(text));
    answer(op::kBadCommand);
    answer(opcode);
    finish();
}

void Mpsse::header_done()
{
    if (kind_ == Kind::Tms) {
        run_tms();
        finish();
        return;
    }
    if (kind_ == Kind::Fixed) {
        run_fixed();
        finish();
        return;
    }
    const bool writes = (opcode_ & op::kWriteTdi) != 0;
    if (opcode_ & op::kBitMode) {
        if (header_[0] > 7) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "command %zu: bit length field 0x%02X above 7, chip "
                          "uses the low 3 bits",
                          command_, header_[0]);
            record_.keep(record_.protocol_errors, std::string(text));
        }
        if (writes) {
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
    if (writes) {
        payload_left_ = bytes;
    } else {
        payload_left_ = bytes;
        shift_read_only();
        payload_left_ = 0;
        finish();
    }
}

void Mpsse::finish()
{
    busy_ = false;
}

void Mpsse::run_fixed()
{
    switch (opcode_) {
    case op::kSetLow:
        low_value_ = header_[0];
        low_dir_ = header_[1];
        break;
    case op::kSetHigh:
        high_value_ = header_[0];
        high_dir_ = header_[1];
        break;
    case op::kGetLow:
        answer(read_low());
        break;
    case op::kGetHigh:
        // ACBUS has nothing wired: inputs float high.
        answer(static_cast<uint8_t>((high_value_ & high_dir_) | ~high_dir_));
        break;
    case op::kLoopbackOn:
        loopback_ = true;
        break;
    case op::kLoopbackOff:
        loopback_ = false;
        break;
    case op::kDivisor:
        divisor_ = static_cast<uint16_t>(header_[0] | header_[1] << 8);
        record_.divisor = divisor_;
        break;
    case op::kDiv5Off:
        div5_ = false;
        record_.clock_base_hz = 60000000;
        break;
    case op::kDiv5On:
        div5_ = true;
        record_.clock_base_hz = 12000000;
        break;
    default: // send immediate, three-phase/adaptive off: nothing to model
        break;
    }
}

void Mpsse::shift_payload(const uint8_t *data, size_t n)
{
    cmd_->out.append(data, n);
    if (opcode_ & op::kBitMode) {
        shift_bits(data[0], (header_[0] & 7u) + 1);
        return;
    }
    const bool read = (opcode_ & op::kReadTdo) != 0;
    const bool lsb = (opcode_ & op::kLsbFirst) != 0;
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
            target_->shift_dr_bytes(src, k, read ? out_buf : nullptr);
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

void Mpsse::shift_read_only()
{
    // TDI keeps its level while only TDO is read.
    uint8_t fill[kChunk];
    std::fill(fill, fill + kChunk, pin_level(pin::kTdi) ? 0xFF : 0x00);
    const bool lsb = (opcode_ & op::kLsbFirst) != 0;
    uint8_t out_buf[kChunk];
    uint64_t left = payload_left_;
    while (left > 0) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        if (fast_path_ok()) {
            target_->shift_dr_bytes(fill, k, out_buf);
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
        left -= k;
    }
}

void Mpsse::shift_byte_slow(uint8_t in_byte, uint8_t *out_byte)
{
    const bool lsb = (opcode_ & op::kLsbFirst) != 0;
    const bool neg_write = (opcode_ & op::kNegWrite) != 0;
    const bool neg_read = (opcode_ & op::kNegRead) != 0;
    const uint8_t drive = (opcode_ & op::kWriteTdi) ? pin::kTdi : 0;
    uint8_t got = 0;
    for (int i = 0; i < 8; ++i) {
        const bool bit =
            lsb ? ((in_byte >> i) & 1) : ((in_byte >> (7 - i)) & 1);
        const bool s = cycle(drive, bit ? pin::kTdi : 0, neg_write, neg_read);
        got = lsb ? static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0))
                  : static_cast<uint8_t>((got << 1) | (s ? 0x01 : 0));
    }
    add_clocks(8);
    *out_byte = got;
}

void Mpsse::shift_bits(uint8_t data, unsigned count)
{
    const bool lsb = (opcode_ & op::kLsbFirst) != 0;
    const bool neg_write = (opcode_ & op::kNegWrite) != 0;
    const bool neg_read = (opcode_ & op::kNegRead) != 0;
    const uint8_t drive = (opcode_ & op::kWriteTdi) ? pin::kTdi : 0;
    // Read bits enter a shift register: at the top for LSB first (so n bits
    // end up in the n high bits), at the bottom for MSB first.
    uint8_t got = 0;
    for (unsigned i = 0; i < count; ++i) {
        const bool bit = lsb ? ((data >> i) & 1) : ((data >> (7 - i)) & 1);
        const bool s = cycle(drive, bit ? pin::kTdi : 0, neg_write, neg_read);
        got = lsb ? static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0))
                  : static_cast<uint8_t>((got << 1) | (s ? 0x01 : 0));
    }
    add_clocks(count);
    if (opcode_ & op::kReadTdo)
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
    const bool neg_write = (opcode_ & op::kNegWrite) != 0;
    const bool neg_read = (opcode_ & op::kNegRead) != 0;
    const uint8_t tdi = (data & 0x80) ? pin::kTdi : 0;
    uint8_t got = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t tms = ((data >> i) & 1) ? pin::kTms : 0;
        const bool s =
            cycle(pin::kTms | pin::kTdi, static_cast<uint8_t>(tms | tdi),
                  neg_write, neg_read);
        got = static_cast<uint8_t>((got >> 1) | (s ? 0x80 : 0));
    }
    add_clocks(count);
    if (opcode_ & op::kReadTdo)
        answer(got);
}

bool Mpsse::cycle(uint8_t drive_mask, uint8_t drive_bits, bool neg_write,
                  bool neg_read)
{
    // The target samples TMS/TDI on the rising edge and moves TDO on the
    // falling one. A pin changed on an edge is seen by the other side only
    // after that edge (output delay beats zero hold time), so a write on the
    // rising edge reaches the target one clock late.
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
    if ((opcode_ & op::kWriteTdi) && !(opcode_ & op::kNegWrite))
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
    answers_.push_back(b);
    cmd_->in.append(&b, 1);
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
