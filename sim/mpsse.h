// The MPSSE engine of an FTDI channel: a streaming command parser (a
// command may span bulk writes) that drives the JTAG pins of ADBUS and
// queues its answers for the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "record.h"

namespace tapsim {

class Fpga;

// ADBUS pins as wired on the adapter.
namespace pin {
constexpr uint8_t kTck = 0x01;
constexpr uint8_t kTdi = 0x02;
constexpr uint8_t kTdo = 0x04;
constexpr uint8_t kTms = 0x08;
constexpr uint8_t kVref = 0x10; // target supply sense, input
} // namespace pin

// Opcode bit fields of the clocking commands (0x10-0x7F).
namespace op {
constexpr uint8_t kNegWrite = 0x01; // TDI/TMS change on the falling edge
constexpr uint8_t kBitMode = 0x02;  // length counts bits, not bytes
constexpr uint8_t kNegRead = 0x04;  // TDO sampled on the falling edge
constexpr uint8_t kLsbFirst = 0x08;
constexpr uint8_t kWriteTdi = 0x10;
constexpr uint8_t kReadTdo = 0x20;
constexpr uint8_t kWriteTms = 0x40;

constexpr uint8_t kSetLow = 0x80;
constexpr uint8_t kGetLow = 0x81;
constexpr uint8_t kSetHigh = 0x82;
constexpr uint8_t kGetHigh = 0x83;
constexpr uint8_t kLoopbackOn = 0x84;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kDivisor = 0x86;
constexpr uint8_t kSendImmediate = 0x87;
// High-speed chips only.
constexpr uint8_t kDiv5Off = 0x8A;
constexpr uint8_t kDiv5On = 0x8B;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kAdaptiveOff = 0x97;

constexpr uint8_t kBadCommand = 0xFA;
} // namespace op

class Mpsse {
  public:
    // target may be null (nothing wired to the pins).
    Mpsse(Record &record, Fpga *target, bool high_speed,
          std::deque<uint8_t> &answers);

    // Entering MPSSE mode: pins back to inputs, parser idle.
    void restart();
    // Host-to-chip buffer purged: a half-received command is dropped.
    void drop_partial();

    void feed(const uint8_t *data, size_t n);

    uint8_t read_low() const;

  private:
    enum class Kind : uint8_t { Shift, Tms, Fixed, Bad };

    void begin(uint8_t opcode);
    void header_done();
    void finish();
    void run_fixed();
    void shift_payload(const uint8_t *data, size_t n);
    void shift_read_only();
    void shift_bits(uint8_t data, unsigned count);
    void run_tms();
    void shift_byte_slow(uint8_t in_byte, uint8_t *out_byte);
    bool fast_path_ok() const;
    void answer(uint8_t b);
    void add_clocks(uint64_t n);

    bool cycle(uint8_t drive_mask, uint8_t drive_bits, bool neg_write,
               bool neg_read);
    bool pin_level(uint8_t mask) const;
    bool sample_tdo() const;
    bool clocks_target() const;

    Record &record_;
    Fpga *target_;
    bool high_speed_;
    std::deque<uint8_t> &answers_;

    uint8_t low_value_ = 0;
    uint8_t low_dir_ = 0;
    uint8_t high_value_ = 0;
    uint8_t high_dir_ = 0;
    bool loopback_ = false;
    bool div5_ = true;
    uint16_t divisor_ = 0;

    // Parser state.
    bool busy_ = false;
    uint8_t opcode_ = 0;
    Kind kind_ = Kind::Fixed;
    uint8_t header_[2] = {0, 0};
    unsigned header_have_ = 0;
    unsigned header_need_ = 0;
    uint64_t payload_left_ = 0;
    size_t commands_seen_ = 0;
    size_t command_ = 0; // number of the current command, for messages
    MpsseCommand *cmd_;  // its record entry, or scratch_ once the list is full
    MpsseCommand scratch_;
};

} // namespace tapsim
