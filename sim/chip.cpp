#include "chip.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "chain.h"
#include "model_clock.h"
#include "mpsse.h"
#include "record.h"
#include "variant.h"

namespace tapsim {
namespace {

ControlKind classify(uint8_t request, uint16_t value)
{
    switch (request) {
    case sio::kReset:
        if (value == sio::kResetSio)
            return ControlKind::Reset;
        if (value == sio::kPurgeToChip)
            return ControlKind::PurgeRx;
        if (value == sio::kPurgeToHost)
            return ControlKind::PurgeTx;
        return ControlKind::Other;
    case sio::kModemCtrl:
        return ControlKind::ModemCtrl;
    case sio::kFlowCtrl:
        return ControlKind::FlowCtrl;
    case sio::kBaudrate:
        return ControlKind::Baudrate;
    case sio::kSetData:
        return ControlKind::SetData;
    case sio::kPollModemStatus:
        return ControlKind::ModemStatus;
    case sio::kEventChar:
        return ControlKind::EventChar;
    case sio::kErrorChar:
        return ControlKind::ErrorChar;
    case sio::kSetLatency:
        return ControlKind::Latency;
    case sio::kGetLatency:
        return ControlKind::GetLatency;
    case sio::kSetBitmode:
        return ControlKind::BitMode;
    case sio::kReadPins:
        return ControlKind::ReadPins;
    case sio::kReadEeprom:
    case sio::kWriteEeprom:
    case sio::kEraseEeprom:
        return ControlKind::Eeprom;
    default:
        return ControlKind::Other;
    }
}

// Baud rate divisor: 14-bit integer part, a 3-bit fraction code split over
// wValue bits 14-15 and wIndex bit 8, and (high-speed chips) bit 17 picking
// the 12 MHz base over 3 MHz.
uint32_t decode_baudrate(uint16_t value, uint16_t index)
{
    static const uint32_t kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const uint32_t enc = value | (static_cast<uint32_t>(index & 0xFF00) << 8);
    const uint32_t base = (enc & 0x20000) ? 12000000u : 3000000u;
    const uint32_t whole = enc & 0x3FFF;
    const uint32_t eighths = whole * 8 + kEighths[(enc >> 14) & 7];
    if (whole == 0 && eighths == 0)
        return base;
    if (whole == 1 && eighths == 8)
        return base * 2 / 3; // special code for 2 MBd
    return static_cast<uint32_t>(
        (static_cast<uint64_t>(base) * 8 + eighths / 2) / eighths);
}

} // namespace

Chip::Chip(uint32_t device_index, const ChipInfo &info, Record &record,
           Chain *target, const Faults &faults)
    : device_(device_index), info_(info), record_(record), faults_(faults),
      wired_(target != nullptr)
{
    // Only channel A's MPSSE reaches the JTAG header.
    for (Channel &ch : channels_)
        ch.rx.capacity = info.to_host_buffer;
    if (target)
        channels_[0].mpsse = std::make_unique<Mpsse>(
            record, target, info.high_speed, channels_[0].rx);
}

Chip::~Chip() = default;

void Chip::rewire(Chain *target)
{
    if (channels_[0].mpsse)
        channels_[0].mpsse->rewire(target);
}

int Chip::channel_of(uint16_t index) const
{
    // wIndex low byte: 1 = channel A, 2 = channel B; 0 means A on old chips.
    const int port = index & 0xFF;
    if (port == 0 || port == 1)
        return 0;
    if (port == 2)
        return 1;
    return -1;
}

int Chip::control(uint8_t request_type, uint8_t request, uint16_t value,
                  uint16_t index, uint8_t *data, uint16_t length)
{
    ControlTransfer t;
    t.seq = record_.next_seq++;
    t.device = device_;
    t.request_type = request_type;
    t.request = request;
    t.value = value;
    t.index = index;
    t.length = length;
    t.kind = classify(request, value);

    const int channel = channel_of(index);
    if (unplugged_)
        t.result = -ENODEV;
    else if ((request_type & 0x60) != 0x40 || channel < 0)
        t.result = -EPIPE; // not a vendor request to a channel: the chip stalls
    else
        t.result = handle_control(channels_[channel], channel, request_type,
                                  request, value, index, data, length);
    const int result = t.result;
    record_.keep(record_.controls, std::move(t));
    return result;
}

int Chip::handle_control(Channel &ch, int channel, uint8_t request_type,
                         uint8_t request, uint16_t value, uint16_t index,
                         uint8_t *data, uint16_t length)
{
    const bool in = (request_type & 0x80) != 0;
    const bool recorded = wired_ && channel == 0;
    auto reply = [&](const uint8_t *bytes, uint16_t n) {
        const uint16_t k = std::min(n, length);
        if (data)
            std::copy(bytes, bytes + k, data);
        return static_cast<int>(k);
    };

    switch (request) {
    case sio::kReset:
        // Clears the chip's FIFOs; the JTAG target does not notice.
        if (value == sio::kResetSio || value == sio::kPurgeToHost) {
            ch.rx.bytes.clear();
            ch.rx.flush = 0;
        }
        if (value == sio::kResetSio || value == sio::kPurgeToChip) {
            ch.pending.clear();
            if (ch.mpsse)
                ch.mpsse->drop_partial();
        }
        return 0;
    case sio::kBaudrate:
        if (recorded)
            record_.baudrate = decode_baudrate(value, index);
        return 0;
    case sio::kSetLatency:
        ch.latency = static_cast<uint8_t>(value & 0xFF);
        if (recorded)
            record_.latency = ch.latency;
        return 0;
    case sio::kGetLatency: {
        const uint8_t b = ch.latency;
        return in ? reply(&b, 1) : 0;
    }
    case sio::kSetBitmode:
        ch.mask = static_cast<uint8_t>(value & 0xFF);
        ch.mode = static_cast<uint8_t>(value >> 8);
        if (ch.mode == sio::kModeMpsse && ch.mpsse)
            ch.mpsse->restart();
        if (recorded) {
            record_.bit_mode = ch.mode;
            record_.bit_mask = ch.mask;
        }
        return 0;
    case sio::kReadPins: {
        const uint8_t b = ch.mpsse ? ch.mpsse->read_low() : 0xFF;
        return in ? reply(&b, 1) : 0;
    }
    case sio::kPollModemStatus: {
        const uint8_t b[2] = {sio::kModemStatus, sio::kLineStatus};
        return in ? reply(b, 2) : 0;
    }
    case sio::kReadEeprom: {
        const uint8_t b[2] = {0xFF, 0xFF}; // blank EEPROM
        return in ? reply(b, 2) : 0;
    }
    default:
        if (in) {
            if (data)
                std::fill(data, data + length, 0);
            return length;
        }
        return 0;
    }
}

bool Chip::unplugged_now(uint64_t transfer)
{
    if (faults_.unplug != 0 && transfer >= faults_.unplug)
        unplugged_ = true;
    return unplugged_;
}

void Chip::run_pending(Channel &ch)
{
    if (ch.mode != sio::kModeMpsse || !ch.mpsse)
        return;
    const size_t k = ch.mpsse->feed(ch.pending.data(), ch.pending.size());
    ch.pending.erase(ch.pending.begin(),
                     ch.pending.begin() + static_cast<std::ptrdiff_t>(k));
}

size_t Chip::accept(Channel &ch, const uint8_t *data, size_t n)
{
    // Bulk data is only interpreted in MPSSE mode.
    if (ch.mode != sio::kModeMpsse || !ch.mpsse)
        return n;
    run_pending(ch);
    size_t took = 0;
    if (ch.pending.empty())
        took = ch.mpsse->feed(data, n);
    // What a stalled engine cannot take waits in the chip's buffer as far
    // as it fits; the rest the chip refuses.
    const size_t room = ch.pending.size() < info_.to_chip_buffer
                            ? info_.to_chip_buffer - ch.pending.size()
                            : 0;
    const size_t queued = std::min(room, n - took);
    ch.pending.insert(ch.pending.end(), data + took, data + took + queued);
    return took + queued;
}

int Chip::bulk_write(int channel, const uint8_t *data, size_t n,
                     WriteOutcome *outcome)
{
    ++writes_;
    model_advance(info_.usb_ticks);
    BulkTransfer t;
    t.seq = record_.next_seq++;
    t.device = device_;
    t.channel = static_cast<uint8_t>(channel);
    t.requested = static_cast<int32_t>(n);

    Channel &ch = channels_[channel];
    size_t take = 0;
    bool full = false;
    if (unplugged_now(++transfers_)) {
        t.result = -ENODEV;
    } else if (faults_.error_write == writes_) {
        t.result = -EIO;
    } else {
        // libusb 0.1 never returns a short count: on a timeout it fails the
        // write, whatever the chip took. The short-write fault is the shape
        // it never has.
        bool timed_out = false;
        size_t offer = n;
        if (faults_.short_write == writes_)
            offer = n / 2;
        if (faults_.partial_write == writes_) {
            offer = faults_.partial_keep == Faults::kHalf
                        ? n / 2
                        : std::min(n, faults_.partial_keep);
            timed_out = true;
        }
        take = accept(ch, data, offer);
        if (take < offer) {
            timed_out = true;
            full = !(faults_.short_write == writes_ ||
                     faults_.partial_write == writes_);
        }
        t.result = timed_out ? -ETIMEDOUT : static_cast<int32_t>(take);
    }
    t.data.append(data, take);
    if (outcome)
        *outcome = WriteOutcome{take, full};
    const int result = t.result;
    record_.keep(record_.bulk, std::move(t));
    if (faults_.signal_at != 0 && faults_.signal_at == writes_)
        std::raise(faults_.signal_number);
    return result;
}

size_t Chip::sendable(const Channel &ch) const
{
    // Whole packets go at once; the rest waits for the latency timer or a
    // send-immediate.
    const size_t payload = info_.packet_size - 2u;
    const size_t queued = ch.rx.bytes.size();
    const uint64_t latency =
        static_cast<uint64_t>(ch.latency) * 1000 * kTicksPerUs;
    if (queued > 0 && model_now() - ch.rx.since >= latency)
        return queued;
    return std::max(ch.rx.flush, queued / payload * payload);
}

int Chip::bulk_read(int channel, uint8_t *buf, size_t n)
{
    ++reads_;
    model_advance(info_.usb_ticks);
    BulkTransfer t;
    t.seq = record_.next_seq++;
    t.device = device_;
    t.channel = static_cast<uint8_t>(channel);
    t.in = true;
    t.requested = static_cast<int32_t>(n);

    Channel &ch = channels_[channel];
    if (unplugged_now(++transfers_)) {
        t.result = -ENODEV;
    } else if (faults_.error_read == reads_) {
        t.result = -EIO;
    } else {
        const bool starve =
            faults_.empty_reads_forever || reads_ <= faults_.empty_reads ||
            (faults_.silent_from != 0 && reads_ >= faults_.silent_from);
        std::deque<uint8_t> &rx = ch.rx.bytes;
        size_t ready = starve ? 0 : sendable(ch);
        const size_t payload = info_.packet_size - 2u;
        size_t pos = 0, sent = 0;
        while (n - pos >= 2) {
            buf[pos++] = sio::kModemStatus;
            buf[pos++] = sio::kLineStatus;
            const size_t room = std::min(payload, n - pos);
            const size_t k = std::min(room, ready);
            std::copy(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(k),
                      buf + pos);
            rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(k));
            pos += k;
            ready -= k;
            sent += k;
            // A short packet ends the transfer, and so does an empty queue.
            if (k < payload || ready == 0)
                break;
        }
        ch.rx.flush = ch.rx.flush > sent ? ch.rx.flush - sent : 0;
        if (sent > 0)
            ch.rx.since = model_now(); // the timer restarts after a packet
        t.result = static_cast<int32_t>(pos);
        t.data.append(buf, pos);
        // Room in the buffer again: a stalled engine goes on.
        if (sent > 0)
            run_pending(ch);
    }
    const int result = t.result;
    record_.keep(record_.bulk, std::move(t));
    if (faults_.signal_at != 0 && faults_.signal_at == writes_)
        std::raise(faults_.signal_number);
    return result;
}

} // namespace tapsim
