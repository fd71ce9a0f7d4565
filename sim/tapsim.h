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

} // namespace tapsim
