// The one simulated bench of the process: devices on the bus and the record.
// Created on first use from TAPSIM_* variables; tapsim::reset() replaces it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

#include "chain.h"
#include "chip.h"
#include "fpga.h"
#include "record.h"
#include "scenario.h"

namespace tapsim {

struct Device {
    ChipInfo info;
    bool adapter = false;
    std::string serial; // from TAPSIM_ADAPTERS; "" otherwise
    size_t board = 0;   // an adapter's, in World's boards
    std::unique_ptr<Chip> chip;
    uint8_t claimed = 0; // interface bits claimed through any handle
};

// What one adapter's JTAG header reaches, and with TAPSIM_STATE and several
// adapters, the claim on its state file.
struct Board {
    std::string serial; // "" for the one adapter without TAPSIM_ADAPTERS
    Scenario scenario;  // its board's fields are this board's
    std::unique_ptr<Chain> chain;
    std::vector<const Fpga *> fpgas; // on the chain, nearest TDI first
    int lock_fd = -1;                // FILE.SERIAL.lock while claimed
    pid_t lock_owner = 0;            // a forked child does not own it
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
    // unless there is none or it was refused; with several adapters, the
    // board of each adapter this process still claims to its own file.
    // Locks as the record does.
    static bool write_final_state(std::string *error);

    // The first claim on an adapter's interfaces in this process: with
    // several adapters and TAPSIM_STATE, takes the adapter's lock without
    // waiting (-EBUSY while another process holds it) and loads its board
    // from its file (-EIO when the file is refused). 0 otherwise.
    int take_claim(size_t device);
    // The adapter's last interface released: its board goes back to its
    // file and the lock is dropped.
    void drop_claim(size_t device);

    // The board from a state file's text over base's adapter and faults;
    // false (error set) when refused, the bench then half built.
    bool restore(const std::string &text, const Scenario &base, Scenario &board,
                 std::string *error);
    std::string board_text(uint64_t now, size_t board = 0);

  private:
    World();
    void sync(uint64_t now);
    // Builds (or rebuilds) board b's chain from the scenario's board fields,
    // its FPGAs reporting into the record's place for that board.
    void build_board(size_t b, const Scenario &scenario);
    // Reads a state file's board into board b; false when refused, b then
    // half built.
    bool restore_board(size_t b, const std::string &text, const Scenario &base,
                       Scenario &board, std::string *error);
    std::string adapter_state_path(const Board &board) const;
    bool write_adapter_state(size_t b, uint64_t now, std::string *error);
    void unlock(Board &board);
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
    std::vector<Board> boards_; // one per adapter, at least one
    std::vector<Device> devices_;
    // TAPSIM_STATE: the one adapter's board is in adapter_state_, with
    // several adapter S's in adapter_state_ + "." + S; each is claimed,
    // loaded and written back per adapter. "": no state file.
    std::string adapter_state_;
    std::string loaded_text_; // the one board's file as this run began
};

} // namespace tapsim
