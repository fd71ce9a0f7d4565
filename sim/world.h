// The one simulated bench of the process: devices on the bus and the record.
// Created on first use from TAPSIM_* variables; tapsim::reset() replaces it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chain.h"
#include "chip.h"
#include "fpga.h"
#include "record.h"
#include "scenario.h"

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
    // Brings derived figures (configuration summary, model time) into the
    // record.
    const Record &synced_record();

    // As the process ends, by exit (signal 0) or a signal: writes the
    // record of the bench, if there is one, to path. Takes the lock only
    // if it is free: the interrupted code or another thread may hold it,
    // and a record a little off beats hanging the end.
    static bool write_final_record(const char *path, int signal,
                                   std::string *error);
    // As the process ends: writes the board back to TAPSIM_STATE's file,
    // unless there is none or it was refused. Locks as the record does.
    static bool write_final_state(std::string *error);

    // The board from a state file's text over base's adapter and faults;
    // false (error set) when refused, the bench then half built.
    bool restore(const std::string &text, const Scenario &base, Scenario &board,
                 std::string *error);
    std::string board_text(uint64_t now);

  private:
    World();
    void sync(uint64_t now);
    void build_chain(const Scenario &scenario);
    void warn(const std::string &message);
    // TAPSIM_STATE: the board from the file, or the scenario's when there
    // is none yet; a refused file leaves an empty bus.
    void start_from_state(const std::string &path, const Scenario &from_env);
    void refuse_state(const std::string &path, const std::string &why,
                      const Scenario &from_env);

    Scenario scenario_;
    uint64_t generation_ = 0;
    uint64_t started_ = 0; // model time of the last reset
    Record record_;
    RecordSink sink_{record_};
    std::unique_ptr<Chain> chain_;
    std::vector<const Fpga *> fpgas_; // on the chain, nearest TDI first
    std::vector<Device> devices_;
    std::string state_path_; // where the board goes at the end; "": nowhere
};

} // namespace tapsim
