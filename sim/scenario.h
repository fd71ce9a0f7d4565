// What the simulated bench looks like: which devices are plugged in, the
// target, and the faults to inject. Built in code or from TAPSIM_*
// environment variables (see sim/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tapsim {

struct UsbId {
    uint16_t vid = 0;
    uint16_t pid = 0;
};

constexpr UsbId kAdapterId{0x2a5e, 0x0c41};

enum class Variant : uint8_t {
    FullSpeed, // dual-channel full-speed chip, bcdDevice 0x0500, 64-byte
               // packets
    HighSpeed, // dual-channel high-speed chip, bcdDevice 0x0700, 512-byte
               // packets
};

// Bulk transfer faults of the adapter. Counts are 1-based over all bulk
// writes (resp. reads) to the adapter; 0 switches a fault off.
struct Faults {
    uint64_t short_write = 0; // that write takes only half of its bytes
    uint64_t error_write = 0; // that write fails and takes nothing
    uint64_t empty_reads = 0; // the first N reads bring no data
    bool empty_reads_forever = false;
    uint64_t silent_from = 0; // from this read on, no read brings data
    uint64_t error_read = 0;  // that read fails; the data stays queued
    // That write hands the chip its first partial_keep bytes (kHalf: half)
    // and fails with -ETIMEDOUT, as libusb 0.1 does after a timeout.
    uint64_t partial_write = 0;
    static constexpr size_t kHalf = SIZE_MAX;
    size_t partial_keep = kHalf;
    // From this bulk transfer on (reads and writes together) the adapter is
    // gone: every call fails with -ENODEV.
    uint64_t unplug = 0;
    // Once that write has been taken, the process raises signal_number: a
    // Ctrl-C or a kill that lands while a transfer is under way.
    uint64_t signal_at = 0;
    int signal_number = 0;
    // Every string descriptor request stalls (-EPIPE): an adapter that
    // will not tell its serial number.
    bool string_stall = false;
};

// One device on the JTAG chain.
struct ChainEntry {
    enum class Kind : uint8_t {
        Fpga,   // the FPGA the scenario's own fields describe
        Device, // by ID code (none: has_idcode false) and IR length
    };
    Kind kind = Kind::Fpga;
    bool has_idcode = true;
    uint32_t idcode = 0;
    unsigned ir_length = 6;
    // Off the chain until the device before it reveals it (the MPSoC's
    // debug port behind its JTAG_CTRL).
    bool hidden = false;
};

// Whether the bench models the entry as a full FPGA: the scenario's, or an
// ID code of a family it knows.
bool is_fpga(const ChainEntry &entry);

// TAPSIM_CHAIN's syntax: fpga, ID:IRLEN or none:IRLEN entries, comma
// separated, at least one FPGA among them. out is left alone on failure.
bool parse_chain(const char *text, std::vector<ChainEntry> &out);

struct Scenario {
    bool adapter = true;
    Variant variant = Variant::FullSpeed;
    std::vector<UsbId> extra_devices; // other FTDI chips on the bus
    // Several adapters, after the extra devices, by USB serial number, each
    // with a board of its own as the fields below describe it; empty: the
    // one adapter, as it always was.
    std::vector<std::string> adapters;
    bool target_powered = true;
    uint32_t idcode = 0x01C22093;
    // Low bytes are printable ASCII ('1'..'4') so a dump is easy to read.
    uint32_t user[4] = {0x55535231, 0x55535232, 0x55535233, 0x55535234};
    bool keep_config = true; // off: only count, hash and sync detection
    uint32_t usb_us = 0;     // cost of a bulk transfer; 0: the variant's
    // JPROGRAM to INIT high; unset: the part's (family.h, clear_us_of)
    std::optional<uint32_t> clear_us;
    uint32_t startup_clocks = 12; // TCK in Run-Test/Idle after JSTART
    bool configured = true; // power-up: DONE and INIT high, USER registers live
    int tdo_stuck = -1;     // 0 or 1: TDO held there whatever the target does
    // The JTAG chain, nearest TDI first, with at least one FPGA; empty: the
    // FPGA alone.
    std::vector<ChainEntry> chain;
    // Entries each list of the record keeps (record.h); lower it to keep
    // a long run's bench small.
    uint64_t max_entries = 200000;
    Faults faults;
};

// TAPSIM_ADAPTERS' syntax: distinct serials of 1 to 32 printable ASCII
// characters, no spaces, comma separated. out is left alone on failure.
bool parse_adapters(const char *text, std::vector<std::string> &out);

// Reads TAPSIM_* through get (getenv by default). A malformed value leaves
// the default in place and adds a message to errors.
Scenario scenario_from_env(
    std::vector<std::string> *errors = nullptr,
    const std::function<const char *(const char *)> &get = nullptr);

} // namespace tapsim
