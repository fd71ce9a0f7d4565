#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <string>

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
    if (state && *state)
        start_from_state(state, from_env);
    else
        reset(from_env);
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
    std::string text, error;
    bool exists = false;
    if (!lock_state_file(path, &error) ||
        !read_state_text(path, text, exists, &error))
        return refuse_state(path, error, from_env);
    state_path_ = path;
    if (!exists)
        return reset(from_env);

    Scenario board;
    if (!restore(text, from_env, board, &error))
        return refuse_state(path, error, from_env);
    for (const std::string &c :
         board_conflicts(from_env, board, path,
                         [](const char *name) { return std::getenv(name); }))
        warn(c);
}

bool World::restore(const std::string &text, const Scenario &base,
                    Scenario &board, std::string *error)
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
        reset(board);
        chain_->state(in);
        in.finish();
    }
    if (!in.ok())
        *error = in.error();
    return in.ok();
}

std::string World::board_text(uint64_t now)
{
    StateWriter out;
    Scenario board = scenario_;
    board_state(out, board);
    out.section("clock");
    out.count("ticks", now);
    chain_->state(out);
    return out.finish();
}

void World::refuse_state(const std::string &path, const std::string &why,
                         const Scenario &from_env)
{
    // The file stays as it was.
    reset(without_bus(from_env));
    state_path_.clear();
    warn("refusing state file " + path + ": " + why +
         "; the bus is empty this run");
}

void World::reset(const Scenario &scenario)
{
    devices_.clear();
    fpgas_.clear();
    chain_.reset();
    record_ = Record();
    started_ = model_now();
    scenario_ = scenario;
    ++generation_;

    build_chain(scenario);
    record_.config_kept = scenario.keep_config;
    record_.max_entries = scenario.max_entries;

    // Other FTDI chips come first on the bus, so a tool that grabs the
    // first FTDI device it sees gets the wrong one.
    auto add = [&](const ChipInfo &info, bool adapter) {
        Device d;
        d.info = info;
        d.adapter = adapter;
        const uint32_t index = static_cast<uint32_t>(devices_.size());
        d.chip = std::make_unique<Chip>(index, info, record_,
                                        adapter ? chain_.get() : nullptr,
                                        adapter ? scenario.faults : Faults());
        devices_.push_back(std::move(d));
        DeviceRecord r;
        r.vid = info.vid;
        r.pid = info.pid;
        r.adapter = adapter;
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
        add(info(chip_variant(Variant::FullSpeed), id), false);
    if (scenario.adapter)
        add(info(chip_variant(scenario.variant), kAdapterId), true);
}

void World::build_chain(const Scenario &scenario)
{
    const std::vector<ChainEntry> entries =
        scenario.chain.empty() ? std::vector<ChainEntry>{ChainEntry()}
                               : scenario.chain;
    size_t fpgas = 0;
    for (const ChainEntry &e : entries)
        fpgas += is_fpga(e) ? 1 : 0;
    // Every FPGA keeps its configuration in the record: the first in the
    // record's own fields, the others in a list sized once, so that none
    // moves while the FPGAs write to it.
    record_.more_configs.resize(fpgas > 0 ? fpgas - 1 : 0);
    record_.per_device = entries.size() > 1;
    std::vector<std::unique_ptr<TapDevice>> devices;
    for (const ChainEntry &e : entries) {
        const uint32_t position = static_cast<uint32_t>(devices.size());
        if (!is_fpga(e)) {
            devices.push_back(make_plain_device(position, e, sink_));
            continue;
        }
        ConfigRecord &out =
            fpgas_.empty() ? record_ : record_.more_configs[fpgas_.size() - 1];
        const uint32_t idcode =
            e.kind == ChainEntry::Kind::Fpga ? scenario.idcode : e.idcode;
        auto fpga = std::make_unique<Fpga>(
            position, fpga_config(scenario, idcode), sink_, out);
        fpgas_.push_back(fpga.get());
        devices.push_back(std::move(fpga));
    }
    chain_ = std::make_unique<Chain>(
        std::move(devices), scenario.target_powered, scenario.tdo_stuck, sink_);
}

void World::sync(uint64_t now)
{
    for (const Fpga *f : fpgas_)
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
    if (!g_world || g_world->state_path_.empty())
        return true;
    return write_state_text(g_world->state_path_,
                            g_world->board_text(model_now_unguarded()), error);
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
