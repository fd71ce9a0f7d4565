// The JTAG chain behind the adapter's header: devices nearest TDI first,
// each one's TDO wired to the next one's TDI, the last one's TDO to the
// adapter. They share TCK and TMS, so the chain holds the one TAP state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "scenario.h"
#include "tap.h"

namespace tapsim {

// A device the bench does not model beyond IEEE 1149.1: IDCODE (if it has
// one) and BYPASS. A known part's own IDCODE instruction selects IDCODE;
// every other code selects BYPASS.
std::unique_ptr<TapDevice>
make_plain_device(uint32_t position, const ChainEntry &entry, TapSink &sink);

class Chain {
  public:
    // tdo_stuck: 0 or 1 holds the adapter's TDO there, -1 leaves it free.
    Chain(std::vector<std::unique_ptr<TapDevice>> devices, bool powered,
          int tdo_stuck, TapSink &sink);

    bool powered() const { return powered_; }
    TapState state() const { return state_; }
    size_t size() const { return devices_.size(); }
    // What the adapter's TDO pin shows right now.
    bool tdo() const;

    // The chip calls these for every TCK edge with the pin levels it drives.
    void rise(bool tms, bool tdi);
    void fall();

    // Byte path for long Shift-DR runs (see TapDevice::shift_dr_bytes),
    // device after device: each one's output is the next one's input, so a
    // device in BYPASS is a one-bit delay around the others' byte paths.
    void shift_dr_bytes(const uint8_t *in, size_t n, uint8_t *out,
                        uint64_t tck);

    // The TAP state and every device's, kept between runs (state.h).
    void state(StateFields &f);

  private:
    void after_capture_dr();
    void reveal();

    std::vector<std::unique_ptr<TapDevice>> devices_;
    std::vector<TapDevice *> active_; // on the chain now, nearest TDI first
    bool powered_;
    int tdo_stuck_;
    TapSink &sink_;
    TapState state_ = TapState::TestLogicReset;
    std::vector<uint8_t> scratch_; // between devices on the byte path
};

} // namespace tapsim
