#include "world.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "model_clock.h"
#include "record_exit.h"
#include "state.h"
#include "tapsim.h"
#include "variant.h"

namespace tapsim {
namespace {

// Both live until the process ends: the record is written from an exit
// hook, after ordinary static objects may already be gone.
std::mutex *g_mutex = new std::mutex;
World *g_world = nullptr;

FpgaConfig fpga_config(const Scenario &scenario, uint32_t idcode)
{
    FpgaConfig fc;
    fc.idcode = idcode;
    for (int i = 0; i < 4; ++i)
        fc.user[i] = scenario.user[i];
    fc.keep_config = scenario.keep_config;
    fc.engine.idcode = idcode;
    fc.engine.configured = scenario.configured;
    fc.engine.clear_ticks =
        uint64_t{scenario.clear_us.value_or(clear_us_of(idcode))} * kTicksPerUs;
    fc.engine.startup_clocks = scenario.startup_clocks;
    return fc;
}

// A refused board: nothing of a state half read may stay, and without an
// adapter every open fails.
// restore_board's board for a whole bench: reset, then board 0.
constexpr size_t kWholeBench = SIZE_MAX;

const char *env(const char *name)
{
    return std::getenv(name);
}

Scenario without_bus(const Scenario &scenario)
{
    Scenario empty = scenario;
    empty.adapter = false;
    empty.extra_devices.clear();
    return empty;
}

} // namespace

std::unique_lock<std::mutex> World::lock()
{
    return std::unique_lock<std::mutex>(*g_mutex);
}

World &World::get()
{
    if (!g_world) {
        own_client_time();
        g_world = new World();
        write_record_at_end();
    }
    return *g_world;
}

World::World()
{
    std::vector<std::string> problems;
    const Scenario from_env = scenario_from_env(&problems);
    const char *state = std::getenv("TAPSIM_STATE");
    if (state && *state) {
        // Each adapter's board is loaded again when a process claims it:
        // another may have changed it since this one started.
        adapter_state_ = state;
        if (from_env.adapters.empty())
            start_from_state(state, from_env);
        else
            reset(from_env);
    } else {
        reset(from_env);
    }
    // After the state's own messages: a reset empties the record.
    std::vector<std::string> state_notes = std::move(record_.warnings);
    record_.warnings.clear();
    for (const std::string &p : problems)
        warn(p);
    for (const std::string &p : state_notes)
        record_.warnings.push_back(p);
}

void World::warn(const std::string &message)
{
    std::fprintf(stderr, "tapsim: %s\n", message.c_str());
    record_.warnings.push_back(message);
}

void World::start_from_state(const std::string &path, const Scenario &from_env)
{
    // Written by renaming a whole file over the old: read without the
    // claim's lock, it is one run's board or another's, never a mix.
    std::string text, error;
    bool exists = false;
    if (!read_state_text(path, text, exists, &error))
        return refuse_state(path, error, from_env);
    if (!exists)
        return reset(from_env);
    loaded_text_ = text;

    Scenario board;
    if (!restore(text, from_env, board, &error))
        return refuse_state(path, error, from_env);
    for (const std::string &c : board_conflicts(from_env, board, path, env))
        warn(c);
}

bool World::restore(const std::string &text, const Scenario &base,
                    Scenario &board, std::string *error)
{
    return restore_board(kWholeBench, text, base, board, error);
}

bool World::restore_board(size_t b, const std::string &text,
                          const Scenario &base, Scenario &board,
                          std::string *error)
{
    StateReader in(text);
    board = base;
    board_state(in, board);
    uint64_t ticks = 0;
    in.section("clock");
    in.count("ticks", ticks);
    if (in.ok()) {
        // Time goes on from where the last run stopped: a clear it began
        // runs on. It never goes back.
        model_advance_to(ticks);
        if (b == kWholeBench) {
            reset(board);
            b = 0;
        } else {
            build_board(b, board);
        }
        boards_[b].chain->state(in);
        in.finish();
    }
    if (!in.ok())
        *error = in.error();
    return in.ok();
}

std::string World::board_text(uint64_t now, size_t b)
{
    StateWriter out;
    Scenario board = boards_[b].scenario;
    board_state(out, board);
    out.section("clock");
    out.count("ticks", now);
    boards_[b].chain->state(out);
    return out.finish();
}

std::string World::adapter_state_path(const Board &board) const
{
    if (scenario_.adapters.empty())
        return adapter_state_;
    return adapter_state_ + "." + board.serial;
}

bool World::write_adapter_state(size_t b, uint64_t now, std::string *error)
{
    return write_state_text(adapter_state_path(boards_[b]), board_text(now, b),
                            error);
}

void World::unlock(Board &board)
{
    if (board.lock_fd < 0)
        return;
    // A forked child's copy of the descriptor: closing it leaves the
    // parent's lock alone, unlocking would not.
    if (board.lock_owner == getpid())
        flock(board.lock_fd, LOCK_UN);
    ::close(board.lock_fd);
    board.lock_fd = -1;
}

int World::take_claim(size_t device)
{
    const Device &d = devices_[device];
    if (adapter_state_.empty() || !d.adapter)
        return 0;
    Board &b = boards_[d.board];
    if (b.lock_fd >= 0 && b.lock_owner == getpid())
        return 0;
    unlock(b);
    const std::string path = adapter_state_path(b);
    const std::string lock = path + ".lock";
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        warn("cannot claim adapter " + b.serial + ": cannot open " + lock +
             ": " + std::strerror(errno));
        return -EIO;
    }
    // As the kernel refuses a second program the interface, never waits.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK)
            return -EBUSY;
        warn("cannot claim adapter " + b.serial + ": cannot lock " + lock +
             ": " + std::strerror(e));
        return -EIO;
    }
    // Another process may have changed the board since this one started;
    // the board this one started from is not read twice.
    std::string text, error;
    bool exists = false;
    Scenario board;
    const bool read = read_state_text(path, text, exists, &error);
    const bool as_started =
        read && exists && !loaded_text_.empty() && text == loaded_text_;
    loaded_text_.clear();
    if (!as_started) {
        if (!read || (exists && !restore_board(d.board, text, scenario_, board,
                                               &error))) {
            if (read)
                build_board(d.board, scenario_); // nothing half read stays
            ::close(fd);
            warn("refusing state file " + path + ": " + error +
                 "; the claim on adapter " + b.serial + " fails");
            return -EIO;
        }
        if (exists)
            for (const std::string &c :
                 board_conflicts(scenario_, board, path, env))
                warn(c);
    }
    b.lock_fd = fd;
    b.lock_owner = getpid();
    return 0;
}

void World::drop_claim(size_t device)
{
    const Device &d = devices_[device];
    if (!d.adapter)
        return;
    Board &b = boards_[d.board];
    if (b.lock_fd < 0)
        return;
    std::string error;
    if (b.lock_owner == getpid() &&
        !write_adapter_state(d.board, model_now(), &error))
        warn(error);
    unlock(b);
}

void World::refuse_state(const std::string &path, const std::string &why,
                         const Scenario &from_env)
{
    // The file stays as it was.
    reset(without_bus(from_env));
    adapter_state_.clear();
    warn("refusing state file " + path + ": " + why +
         "; the bus is empty this run");
}

void World::reset(const Scenario &scenario)
{
    // A claim ends with the bench it was on, unwritten.
    for (Board &b : boards_)
        unlock(b);
    devices_.clear();
    boards_.clear();
    record_ = Record();
    started_ = model_now();
    scenario_ = scenario;
    ++generation_;

    boards_.resize(std::max<size_t>(1, scenario.adapters.size()));
    record_.more_adapters.resize(boards_.size() - 1);
    for (size_t b = 0; b < boards_.size(); ++b) {
        if (!scenario.adapters.empty())
            boards_[b].serial = scenario.adapters[b];
        build_board(b, scenario);
    }
    record_.config_kept = scenario.keep_config;
    record_.max_entries = scenario.max_entries;

    // Other FTDI chips come first on the bus, so a tool that grabs the
    // first FTDI device it sees gets the wrong one.
    auto add = [&](const ChipInfo &info, bool adapter, size_t board) {
        Device d;
        d.info = info;
        d.adapter = adapter;
        d.board = board;
        if (adapter)
            d.serial = boards_[board].serial;
        const uint32_t index = static_cast<uint32_t>(devices_.size());
        // Each adapter counts its own transfers towards the faults.
        d.chip = std::make_unique<Chip>(index, info, record_,
                                        adapter ? boards_[board].chain.get()
                                                : nullptr,
                                        adapter ? scenario.faults : Faults());
        DeviceRecord r;
        r.vid = info.vid;
        r.pid = info.pid;
        r.adapter = adapter;
        r.serial = d.serial;
        devices_.push_back(std::move(d));
        record_.devices.push_back(r);
    };
    auto info = [&](const ChipVariant &v, const UsbId &id) {
        ChipInfo i;
        i.vid = id.vid;
        i.pid = id.pid;
        i.bcd_device = v.bcd_device;
        i.packet_size = v.packet_size;
        i.to_chip_buffer = v.to_chip_buffer;
        i.to_host_buffer = v.to_host_buffer;
        i.high_speed = v.high_speed_opcodes;
        const uint32_t us = scenario.usb_us ? scenario.usb_us : v.usb_us;
        i.usb_ticks = uint64_t{us} * kTicksPerUs;
        return i;
    };
    for (const UsbId &id : scenario.extra_devices)
        add(info(chip_variant(Variant::FullSpeed), id), false, 0);
    if (scenario.adapter)
        for (size_t b = 0; b < boards_.size(); ++b)
            add(info(chip_variant(scenario.variant), kAdapterId), true, b);
}

void World::build_board(size_t b, const Scenario &scenario)
{
    Board &board = boards_[b];
    board.scenario = scenario;
    board.fpgas.clear();
    const std::vector<ChainEntry> entries =
        scenario.chain.empty() ? std::vector<ChainEntry>{ChainEntry()}
                               : scenario.chain;
    size_t fpgas = 0;
    for (const ChainEntry &e : entries)
        fpgas += is_fpga(e) ? 1 : 0;
    // Every FPGA keeps its configuration in the record: the first board's
    // first in the record's own fields, the others in lists sized here, so
    // that none moves while the FPGAs write to it.
    std::vector<ConfigRecord *> outs;
    if (b == 0) {
        static_cast<ConfigRecord &>(record_) = ConfigRecord();
        record_.adapter = board.serial;
        record_.more_configs.assign(fpgas > 0 ? fpgas - 1 : 0, ConfigRecord());
        outs.push_back(&record_);
        for (ConfigRecord &c : record_.more_configs)
            outs.push_back(&c);
    } else {
        AdapterConfigs &a = record_.more_adapters[b - 1];
        a.adapter = board.serial;
        a.configs.assign(fpgas, ConfigRecord());
        for (ConfigRecord &c : a.configs)
            outs.push_back(&c);
    }
    std::vector<std::unique_ptr<TapDevice>> devices;
    for (const ChainEntry &e : entries) {
        const uint32_t position = static_cast<uint32_t>(devices.size());
        if (!is_fpga(e)) {
            devices.push_back(make_plain_device(position, e, sink_));
            continue;
        }
        ConfigRecord &out = *outs[board.fpgas.size()];
        const uint32_t idcode =
            e.kind == ChainEntry::Kind::Fpga ? scenario.idcode : e.idcode;
        auto fpga = std::make_unique<Fpga>(
            position, fpga_config(scenario, idcode), sink_, out);
        board.fpgas.push_back(fpga.get());
        devices.push_back(std::move(fpga));
    }
    board.chain = std::make_unique<Chain>(
        std::move(devices), scenario.target_powered, scenario.tdo_stuck, sink_);
    for (Device &d : devices_)
        if (d.adapter && d.board == b)
            d.chip->rewire(board.chain.get());
    record_.per_device = false;
    for (const Board &o : boards_)
        record_.per_device =
            record_.per_device || (o.chain && o.chain->size() > 1);
}

void World::sync(uint64_t now)
{
    for (const Board &b : boards_)
        for (const Fpga *f : b.fpgas)
            f->publish();
    record_.time_us = (now - started_) / kTicksPerUs;
}

const Record &World::synced_record()
{
    sync(model_now());
    return record_;
}

bool World::write_final_record(const char *path, int signal, std::string *error)
{
    std::unique_lock<std::mutex> guard(*g_mutex, std::try_to_lock);
    if (!g_world)
        return true;
    g_world->sync(model_now_unguarded());
    g_world->record_.end_signal = signal;
    return write_record_file(path, g_world->record_, error);
}

bool World::write_final_state(std::string *error)
{
    std::unique_lock<std::mutex> guard(*g_mutex, std::try_to_lock);
    if (!g_world)
        return true;
    World &w = *g_world;
    if (!w.adapter_state_.empty()) {
        bool ok = true;
        for (size_t b = 0; b < w.boards_.size(); ++b)
            if (w.boards_[b].lock_fd >= 0 &&
                w.boards_[b].lock_owner == getpid())
                ok = w.write_adapter_state(b, model_now_unguarded(), error) &&
                     ok;
        return ok;
    }
    return true;
}

std::string board_state()
{
    auto guard = World::lock();
    return World::get().board_text(model_now());
}

bool reset_from_board(const Scenario &scenario, const std::string &board,
                      std::string *error)
{
    auto guard = World::lock();
    World &w = World::get();
    Scenario restored;
    std::string why;
    if (w.restore(board, scenario, restored, &why))
        return true;
    w.reset(without_bus(scenario));
    if (error)
        *error = why;
    return false;
}

void reset(const Scenario &scenario)
{
    auto guard = World::lock();
    World &w = World::get();
    w.reset(scenario);
}

const Record &record()
{
    auto guard = World::lock();
    return World::get().synced_record();
}

Scenario scenario()
{
    auto guard = World::lock();
    return World::get().scenario();
}

} // namespace tapsim
