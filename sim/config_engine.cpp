#include "config_engine.h"

#include <cstddef>

#include "state.h"

namespace tapsim {
namespace {

// Command register codes (7-series and UltraScale; the Spartan families
// share START, RCRC and DESYNC). Only these three change the model; NULL
// 0x0, WCFG 0x1, MFW 0x2, DGHIGH 0x3, RCFG 0x4, RCAP (UltraScale+: URAM)
// 0x6, AGHIGH 0x8, SWITCH 0x9, GRESTORE 0xA, SHUTDOWN 0xB, GCAPTURE 0xC,
// IPROG 0xF, CRCC 0x10, LTIMER 0x11, BSPI_READ 0x12, FALL_EDGE 0x13 and
// codes no guide names (0x15 is in vendor streams) go by as no-ops, fed to
// the CRC like any write. SHUTDOWN in particular leaves START armed: a
// stacked part's master sends it after its own START, before forwarding.
constexpr uint32_t kCmdStart = 0x5;
constexpr uint32_t kCmdRcrc = 0x7;
constexpr uint32_t kCmdDesync = 0xD;
constexpr uint32_t kOpRead = 1;
constexpr uint32_t kOpWrite = 2;
// Bits 31:28 are the silicon revision: chips of one part differ there.
constexpr uint32_t kIdMask = 0x0FFFFFFF;
// STARTUP_STATE is Gray-coded: phase 7 (100) ends start-up; a design that
// waits for a lock holds the sequencer in phase 3 (010) here.
constexpr uint32_t kPhaseDone = 0x4;
constexpr uint32_t kPhaseLockWait = 0x2;
// A read asks for at most a few words here; more are not kept.
constexpr size_t kMaxOutput = 64;

} // namespace

ConfigEngine::ConfigEngine(const EngineSettings &settings)
    : settings_(settings), row_(family_row(settings.idcode)),
      done_(settings.configured)
{
}

unsigned ConfigEngine::word_bits() const
{
    return row_ ? row_->word_bits : 32;
}

uint32_t ConfigEngine::sync_word() const
{
    return row_ ? row_->sync : 0xAA995566u;
}

unsigned ConfigEngine::sync_bits() const
{
    return row_ ? row_->sync_bits : 32;
}

void ConfigEngine::program(uint64_t now)
{
    clear_end_ = now + settings_.clear_ticks;
    done_ = start_ = synced_ = ever_synced_ = false;
    input_seen_ = watchdog_ = startup_begun_ = false;
    error_ = ConfigError::None;
    id_checked_ = crc_checked_ = false;
    crc_ = 0;
    output_.clear();
    reg_ = 0;
    words_left_ = 0;
    count_halves_ = auto_crc_left_ = value_halves_ = 0;
    bad_packet_ = false;
    fdri_words_ = 0;
    window_ = 0;
    window_bits_ = offset_ = 0;
}

void ConfigEngine::state(StateFields &f)
{
    f.section("engine");
    f.count("clear_end", clear_end_);
    f.flag("done", done_);
    f.flag("start", start_);
    f.flag("synced", synced_);
    f.flag("ever_synced", ever_synced_);
    f.flag("input_seen", input_seen_);
    f.flag("watchdog", watchdog_);
    f.flag("bad_packet", bad_packet_);
    f.flag("startup_begun", startup_begun_);
    f.choice("error", error_, static_cast<int>(ConfigError::Crc));
    f.flag("id_checked", id_checked_);
    f.flag("crc_checked", crc_checked_);
    f.count("startup_count", startup_count_);
    f.code("crc", crc_);
    f.words("output", output_, kMaxOutput);
    f.code("register", reg_);
    f.count("words_left", words_left_);
    f.count("count_halves", count_halves_, 2);
    f.count("auto_crc_left", auto_crc_left_, 2);
    f.code("value", value_);
    f.count("value_halves", value_halves_, 2);
    f.count("fdri_words", fdri_words_);
    f.code("window", window_);
    f.count("window_bits", window_bits_, 64);
    f.count("offset", offset_, 63);
}

CheckResult ConfigEngine::id_check() const
{
    return error_ == ConfigError::Id ? CheckResult::Bad
           : id_checked_             ? CheckResult::Ok
                                     : CheckResult::None;
}

CheckResult ConfigEngine::crc_check() const
{
    return error_ == ConfigError::Crc ? CheckResult::Bad
           : crc_checked_             ? CheckResult::Ok
                                      : CheckResult::None;
}

uint64_t ConfigEngine::frames() const
{
    return row_ && row_->frame_words ? fdri_words_ / row_->frame_words : 0;
}

bool ConfigEngine::init_error() const
{
    return error_ == ConfigError::Id ||
           (error_ == ConfigError::Crc && row_ && row_->init_low_on_crc_error);
}

uint32_t ConfigEngine::stat(uint64_t now) const
{
    return row_ ? stat_bits(init(now), !clearing(now)) : 0;
}

uint32_t ConfigEngine::stat_bits(bool init_b, bool init_complete) const
{
    const StatLayout &l = row_->stat;
    uint32_t s = 0;
    auto put = [&s](int8_t bit, uint32_t value) {
        if (bit != kNoBit)
            s |= value << bit;
    };
    const bool waiting = waiting_for_lock();
    put(l.crc_error, error_ == ConfigError::Crc);
    put(l.id_error, error_ == ConfigError::Id);
    // Unused lock signals read 1; a design waiting for one holds it low.
    put(l.lock, !waiting);
    put(l.dci_match, 1);
    // Start-up releases these together with DONE.
    for (int8_t bit : {l.end_of_startup, l.gts_cfg_b, l.gwe, l.ghigh_b,
                       l.release_done, l.done})
        put(bit, done_);
    put(l.init_b, init_b);
    put(l.sync_watchdog, watchdog_);
    put(l.mode, l.mode_jtag);
    put(l.startup_state, done_ ? kPhaseDone : (waiting ? kPhaseLockWait : 0));
    put(l.init_complete, init_complete);
    put(l.bus_width, l.bus_width_jtag);
    put(l.bad_packet, bad_packet_);
    return s;
}

void ConfigEngine::sync()
{
    if (!row_) {
        // No packet layout known for this part: the sync word is enough.
        if (error_ == ConfigError::None)
            start_ = true;
        return;
    }
    synced_ = ever_synced_ = true;
    words_left_ = 0;
    count_halves_ = auto_crc_left_ = value_halves_ = 0;
}

void ConfigEngine::word(uint32_t w)
{
    if (!synced_ || !row_)
        return;
    if (row_->word_bits == 16)
        half(static_cast<uint16_t>(w));
    else
        word32(w);
}

void ConfigEngine::word32(uint32_t w)
{
    if (auto_crc_left_ > 0) {
        --auto_crc_left_;
        auto_crc(w);
        return;
    }
    if (words_left_ > 0) {
        --words_left_;
        write(w);
        if (words_left_ == 0)
            end_of_payload();
        return;
    }
    const uint32_t type = w >> 29;
    const uint32_t op = (w >> 27) & 3;
    if (type == 1) {
        reg_ = (w >> 13) & 0x3FFF;
        value_halves_ = 0;
        words_left_ = op == kOpWrite ? (w & 0x7FF) : 0;
        if (op == kOpRead)
            read(reg_, w & 0x7FF);
    } else if (type == 2) {
        // Long count for the register of the type-1 header before it.
        words_left_ = op == kOpWrite ? (w & 0x07FFFFFF) : 0;
    } else {
        // No packet has another type: STAT tells where it has the bit,
        // and the word is passed over.
        bad_packet_ = true;
    }
    // Type-1 no-ops carry nothing.
}

void ConfigEngine::input_word(uint32_t w)
{
    note_input();
    window_ = window_ << 32 | w;
    window_bits_ = window_bits_ + 32 > 64 ? 64 : window_bits_ + 32;
    if (synced_) {
        word(static_cast<uint32_t>(window_ >> offset_));
        return;
    }
    // A sync word ending in this word, the earliest first; the offset bits
    // after it begin the first packet word.
    for (unsigned k = 32; k-- > 0;) {
        if (window_bits_ < 32 + k ||
            static_cast<uint32_t>(window_ >> k) != sync_word())
            continue;
        offset_ = k;
        sync();
        return;
    }
}

void ConfigEngine::half(uint16_t h)
{
    if (count_halves_ > 0) {
        // Type-2 count words are not register writes: not fed.
        words_left_ = (words_left_ << 16) | h;
        --count_halves_;
        return;
    }
    if (auto_crc_left_ > 0) {
        value_ = (value_ << 16) | h;
        if (--auto_crc_left_ == 0)
            auto_crc(value_);
        return;
    }
    if (words_left_ > 0) {
        --words_left_;
        write(h);
        if (words_left_ == 0)
            end_of_payload();
        return;
    }
    const uint32_t type = h >> 13;
    const uint32_t op = (h >> 11) & 3;
    if (type == 1) {
        reg_ = (h >> 5) & 0x3F;
        value_halves_ = 0;
        words_left_ = op == kOpWrite ? (h & 0x1F) : 0;
        if (op == kOpRead)
            read(reg_, h & 0x1F);
    } else if (type == 2 && op == kOpWrite) {
        // The word count follows in two words, high half first.
        reg_ = (h >> 5) & 0x3F;
        words_left_ = 0;
        count_halves_ = 2;
    }
}

void ConfigEngine::write(uint32_t data)
{
    const bool rcrc = reg_ == row_->cmd_reg && (data & 0x1F) == kCmdRcrc;
    const bool fed = reg_ >= 64 || ((row_->not_fed >> reg_) & 1) == 0;
    if (fed && !rcrc)
        crc_ = row_->crc_step(crc_, reg_, data);
    if (row_->word_bits == 16) {
        // Registers wider than a word arrive high half first.
        const bool wide = reg_ == row_->idcode_reg || reg_ == row_->crc_reg;
        value_ = (value_ << 16) | data;
        if (++value_halves_ < (wide ? 2u : 1u))
            return;
        value_halves_ = 0;
        data = value_;
    }
    payload(data);
}

void ConfigEngine::end_of_payload()
{
    if (reg_ == row_->fdri_reg && row_->auto_crc_words > 0) {
        auto_crc_left_ = row_->auto_crc_words;
        value_ = 0;
    }
}

void ConfigEngine::auto_crc(uint32_t w)
{
    // Checked like a CRC register write, fed only where the family feeds
    // that register, and the running value goes on.
    if (((row_->not_fed >> row_->crc_reg) & 1) == 0)
        crc_ = row_->crc_step(crc_, row_->crc_reg, w);
    check_crc(w, false);
}

void ConfigEngine::payload(uint32_t value)
{
    if (row_->forward_reg != kNoReg && reg_ == row_->forward_reg) {
        // The next SLR's stream, whole: its own sync, ID code and CRCs.
        if (next_)
            next_->input_word(value);
    } else if (reg_ == row_->fdri_reg) {
        ++fdri_words_;
    } else if (reg_ == row_->idcode_reg)
        check_idcode(value);
    else if (reg_ == row_->cmd_reg)
        command(value & 0x1F);
    else if (reg_ == row_->crc_reg)
        check_crc(value, true);
}

void ConfigEngine::read(uint32_t reg, uint32_t count)
{
    // No words arrive while the device clears, so INIT_B shows only errors.
    uint32_t value = 0;
    if (reg == row_->stat_reg)
        value = stat_bits(!init_error(), true);
    else if (reg == row_->idcode_reg)
        value = settings_.idcode;
    const bool wide = row_->word_bits == 16 && reg == row_->idcode_reg;
    // A new read replaces what an earlier one left unread.
    output_.clear();
    for (uint32_t i = 0; i < count && output_.size() < kMaxOutput; ++i) {
        if (row_->word_bits == 32)
            output_.push_back(value);
        else if (wide && i % 2 == 0)
            output_.push_back(value >> 16);
        else
            output_.push_back(value & 0xFFFF);
    }
}

uint32_t ConfigEngine::take_output()
{
    if (output_.empty())
        return 0;
    const uint32_t w = output_.front();
    output_.erase(output_.begin());
    return w;
}

void ConfigEngine::idle_in_cfg_in()
{
    if (row_ && row_->read_lost_in_idle)
        output_.clear();
}

void ConfigEngine::check_idcode(uint32_t code)
{
    if (error_ != ConfigError::None)
        return;
    if (((code ^ settings_.idcode) & kIdMask) == 0)
        id_checked_ = true;
    else
        fail(ConfigError::Id); // a stream for another part
}

void ConfigEngine::check_crc(uint32_t value, bool restart)
{
    const uint32_t mask = row_->crc_mask;
    const bool ok = row_->crc_check == CrcCheck::Feed
                        ? (crc_ & mask) == 0
                        : ((value ^ crc_) & mask) == 0;
    if (restart)
        crc_ = 0;
    if (error_ != ConfigError::None)
        return;
    if (ok)
        crc_checked_ = true;
    else
        fail(ConfigError::Crc);
}

void ConfigEngine::fail(ConfigError error)
{
    // The device desynchronises; a later sync word still reaches it, for
    // reading STAT, but nothing starts it before the next JPROGRAM.
    error_ = error;
    synced_ = false;
    start_ = false;
    startup_begun_ = false;
}

void ConfigEngine::command(uint32_t code)
{
    if (code == kCmdStart)
        start_ = true;
    else if (code == kCmdDesync)
        synced_ = false;
    else if (code == kCmdRcrc)
        crc_ = 0;
}

void ConfigEngine::startup_clock()
{
    if (startup_count_ < settings_.startup_clocks)
        ++startup_count_;
    const bool reached = startup_count_ >= settings_.startup_clocks;
    if (start_ && error_ == ConfigError::None) {
        startup_begun_ = true;
        if (reached)
            done_ = true;
    } else if (reached && input_seen_ && !ever_synced_) {
        // The sync watchdog: start-up ran on bits that never synced.
        watchdog_ = true;
    }
}

} // namespace tapsim

namespace tapsim {

SlrStack::SlrStack(const EngineSettings &settings)
{
    const SlrCodes codes = slr_codes(settings.idcode);
    for (unsigned i = 0; i < codes.count; ++i) {
        EngineSettings s = settings;
        // The master answers with the part's own code, revision included.
        if (i > 0)
            s.idcode = codes.code[i];
        slrs_.push_back(std::make_unique<ConfigEngine>(s));
        if (i > 0)
            slrs_[i - 1]->forward_to(slrs_[i].get());
    }
}

void SlrStack::program(uint64_t now)
{
    for (auto &e : slrs_)
        e->program(now);
}

bool SlrStack::init(uint64_t now) const
{
    for (const auto &e : slrs_)
        if (!e->init(now))
            return false;
    return true;
}

bool SlrStack::done() const
{
    for (const auto &e : slrs_)
        if (!e->done())
            return false;
    return true;
}

void SlrStack::startup_clock()
{
    for (auto &e : slrs_)
        e->startup_clock();
}

void SlrStack::restart_startup_count()
{
    for (auto &e : slrs_)
        e->restart_startup_count();
}

} // namespace tapsim
