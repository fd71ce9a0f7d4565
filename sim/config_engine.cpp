#include "config_engine.h"

namespace tapsim {
namespace {

constexpr uint32_t kCmdStart = 0x5;
constexpr uint32_t kCmdDesync = 0xD;
constexpr uint32_t kOpWrite = 2;
// Bits 31:28 are the silicon revision: chips of one part differ there.
constexpr uint32_t kIdMask = 0x0FFFFFFF;

struct FamilyRow {
    uint32_t code; // ID code bits 27:21
    Family family;
    uint32_t idcode_reg;
    uint32_t cmd_reg;
};

// Registers as the configuration guides give them; Spartan-6 packets are
// 16-bit words, the others 32-bit.
constexpr FamilyRow kFamilies[] = {
    {0x0E, Family::Spartan3E, 0x0E, 0x04},
    {0x11, Family::Spartan3A, 0x0E, 0x04},
    {0x20, Family::Spartan6, 0x0E, 0x05},
    {0x1B, Family::Series7, 0x0C, 0x04},
};

const FamilyRow *row_of(uint32_t idcode)
{
    const uint32_t code = (idcode >> 21) & 0x7F;
    for (const FamilyRow &r : kFamilies)
        if (r.code == code)
            return &r;
    return nullptr;
}

} // namespace

Family family_of(uint32_t idcode)
{
    const FamilyRow *r = row_of(idcode);
    return r ? r->family : Family::Unknown;
}

ConfigEngine::ConfigEngine(const EngineSettings &settings)
    : settings_(settings), family_(family_of(settings.idcode)),
      done_(settings.configured)
{
    if (const FamilyRow *r = row_of(settings.idcode)) {
        idcode_reg_ = r->idcode_reg;
        cmd_reg_ = r->cmd_reg;
    }
}

void ConfigEngine::program(uint64_t now)
{
    clear_end_ = now + settings_.clear_ticks;
    done_ = start_ = synced_ = false;
    error_ = ConfigError::None;
    reg_ = 0;
    words_left_ = 0;
    count_halves_ = value_halves_ = 0;
}

void ConfigEngine::sync()
{
    if (error_ != ConfigError::None)
        return;
    if (family_ == Family::Unknown) {
        // No packet layout known for this part: the sync word is enough.
        start_ = true;
        return;
    }
    synced_ = true;
    words_left_ = 0;
    count_halves_ = value_halves_ = 0;
}

void ConfigEngine::word(uint32_t w)
{
    if (!synced_)
        return;
    if (family_ == Family::Spartan6) {
        half(static_cast<uint16_t>(w >> 16));
        if (synced_)
            half(static_cast<uint16_t>(w & 0xFFFF));
        return;
    }
    word32(w);
}

void ConfigEngine::word32(uint32_t w)
{
    if (words_left_ > 0) {
        --words_left_;
        payload(w);
        return;
    }
    const uint32_t type = w >> 29;
    const uint32_t op = (w >> 27) & 3;
    if (type == 1) {
        reg_ = (w >> 13) & 0x3FFF;
        words_left_ = op == kOpWrite ? (w & 0x7FF) : 0;
    } else if (type == 2) {
        // Long count for the register of the type-1 header before it.
        words_left_ = op == kOpWrite ? (w & 0x07FFFFFF) : 0;
    }
    // Other types, and type-1 no-ops, carry nothing.
}

void ConfigEngine::half(uint16_t h)
{
    if (count_halves_ > 0) {
        words_left_ = (words_left_ << 16) | h;
        --count_halves_;
        return;
    }
    if (words_left_ > 0) {
        --words_left_;
        // Registers wider than a word arrive high half first.
        value_ = (value_ << 16) | h;
        if (++value_halves_ == (reg_ == idcode_reg_ ? 2u : 1u)) {
            value_halves_ = 0;
            payload(value_);
        }
        return;
    }
    const uint32_t type = h >> 13;
    const uint32_t op = (h >> 11) & 3;
    if (type == 1) {
        reg_ = (h >> 5) & 0x3F;
        words_left_ = op == kOpWrite ? (h & 0x1F) : 0;
        value_halves_ = 0;
    } else if (type == 2 && op == kOpWrite) {
        // The word count follows in two words, high half first.
        reg_ = (h >> 5) & 0x3F;
        words_left_ = 0;
        count_halves_ = 2;
    }
}

void ConfigEngine::payload(uint32_t value)
{
    if (reg_ == idcode_reg_)
        check_idcode(value);
    else if (reg_ == cmd_reg_)
        command(value & 0x1F);
}

void ConfigEngine::check_idcode(uint32_t code)
{
    if (((code ^ settings_.idcode) & kIdMask) == 0)
        return;
    // A stream for another part: INIT low, nothing more taken.
    error_ = ConfigError::Id;
    synced_ = false;
    start_ = false;
}

void ConfigEngine::command(uint32_t code)
{
    if (code == kCmdStart)
        start_ = true;
    else if (code == kCmdDesync)
        synced_ = false;
}

void ConfigEngine::startup_clock()
{
    if (startup_count_ < settings_.startup_clocks)
        ++startup_count_;
    if (start_ && error_ == ConfigError::None &&
        startup_count_ >= settings_.startup_clocks)
        done_ = true;
}

} // namespace tapsim
