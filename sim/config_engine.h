// The FPGA's configuration logic behind CFG_IN and JSTART: clearing after
// JPROGRAM, the packet processor after the sync word, the ID code check and
// start-up. It owns INIT and DONE; the TAP only feeds it.
#pragma once

#include <cstdint>

namespace tapsim {

// Why the engine refused a stream (the record shows it).
enum class ConfigError : uint8_t { None, Id };

// Device family from ID code bits 27:21; it picks the packet layout.
enum class Family : uint8_t {
    Unknown,
    Spartan3E,
    Spartan3A,
    Spartan6,
    Series7
};

Family family_of(uint32_t idcode);

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
    bool init(uint64_t now) const
    {
        return error_ == ConfigError::None && !clearing(now);
    }
    bool done() const { return done_; }
    ConfigError error() const { return error_; }

    // Whether words go to the packet processor; until then the TAP side
    // looks for the sync word.
    bool synced() const { return synced_; }
    void sync();
    // One 32-bit word after the sync word, its first bit in bit 31.
    void word(uint32_t w);

    // Update-IR or Test-Logic-Reset: the start-up count begins anew.
    void restart_startup_count() { startup_count_ = 0; }
    // A rising TCK edge in Run-Test/Idle with JSTART loaded.
    void startup_clock();

  private:
    void word32(uint32_t w);
    void half(uint16_t h);
    void payload(uint32_t value);
    void command(uint32_t code);
    void check_idcode(uint32_t code);

    EngineSettings settings_;
    Family family_;
    uint32_t idcode_reg_ = 0;
    uint32_t cmd_reg_ = 0;

    uint64_t clear_end_ = 0;
    bool done_ = false;
    bool start_ = false; // START went by (or, for unknown parts, sync)
    bool synced_ = false;
    ConfigError error_ = ConfigError::None;
    uint32_t startup_count_ = 0;

    // Packet being walked.
    uint32_t reg_ = 0;
    uint64_t words_left_ = 0;   // payload words still to come
    unsigned count_halves_ = 0; // 16-bit type-2: count words still to come
    uint32_t value_ = 0;        // 16-bit: register value being assembled
    unsigned value_halves_ = 0;
};

} // namespace tapsim
