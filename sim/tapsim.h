// Simulated USB JTAG adapter for tapline's tests: replaces libusb 0.1 under
// the real libftdi and emulates the FTDI chip, its MPSSE engine and an FPGA.
//
// In-process use: link tapsim_ftdi, call tapsim::reset() with a scenario,
// drive libftdi, then look at tapsim::record(). Whole programs: run them
// with LD_PRELOAD=libtapsim.so and TAPSIM_* variables (sim/README.md).
#pragma once

#include <string>

#include "record.h"
#include "scenario.h"
#include "tap.h"

namespace tapsim {

// Starts a fresh bench: new devices, target at power-up, empty record.
// Handles opened before stay valid to close but fail every transfer.
void reset(const Scenario &scenario = Scenario());

// The record so far. Valid until the next call into the simulator.
const Record &record();

// The scenario in force (from the environment until reset() is called).
Scenario scenario();

// The board as TAPSIM_STATE keeps it between runs, in the file's text.
std::string board_state();

// A fresh bench with the board of board_state()'s text (the adapter and
// faults are the scenario's), as the next run on a state file finds it.
// A refused text leaves a bench without adapter and returns false.
bool reset_from_board(const Scenario &scenario, const std::string &board,
                      std::string *error = nullptr);

} // namespace tapsim
