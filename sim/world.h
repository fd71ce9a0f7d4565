// The one simulated bench of the process: devices on the bus and the record.
// Created on first use from TAPSIM_* variables; tapsim::reset() replaces it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "chip.h"
#include "record.h"
#include "scenario.h"
#include "tap.h"

namespace tapsim {

struct Device {
    ChipInfo info;
    bool adapter = false;
    std::unique_ptr<Chip> chip;
    uint8_t claimed = 0; // interface bits claimed through any handle
};

class World {
  public:
    // Locks the bench for the caller's scope.
    static std::unique_lock<std::mutex> lock();
    static World &get(); // call with the lock held

    void reset(const Scenario &scenario);

    const Scenario &scenario() const { return scenario_; }
    uint64_t generation() const { return generation_; }
    std::vector<Device> &devices() { return devices_; }
    Record &record() { return record_; }
    // Brings derived figures (configuration summary) into the record.
    const Record &synced_record();

  private:
    World();

    Scenario scenario_;
    uint64_t generation_ = 0;
    Record record_;
    std::unique_ptr<Fpga> fpga_;
    std::vector<Device> devices_;
};

} // namespace tapsim
