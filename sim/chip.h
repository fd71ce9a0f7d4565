// The FTDI dual-channel chip: vendor control requests, bulk endpoints with
// the modem-status header on every packet, and injected faults. Its API
// knows nothing of libusb, so other host-side fronts can sit on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "mpsse.h"
#include "scenario.h"

namespace tapsim {

class Chain;
class Mpsse;
struct Record;

// FTDI vendor requests (bRequest).
namespace sio {
constexpr uint8_t kReset = 0x00;
constexpr uint8_t kModemCtrl = 0x01;
constexpr uint8_t kFlowCtrl = 0x02;
constexpr uint8_t kBaudrate = 0x03;
constexpr uint8_t kSetData = 0x04;
constexpr uint8_t kPollModemStatus = 0x05;
constexpr uint8_t kEventChar = 0x06;
constexpr uint8_t kErrorChar = 0x07;
constexpr uint8_t kSetLatency = 0x09;
constexpr uint8_t kGetLatency = 0x0A;
constexpr uint8_t kSetBitmode = 0x0B;
constexpr uint8_t kReadPins = 0x0C;
constexpr uint8_t kReadEeprom = 0x90;
constexpr uint8_t kWriteEeprom = 0x91;
constexpr uint8_t kEraseEeprom = 0x92;

// Purge values as the chip acts on them (libftdi 0.20 names 1 "RX" and 2
// "TX" and sends them the other way round from what its calls promise).
constexpr uint16_t kResetSio = 0;
constexpr uint16_t kPurgeToChip = 1; // host-to-chip buffer
constexpr uint16_t kPurgeToHost = 2; // chip-to-host buffer

constexpr uint8_t kModeReset = 0x00;
constexpr uint8_t kModeMpsse = 0x02;

// Two bytes in front of every packet the chip sends.
constexpr uint8_t kModemStatus = 0x32;
constexpr uint8_t kLineStatus = 0x60;
} // namespace sio

struct ChipInfo {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcd_device = 0x0500;
    uint16_t packet_size = 64;
    uint16_t to_chip_buffer = 128;
    uint16_t to_host_buffer = 384;
    bool high_speed = false;
    uint64_t usb_ticks = 60000; // model time of one bulk transfer
};

// What a bulk write did beyond its result.
struct WriteOutcome {
    size_t taken = 0;  // bytes the chip took, whatever the result
    bool full = false; // it refused the rest for want of room, no fault:
                       // the same bytes may fit after a read
};

class Chip {
  public:
    static constexpr int kChannels = 2;

    // target may be null: then nothing is wired and bulk data is only
    // recorded. faults apply to this chip's bulk transfers.
    Chip(uint32_t device_index, const ChipInfo &info, Record &record,
         Chain *target, const Faults &faults);
    ~Chip();
    Chip(const Chip &) = delete;
    Chip &operator=(const Chip &) = delete;

    const ChipInfo &info() const { return info_; }
    bool strings_stall() const { return faults_.string_stall; }
    // The adapter's board was rebuilt (its state loaded on a claim): the
    // header now reaches target. Buffers and settings stay.
    void rewire(Chain *target);

    // Returns bytes transferred in the data stage, or a negative errno.
    // For device-to-host requests (request_type bit 7) data receives up to
    // length bytes.
    int control(uint8_t request_type, uint8_t request, uint16_t value,
                uint16_t index, uint8_t *data, uint16_t length);
    // Returns bytes the chip took, or a negative errno.
    int bulk_write(int channel, const uint8_t *data, size_t n,
                   WriteOutcome *outcome = nullptr);
    // Fills whole packets (status bytes first) up to n bytes; returns the
    // byte count including status bytes, or a negative errno.
    int bulk_read(int channel, uint8_t *buf, size_t n);

  private:
    struct Channel {
        uint8_t mode = sio::kModeReset;
        uint8_t mask = 0;
        uint8_t latency = 16;
        AnswerQueue rx;               // waiting to go to the host
        std::vector<uint8_t> pending; // taken, not yet run (engine stalled)
        std::unique_ptr<Mpsse> mpsse;
    };

    int channel_of(uint16_t index) const;
    bool unplugged_now(uint64_t transfer);
    size_t accept(Channel &ch, const uint8_t *data, size_t n);
    void run_pending(Channel &ch);
    size_t sendable(const Channel &ch) const;
    int handle_control(Channel &ch, int channel, uint8_t request_type,
                       uint8_t request, uint16_t value, uint16_t index,
                       uint8_t *data, uint16_t length);

    uint32_t device_;
    ChipInfo info_;
    Record &record_;
    Faults faults_;
    Channel channels_[kChannels];
    uint64_t writes_ = 0;
    uint64_t reads_ = 0;
    uint64_t transfers_ = 0;
    bool unplugged_ = false;
    bool wired_;
};

} // namespace tapsim
