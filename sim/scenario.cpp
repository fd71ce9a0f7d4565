#include "scenario.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "family.h"
#include "fpga.h"

namespace tapsim {
namespace {

bool parse_u64(const char *text, uint64_t max, uint64_t &out)
{
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    out = v;
    return true;
}

bool parse_bool(const char *text, bool &out)
{
    if (std::strcmp(text, "1") == 0) {
        out = true;
        return true;
    }
    if (std::strcmp(text, "0") == 0) {
        out = false;
        return true;
    }
    return false;
}

bool parse_hex16(const std::string &s, uint16_t &out)
{
    if (s.empty() || s.size() > 4)
        return false;
    uint16_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = static_cast<uint16_t>(v << 4 | d);
    }
    out = v;
    return true;
}

// The comma-separated items of a list variable, empty ones included.
std::vector<std::string> comma_items(const char *text)
{
    std::vector<std::string> items;
    const std::string all(text);
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos)
            comma = all.size();
        items.push_back(all.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

bool parse_ids(const char *text, std::vector<UsbId> &out)
{
    std::vector<UsbId> ids;
    for (const std::string &item : comma_items(text)) {
        const size_t colon = item.find(':');
        UsbId id;
        if (colon == std::string::npos ||
            !parse_hex16(item.substr(0, colon), id.vid) ||
            !parse_hex16(item.substr(colon + 1), id.pid))
            return false;
        ids.push_back(id);
    }
    out = ids;
    return true;
}

// fpga, ID:IRLEN (ID in hex) or none:IRLEN.
bool parse_chain_entry(const std::string &item, ChainEntry &out)
{
    if (item == "fpga") {
        out = ChainEntry();
        return true;
    }
    const size_t colon = item.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string id = item.substr(0, colon);
    const std::string len = item.substr(colon + 1);
    ChainEntry e;
    e.kind = ChainEntry::Kind::Device;
    uint64_t n = 0;
    if (len.empty() || len.find_first_not_of("0123456789") != len.npos ||
        !parse_u64(len.c_str(), TapDevice::kMaxIrLength, n) || n < 2)
        return false;
    e.ir_length = static_cast<unsigned>(n);
    if (id == "none") {
        e.has_idcode = false;
    } else {
        uint16_t hi = 0, lo = 0;
        // An ID code's bit 0 is always 1: a 0 there is a device without one.
        if (id.size() > 8 ||
            !parse_hex16(id.size() > 4 ? id.substr(0, id.size() - 4) : "0",
                         hi) ||
            !parse_hex16(id.size() > 4 ? id.substr(id.size() - 4) : id, lo) ||
            !(lo & 1))
            return false;
        e.idcode = uint32_t{hi} << 16 | lo;
    }
    // A modelled FPGA has the 6-bit instruction register of every family,
    // a stacked part 6 bits per SLR, an MPSoC 12.
    if (is_fpga(e) && e.ir_length != fpga_ir_length(e.idcode))
        return false;
    out = e;
    return true;
}

} // namespace

bool parse_chain(const char *text, std::vector<ChainEntry> &out)
{
    std::vector<ChainEntry> chain;
    bool fpga = false;
    for (const std::string &item : comma_items(text)) {
        ChainEntry e;
        if (!parse_chain_entry(item, e))
            return false;
        fpga = fpga || is_fpga(e);
        chain.push_back(e);
        // An MPSoC's debug port comes after it once JTAG_CTRL enables it.
        if (e.kind == ChainEntry::Kind::Device && is_fpga(e) &&
            is_mpsoc(e.idcode)) {
            ChainEntry dap;
            dap.kind = ChainEntry::Kind::Device;
            dap.idcode = 0x5BA00477;
            dap.ir_length = 4;
            dap.hidden = true;
            chain.push_back(dap);
        }
    }
    if (!fpga)
        return false;
    out = chain;
    return true;
}

bool parse_adapters(const char *text, std::vector<std::string> &out)
{
    std::vector<std::string> serials;
    for (const std::string &item : comma_items(text)) {
        // The serial also names the adapter's state file and stands as one
        // field in the record: nothing there may split it.
        if (item.empty() || item.size() > 32)
            return false;
        for (char c : item)
            if (c <= ' ' || c > '~')
                return false;
        for (const std::string &s : serials)
            if (s == item)
                return false;
        serials.push_back(item);
    }
    out = serials;
    return true;
}

bool is_fpga(const ChainEntry &entry)
{
    return entry.kind == ChainEntry::Kind::Fpga ||
           (entry.has_idcode && family_row(entry.idcode) != nullptr);
}

Scenario scenario_from_env(std::vector<std::string> *errors,
                           const std::function<const char *(const char *)> &get)
{
    auto lookup = [&](const char *name) -> const char * {
        const char *v = get ? get(name) : std::getenv(name);
        return (v && *v) ? v : nullptr;
    };
    auto complain = [&](const char *name, const char *value, const char *want) {
        if (errors)
            errors->push_back(std::string("ignoring ") + name + "=" + value +
                              ": expected " + want);
    };

    Scenario s;
    auto flag = [&](const char *name, bool &field) {
        if (const char *v = lookup(name))
            if (!parse_bool(v, field))
                complain(name, v, "0 or 1");
    };
    auto number = [&](const char *name, uint64_t max, auto &field) {
        if (const char *v = lookup(name)) {
            uint64_t n = 0;
            if (parse_u64(v, max, n))
                field =
                    static_cast<std::remove_reference_t<decltype(field)>>(n);
            else
                complain(name, v, "a number");
        }
    };

    flag("TAPSIM_ADAPTER", s.adapter);
    flag("TAPSIM_POWER", s.target_powered);
    flag("TAPSIM_STRING_STALL", s.faults.string_stall);
    flag("TAPSIM_KEEP_CONFIG", s.keep_config);

    if (const char *v = lookup("TAPSIM_VARIANT")) {
        if (std::strcmp(v, "fs") == 0)
            s.variant = Variant::FullSpeed;
        else if (std::strcmp(v, "hs") == 0)
            s.variant = Variant::HighSpeed;
        else
            complain("TAPSIM_VARIANT", v, "fs or hs");
    }

    number("TAPSIM_IDCODE", 0xFFFFFFFFull, s.idcode);
    static const char *const kUser[4] = {"TAPSIM_USER1", "TAPSIM_USER2",
                                         "TAPSIM_USER3", "TAPSIM_USER4"};
    for (int i = 0; i < 4; ++i)
        number(kUser[i], 0xFFFFFFFFull, s.user[i]);

    if (const char *v = lookup("TAPSIM_EXTRA_DEVICES"))
        if (!parse_ids(v, s.extra_devices))
            complain("TAPSIM_EXTRA_DEVICES", v, "vid:pid[,vid:pid...] in hex");

    if (const char *v = lookup("TAPSIM_ADAPTERS"))
        if (!parse_adapters(v, s.adapters))
            complain("TAPSIM_ADAPTERS", v,
                     "distinct serials of 1 to 32 printable characters, "
                     "comma separated");

    if (const char *v = lookup("TAPSIM_CHAIN"))
        if (!parse_chain(v, s.chain))
            complain("TAPSIM_CHAIN", v,
                     "fpga, ID:IRLEN or none:IRLEN[,...] with an FPGA");

    flag("TAPSIM_CONFIGURED", s.configured);
    number("TAPSIM_USB_US", 0xFFFFFFFFull, s.usb_us);
    number("TAPSIM_CLEAR_US", 0xFFFFFFFFull, s.clear_us);
    number("TAPSIM_STARTUP_CLOCKS", 0xFFFFFFFFull, s.startup_clocks);
    number("TAPSIM_MAX_ENTRIES", 200000ull, s.max_entries);
    if (const char *v = lookup("TAPSIM_TDO")) {
        bool level = false;
        if (parse_bool(v, level))
            s.tdo_stuck = level ? 1 : 0;
        else
            complain("TAPSIM_TDO", v, "0 or 1");
    }

    number("TAPSIM_SHORT_WRITE", ~0ull, s.faults.short_write);
    number("TAPSIM_UNPLUG", ~0ull, s.faults.unplug);
    if (const char *v = lookup("TAPSIM_PARTIAL_WRITE")) {
        const std::string text(v);
        const size_t colon = text.find(':');
        uint64_t n = 0, keep = 0;
        const bool ok =
            parse_u64(text.substr(0, colon).c_str(), ~0ull, n) &&
            (colon == std::string::npos ||
             parse_u64(text.substr(colon + 1).c_str(), SIZE_MAX - 1, keep));
        if (ok) {
            s.faults.partial_write = n;
            s.faults.partial_keep = colon == std::string::npos
                                        ? Faults::kHalf
                                        : static_cast<size_t>(keep);
        } else {
            complain("TAPSIM_PARTIAL_WRITE", v, "N or N:K");
        }
    }
    if (const char *v = lookup("TAPSIM_SIGNAL_AT")) {
        const std::string text(v);
        const size_t colon = text.find(':');
        uint64_t n = 0, sig = 0;
        if (colon != std::string::npos &&
            parse_u64(text.substr(0, colon).c_str(), ~0ull, n) &&
            parse_u64(text.substr(colon + 1).c_str(), 64, sig) && sig > 0) {
            s.faults.signal_at = n;
            s.faults.signal_number = static_cast<int>(sig);
        } else {
            complain("TAPSIM_SIGNAL_AT", v, "N:SIGNAL");
        }
    }
    number("TAPSIM_ERROR_WRITE", ~0ull, s.faults.error_write);
    number("TAPSIM_SILENT_FROM", ~0ull, s.faults.silent_from);
    number("TAPSIM_ERROR_READ", ~0ull, s.faults.error_read);
    if (const char *v = lookup("TAPSIM_EMPTY_READS")) {
        if (std::strcmp(v, "never") == 0) {
            s.faults.empty_reads_forever = true;
        } else {
            uint64_t n = 0;
            if (parse_u64(v, ~0ull, n))
                s.faults.empty_reads = n;
            else
                complain("TAPSIM_EMPTY_READS", v, "a number or never");
        }
    }
    return s;
}

} // namespace tapsim
