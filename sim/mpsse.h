// The MPSSE engine of an FTDI channel: a streaming command parser (a
// command may span bulk writes) that drives the JTAG pins of ADBUS and
// queues its answers for the host. What it knows of each opcode is one row
// of a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "record.h"

namespace tapsim {

class Chain;

// ADBUS pins as wired on the adapter.
namespace pin {
constexpr uint8_t kTck = 0x01;
constexpr uint8_t kTdi = 0x02;
constexpr uint8_t kTdo = 0x04;
constexpr uint8_t kTms = 0x08;
constexpr uint8_t kVref = 0x10;   // target supply sense, input
constexpr uint8_t kGpioL1 = 0x20; // nothing wired: floats high as an input
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
constexpr uint8_t kWaitHigh = 0x88; // wait until GPIOL1 is high
constexpr uint8_t kWaitLow = 0x89;
// High-speed chips only.
constexpr uint8_t kDiv5Off = 0x8A;
constexpr uint8_t kDiv5On = 0x8B;
constexpr uint8_t kThreePhaseOn = 0x8C;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kClockBits = 0x8E;  // n+1 cycles, no data
constexpr uint8_t kClockBytes = 0x8F; // 8*(n+1) cycles, no data
constexpr uint8_t kClockUntilHigh = 0x94;
constexpr uint8_t kClockUntilLow = 0x95;
constexpr uint8_t kAdaptiveOn = 0x96;
constexpr uint8_t kAdaptiveOff = 0x97;
constexpr uint8_t kClockBytesUntilHigh = 0x9C;
constexpr uint8_t kClockBytesUntilLow = 0x9D;

constexpr uint8_t kBadCommand = 0xFA;
} // namespace op

enum class Action : uint8_t {
    Bad, // no row: answered with 0xFA and the opcode
    Shift,
    Tms,
    SetLow,
    GetLow,
    SetHigh,
    GetHigh,
    LoopbackOn,
    LoopbackOff,
    Divisor,
    SendImmediate,
    WaitHigh,
    WaitLow,
    Div5Off,
    Div5On,
    Nothing, // three-phase and adaptive clocking: no effect on this bench
    ClockBits,
    ClockBytes,
    ClockUntilHigh,
    ClockUntilLow,
    ClockBytesUntilHigh,
    ClockBytesUntilLow,
};

struct OpcodeRow {
    Action action = Action::Bad;
    uint8_t operands = 0;    // header bytes after the opcode
    bool high_speed = false; // only the high-speed chip knows it
};

const OpcodeRow &opcode_row(uint8_t opcode);

// The channel's chip-to-host buffer, with what the latency timer needs.
struct AnswerQueue {
    std::deque<uint8_t> bytes;
    size_t capacity = 384;
    size_t flush = 0;   // leading bytes a send-immediate released
    uint64_t since = 0; // model time the oldest unsent byte waits from
    size_t room() const
    {
        return bytes.size() < capacity ? capacity - bytes.size() : 0;
    }
};

class Mpsse {
  public:
    // target may be null (nothing wired to the pins).
    Mpsse(Record &record, Chain *target, bool high_speed, AnswerQueue &answers);
    void rewire(Chain *target) { target_ = target; }

    // Entering MPSSE mode: pins back to inputs, parser idle.
    void restart();
    // Host-to-chip buffer purged: a half-received command is dropped, and
    // so is a stall.
    void drop_partial();

    // Takes bytes until done or stalled (answer buffer full, or waiting on
    // GPIOL1); returns how many it took. With n == 0 it only resumes.
    size_t feed(const uint8_t *data, size_t n);
    bool stalled() const { return stalled_; }

    uint8_t read_low() const;

  private:
    struct Mode {
        bool neg_write, bit_mode, neg_read, lsb, write_tdi, read_tdo;
    };

    bool resume();
    size_t answers_on_last_header_byte() const;
    void begin(uint8_t opcode);
    void header_done();
    void finish();
    void run_fixed();
    void clock_idle(uint64_t cycles);
    void shift_payload(const uint8_t *data, size_t n);
    bool shift_read_only();
    void shift_bits(uint8_t data, unsigned count);
    void run_tms();
    void shift_byte_slow(uint8_t in_byte, uint8_t *out_byte);
    bool fast_path_ok() const;
    void answer(uint8_t b);
    void add_clocks(uint64_t n);
    uint64_t tck_ticks() const;

    bool cycle(uint8_t drive_mask, uint8_t drive_bits, bool neg_write,
               bool neg_read);
    bool pin_level(uint8_t mask) const;
    bool sample_tdo() const;
    bool clocks_target() const;

    Record &record_;
    Chain *target_;
    bool high_speed_;
    AnswerQueue &answers_;

    uint8_t low_value_ = 0;
    uint8_t low_dir_ = 0;
    uint8_t high_value_ = 0;
    uint8_t high_dir_ = 0;
    bool loopback_ = false;
    bool div5_ = true;
    uint16_t divisor_ = 0;

    // Parser state.
    bool busy_ = false;
    bool stalled_ = false;
    bool waiting_ = false; // a wait on GPIOL1 that has not been met
    bool wait_high_ = false;
    uint8_t opcode_ = 0;
    OpcodeRow row_;
    Mode mode_{};
    uint8_t header_[2] = {0, 0};
    unsigned header_have_ = 0;
    uint64_t payload_left_ = 0;   // data bytes still to come from the host
    uint64_t read_only_left_ = 0; // answer bytes a read-only shift still owes
    size_t commands_seen_ = 0;
    size_t command_ = 0; // number of the current command, for messages
    MpsseCommand *cmd_;  // its record entry, or scratch_ once the list is full
    MpsseCommand scratch_;
};

} // namespace tapsim
