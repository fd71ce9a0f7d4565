// What the simulated adapter saw and did, kept small enough for multi-MiB
// loads, plus its line-based text form (see sim/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "fnv.h"
#include "fpga.h"
#include "tap.h"

namespace tapsim {

// Bytes of one transfer: all of them up to kKeep, else the first kKeep,
// with total length and FNV-1a 64 hash of everything.
struct Blob {
    static constexpr size_t kKeep = 256;

    uint64_t size = 0;
    uint64_t hash = kFnvOffset;
    std::vector<uint8_t> head;

    void append(const uint8_t *data, size_t n);
    bool complete() const { return head.size() == size; }
};

enum class ControlKind : uint8_t {
    Reset,
    PurgeRx,
    PurgeTx,
    ModemCtrl,
    FlowCtrl,
    Baudrate,
    SetData,
    ModemStatus,
    EventChar,
    ErrorChar,
    Latency,
    GetLatency,
    BitMode,
    ReadPins,
    Eeprom,
    Other,
};

const char *control_kind_name(ControlKind kind);

struct ControlTransfer {
    uint64_t seq = 0; // shared with bulk transfers: global order
    uint32_t device = 0;
    uint8_t request_type = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    int32_t result = 0;
    ControlKind kind = ControlKind::Other;
};

struct BulkTransfer {
    uint64_t seq = 0;
    uint32_t device = 0;
    uint8_t channel = 0; // 0 = A, 1 = B
    bool in = false;
    int32_t requested = 0;
    int32_t result = 0;
    Blob data; // bytes the chip took (out) or sent, status bytes included (in)
};

struct MpsseCommand {
    uint8_t opcode = 0;
    std::vector<uint8_t> operands; // header bytes after the opcode
    uint64_t clocks = 0;           // TCK cycles it produced
    bool bad = false;              // answered 0xFA
    Blob out;                      // data shifted out on TDI
    Blob in;                       // answer bytes queued for the host
};

struct DeviceRecord {
    uint16_t vid = 0;
    uint16_t pid = 0;
    bool adapter = false;
    // The adapter's USB serial when the bench has several (TAPSIM_ADAPTERS),
    // so each transfer's device index names its adapter; "" otherwise.
    std::string serial;
    uint32_t opened = 0;
    uint32_t closed = 0;
};

struct StateRun {
    TapState state = TapState::TestLogicReset;
    uint64_t count = 0;
};

// One instruction load on Update-IR, beside its code in Record::instructions.
struct InstructionLoad {
    uint32_t device = 0; // position on the chain, nearest TDI 0
    uint32_t code = 0;   // the whole code (a chain's devices reach 32 bits)
    InstructionName name = InstructionName::Other;
};

const char *config_error_name(ConfigError error);

// The FPGAs of one adapter's board, nearest TDI first, when there are
// several adapters.
struct AdapterConfigs {
    std::string adapter; // its serial
    std::vector<ConfigRecord> configs;
};

// The configuration fields it inherits are the first FPGA's on the chain
// (the lone FPGA's without one); the others' follow in more_configs.
struct Record : ConfigRecord {
    // Each list keeps at most this many entries; later ones are counted in
    // `dropped`, so a tool gone astray cannot eat the machine's memory.
    static constexpr size_t kMaxEntries = 200000;

    std::vector<DeviceRecord> devices;
    std::vector<ControlTransfer> controls;
    std::vector<BulkTransfer> bulk;
    std::vector<MpsseCommand> commands;
    std::vector<StateRun> states;      // state after each rising TCK edge
    std::vector<uint8_t> instructions; // loaded on Update-IR (low 8 bits)
    std::vector<InstructionLoad> instruction_loads; // one per instruction
    std::vector<std::string> protocol_errors;
    std::vector<std::string> warnings; // scenario problems

    // Adapter channel A settings as last set by control requests.
    uint8_t bit_mode = 0;
    uint8_t bit_mask = 0;
    uint8_t latency = 16;
    uint32_t baudrate = 0;

    uint64_t tck_cycles = 0;
    uint16_t divisor = 0;
    uint32_t clock_base_hz = 12000000;
    double wire_seconds = 0; // cycles at the rate in force when clocked

    // Model time since the bench was created (model_clock.h), in whole
    // microseconds.
    uint64_t time_us = 0;
    // ID code register shifted out whole after a Capture-DR: what a
    // client's chain detection shows on the bench.
    uint64_t idcode_reads = 0;

    // FPGAs after the first on a chain, nearest TDI first.
    std::vector<ConfigRecord> more_configs;
    // Instruction and config lines carry device=N: a chain of more than one
    // device.
    bool per_device = false;
    // With several adapters: the serial of the first one, whose board the
    // configurations above are, and the other adapters' boards in bus order.
    // Config lines then carry adapter=SERIAL.
    std::string adapter;
    std::vector<AdapterConfigs> more_adapters;

    uint64_t max_entries = kMaxEntries; // as the file says
    uint64_t dropped = 0;
    uint64_t next_seq = 1;
    // The signal that ended the process, 0 for an exit.
    int end_signal = 0;

    // Appends v to list unless it is full. Returns whether it was kept.
    template <typename T> bool keep(std::vector<T> &list, T &&v)
    {
        if (list.size() >= max_entries) {
            ++dropped;
            return false;
        }
        list.push_back(std::forward<T>(v));
        return true;
    }
    void add_state(TapState state, uint64_t count);
    uint64_t state_count(TapState state) const;
    size_t adapter_index() const; // devices.size() when absent
    // The device with that adapter serial; devices.size() when absent.
    size_t adapter_index(const std::string &serial) const;
    // The serial of the adapter a transfer's device index names; "" for a
    // device without one.
    std::string serial_of(uint32_t device) const;
    // The configuration of the FPGA at that position; nullptr if none.
    const ConfigRecord *config_of(uint32_t device) const;
    // The same on the board of the adapter with that serial.
    const ConfigRecord *config_of(const std::string &adapter,
                                  uint32_t device) const;
    // The instructions loaded into the device at that position.
    std::vector<InstructionLoad> instructions_of(uint32_t device) const;
};

// The TAP's reports, kept in a record.
class RecordSink final : public TapSink {
  public:
    explicit RecordSink(Record &record) : record_(record) {}
    void state(TapState state, uint64_t count) override;
    void instruction(uint32_t device, uint32_t code,
                     InstructionName name) override;
    void idcode_read() override;

  private:
    Record &record_;
};

void write_record(std::ostream &os, const Record &record);
bool parse_record(std::istream &is, Record &out, std::string *error = nullptr);

// File helpers. Writing goes through a temporary file and a rename so a
// reader never sees half a record.
bool write_record_file(const std::string &path, const Record &record,
                       std::string *error = nullptr);
bool read_record_file(const std::string &path, Record &out,
                      std::string *error = nullptr);

} // namespace tapsim
