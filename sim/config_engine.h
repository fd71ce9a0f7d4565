// The FPGA's configuration logic behind CFG_IN, CFG_OUT and JSTART:
// clearing after JPROGRAM, the packet processor after the sync word, the
// ID code and CRC checks, the STAT register and start-up. It owns INIT and
// DONE; the TAP only feeds it. What differs between families comes from
// their row in family.h.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "family.h"

namespace tapsim {

class StateFields;

// Why the engine refused a stream (the record shows it).
enum class ConfigError : uint8_t { None, Id, Crc };

// How a check of the stream went since JPROGRAM: not reached, passed
// (every time), or failed.
enum class CheckResult : uint8_t { None, Ok, Bad };

struct EngineSettings {
    uint32_t idcode = 0;          // the device's own
    bool configured = true;       // DONE high at power-up
    uint64_t clear_ticks = 0;     // JPROGRAM to INIT high, model time
    uint32_t startup_clocks = 12; // TCK in Run-Test/Idle after JSTART
};

class ConfigEngine {
  public:
    explicit ConfigEngine(const EngineSettings &settings);

    // Update-IR of JPROGRAM at model time now: clear, INIT low for a while.
    void program(uint64_t now);
    bool clearing(uint64_t now) const { return now < clear_end_; }
    uint64_t clear_end() const { return clear_end_; }
    bool init(uint64_t now) const { return !clearing(now) && !init_error(); }
    bool done() const { return done_; }
    ConfigError error() const { return error_; }
    CheckResult id_check() const;
    CheckResult crc_check() const;
    uint32_t idcode() const { return settings_.idcode; }
    // A sync word went by since JPROGRAM.
    bool ever_synced() const { return ever_synced_; }
    // The STAT register in the family's layout (0 for an unknown part).
    uint32_t stat(uint64_t now) const;

    // Packet word size and sync word of the family (32 bits and 0xAA995566
    // for an unknown part).
    unsigned word_bits() const;
    uint32_t sync_word() const;
    unsigned sync_bits() const;

    // Bits arrived on CFG_IN since JPROGRAM (kept or dropped).
    void note_input() { input_seen_ = true; }
    // Whether words go to the packet processor; until then the TAP side
    // looks for the sync word.
    bool synced() const { return synced_; }
    void sync();
    // One packet word after the sync word, in the family's word size.
    void word(uint32_t w);
    // 32-bit families: the next 32 bits of a stream as it arrives, the sync
    // word searched at any bit offset (an SLR's input from the one before,
    // or a whole stream in a test).
    void input_word(uint32_t w);
    // Where payload written to the family's forwarding register goes: the
    // next SLR of a stacked part (nullptr: dropped).
    void forward_to(ConfigEngine *next) { next_ = next; }
    // Whole frames written to FDRI since JPROGRAM (0 where the row gives
    // no frame size).
    uint64_t frames() const;

    // CFG_OUT's Capture-DR: the next word a read packet asked for, or 0.
    uint32_t take_output();
    // A rising TCK edge in Run-Test/Idle with CFG_IN loaded.
    void idle_in_cfg_in();

    // Update-IR or Test-Logic-Reset: the start-up count begins anew.
    void restart_startup_count() { startup_count_ = 0; }
    // A rising TCK edge in Run-Test/Idle with JSTART loaded.
    void startup_clock();

    // Kept between runs (state.h); the settings come from the board.
    void state(StateFields &f);

  private:
    bool init_error() const;
    bool waiting_for_lock() const { return startup_begun_ && !done_; }
    uint32_t stat_bits(bool init_b, bool init_complete) const;
    void word32(uint32_t w);
    void half(uint16_t h);
    void write(uint32_t data);
    void end_of_payload();
    void auto_crc(uint32_t w);
    void payload(uint32_t value);
    void read(uint32_t reg, uint32_t count);
    void command(uint32_t code);
    void check_idcode(uint32_t code);
    void check_crc(uint32_t value, bool restart);
    void fail(ConfigError error);

    EngineSettings settings_;
    const FamilyRow *row_;

    uint64_t clear_end_ = 0;
    bool done_ = false;
    bool start_ = false; // START went by (or, for unknown parts, sync)
    bool synced_ = false;
    bool ever_synced_ = false; // since JPROGRAM
    bool input_seen_ = false;
    bool watchdog_ = false; // a start-up ran with no sync word seen
    bool bad_packet_ = false;
    bool startup_begun_ = false;
    ConfigError error_ = ConfigError::None;
    bool id_checked_ = false;  // an ID code write matched
    bool crc_checked_ = false; // a CRC check passed
    uint32_t startup_count_ = 0;
    uint32_t crc_ = 0;
    std::vector<uint32_t> output_; // words read packets asked for

    // Packet being walked.
    uint32_t reg_ = 0;
    uint64_t words_left_ = 0;   // payload words still to come
    unsigned count_halves_ = 0; // 16-bit type-2: count words still to come
    unsigned auto_crc_left_ = 0;
    uint32_t value_ = 0; // 16-bit: register value being assembled
    unsigned value_halves_ = 0;
    uint64_t fdri_words_ = 0;

    // input_word: the last 64 bits in, how many of them there are, and how
    // far the word boundary sits from the end once synced.
    uint64_t window_ = 0;
    unsigned window_bits_ = 0;
    unsigned offset_ = 0;
    ConfigEngine *next_ = nullptr;
};

// The configuration engines of a part, one per SLR (one for a monolithic
// part), the master's forwarding to the next. JPROGRAM and JSTART reach
// every SLR; INIT and DONE are wired across them: INIT low while any SLR
// holds it low, DONE high once every SLR has started. Each engine's STAT
// is its own SLR's.
class SlrStack {
  public:
    // settings.idcode is the part's (the master's); the slaves' codes come
    // from the part's row.
    explicit SlrStack(const EngineSettings &settings);

    size_t size() const { return slrs_.size(); }
    ConfigEngine &master() { return *slrs_.front(); }
    ConfigEngine &slr(size_t i) { return *slrs_.at(i); }
    const ConfigEngine &slr(size_t i) const { return *slrs_.at(i); }

    void program(uint64_t now);
    bool init(uint64_t now) const;
    bool done() const;
    void startup_clock();
    void restart_startup_count();

  private:
    std::vector<std::unique_ptr<ConfigEngine>> slrs_;
};

} // namespace tapsim
