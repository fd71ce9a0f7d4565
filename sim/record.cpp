#include "record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <type_traits>
#include <variant>

namespace tapsim {
namespace {

constexpr const char *kKindNames[] = {
    "reset",      "purge-rx",   "purge-tx", "modem-ctrl",
    "flow-ctrl",  "baudrate",   "set-data", "modem-status",
    "event-char", "error-char", "latency",  "get-latency",
    "bit-mode",   "read-pins",  "eeprom",   "other",
};

constexpr const char *kErrorNames[] = {"none", "id", "crc"};
constexpr const char *kCheckNames[] = {"none", "ok", "bad"};

// The first line: the format's name and version.
constexpr const char *kHeader = "tapsim-record 3";

constexpr char kHex[] = "0123456789abcdef";
constexpr size_t kConfigLineBytes = 64;

std::string hex(const uint8_t *data, size_t n)
{
    std::string s;
    s.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        s.push_back(kHex[data[i] >> 4]);
        s.push_back(kHex[data[i] & 15]);
    }
    return s;
}

std::string hex(const std::vector<uint8_t> &v)
{
    return hex(v.data(), v.size());
}

std::string num_hex(uint64_t v, int digits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*" PRIx64, digits, v);
    return buf;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// key=value fields of one line, after its leading keyword.
class Fields {
  public:
    explicit Fields(const std::string &rest)
    {
        std::istringstream in(rest);
        std::string tok;
        while (in >> tok) {
            const size_t eq = tok.find('=');
            if (eq == std::string::npos) {
                bad_ = "field without '=': " + tok;
                return;
            }
            map_[tok.substr(0, eq)] = tok.substr(eq + 1);
        }
    }

    const std::string &bad() const { return bad_; }
    bool has(const char *key) const { return map_.count(key) != 0; }

    bool num(const char *key, uint64_t max, uint64_t &out)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return fail(std::string("missing ") + key);
        const std::string &s = it->second;
        if (s.empty() || s[0] == '-')
            return fail(std::string("bad number in ") + key);
        errno = 0;
        char *end = nullptr;
        const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
        if (errno || *end || v > max)
            return fail(std::string("bad number in ") + key);
        out = v;
        return true;
    }

    bool sint(const char *key, int32_t &out)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return fail(std::string("missing ") + key);
        errno = 0;
        char *end = nullptr;
        const long v = std::strtol(it->second.c_str(), &end, 10);
        if (errno || *end || it->second.empty() || v < INT32_MIN ||
            v > INT32_MAX)
            return fail(std::string("bad number in ") + key);
        out = static_cast<int32_t>(v);
        return true;
    }

    bool real(const char *key, double &out)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return fail(std::string("missing ") + key);
        char *end = nullptr;
        out = std::strtod(it->second.c_str(), &end);
        if (*end || it->second.empty())
            return fail(std::string("bad number in ") + key);
        return true;
    }

    template <typename T> bool get(const char *key, T &out)
    {
        uint64_t v = 0;
        if (!num(key, static_cast<uint64_t>(static_cast<T>(~0ull)), v))
            return false;
        out = static_cast<T>(v);
        return true;
    }

    bool flag(const char *key, bool &out)
    {
        uint64_t v = 0;
        if (!num(key, 1, v))
            return false;
        out = v != 0;
        return true;
    }

    bool bytes(const char *key, std::vector<uint8_t> &out)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return fail(std::string("missing ") + key);
        return decode(it->second, out) ||
               fail(std::string("bad hex in ") + key);
    }

    bool text(const char *key, std::string &out)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return fail(std::string("missing ") + key);
        out = it->second;
        return true;
    }

    bool blob(const std::string &prefix, Blob &b)
    {
        if (!num((prefix + "len").c_str(), ~0ull, b.size))
            return false;
        if (!num((prefix + "hash").c_str(), ~0ull, b.hash))
            return false;
        if (!bytes((prefix + "data").c_str(), b.head))
            return false;
        if (b.head.size() > b.size || b.head.size() > Blob::kKeep)
            return fail(prefix + "data longer than the transfer");
        return true;
    }

    static bool decode(const std::string &s, std::vector<uint8_t> &out)
    {
        if (s.size() % 2)
            return false;
        out.clear();
        out.reserve(s.size() / 2);
        for (size_t i = 0; i < s.size(); i += 2) {
            const int hi = hex_digit(s[i]), lo = hex_digit(s[i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        return true;
    }

    bool fail(const std::string &why)
    {
        if (bad_.empty())
            bad_ = why;
        return false;
    }

  private:
    std::map<std::string, std::string> map_;
    std::string bad_;
};

// The fields of an end line after a signal: signal=N, N from 1 to 64.
bool parse_end(const std::string &rest, int &signal)
{
    Fields f(rest);
    uint64_t n = 0;
    if (!f.bad().empty() || !f.num("signal", 64, n) || n == 0)
        return false;
    signal = static_cast<int>(n);
    return true;
}

// Where a field's value lives. Enums are kept as their uint8_t code.
using Slot = std::variant<uint8_t *, uint16_t *, uint32_t *, uint64_t *,
                          int32_t *, bool *, double *, std::vector<uint8_t> *,
                          Blob *, std::string *>;

// How a field is spelled: decimal, 0x with so many hex digits, 0 or 1, a
// signed decimal, %.9g, a hex byte string, a blob (len, hash and data
// fields under the field's name as prefix), one of a list of names, or a
// word of text, left out when empty.
enum class Fmt : uint8_t {
    Dec,
    Hex2,
    Hex4,
    Hex8,
    Hex16,
    Flag,
    Signed,
    Real,
    Bytes,
    Blob,
    Name,
    Text
};

using NameOf = const char *(*)(unsigned);

template <typename T> struct Field {
    const char *name;
    Fmt fmt;
    Slot (*at)(T &);
    NameOf names = nullptr; // Fmt::Name: the name of each code
    unsigned name_count = 0;
    bool per_device = false; // only on a chain of more than one device
};

template <typename C, typename V> C class_of(V C::*);

template <auto M> Slot slot(decltype(class_of(M)) &x)
{
    auto *p = &(x.*M);
    using V = std::remove_pointer_t<decltype(p)>;
    if constexpr (std::is_enum_v<V>) {
        static_assert(sizeof(V) == 1, "enums are kept as uint8_t");
        return Slot(reinterpret_cast<uint8_t *>(p));
    } else {
        return Slot(p);
    }
}

uint64_t get_uint(const Slot &s)
{
    return std::visit(
        [](auto *p) -> uint64_t {
            using V = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_integral_v<V>)
                return static_cast<uint64_t>(*p);
            else
                return 0;
        },
        s);
}

// Stores v if the slot's type holds it.
bool set_uint(const Slot &s, uint64_t v)
{
    return std::visit(
        [v](auto *p) {
            using V = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_same_v<V, bool>) {
                *p = v != 0;
                return v <= 1;
            } else if constexpr (std::is_integral_v<V>) {
                if (v > static_cast<uint64_t>(std::numeric_limits<V>::max()))
                    return false;
                *p = static_cast<V>(v);
                return true;
            } else {
                return false;
            }
        },
        s);
}

uint64_t max_of(const Slot &s)
{
    return std::visit(
        [](auto *p) -> uint64_t {
            using V = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_integral_v<V>)
                return static_cast<uint64_t>(std::numeric_limits<V>::max());
            else
                return 0;
        },
        s);
}

int hex_digits(Fmt fmt)
{
    switch (fmt) {
    case Fmt::Hex2:
        return 2;
    case Fmt::Hex4:
        return 4;
    case Fmt::Hex8:
        return 8;
    default:
        return 16;
    }
}

template <typename T>
void put_field(std::ostream &os, const Field<T> &f, const Slot &s)
{
    switch (f.fmt) {
    case Fmt::Dec:
    case Fmt::Flag:
        os << ' ' << f.name << '=' << get_uint(s);
        break;
    case Fmt::Hex2:
    case Fmt::Hex4:
    case Fmt::Hex8:
    case Fmt::Hex16:
        os << ' ' << f.name << '=' << num_hex(get_uint(s), hex_digits(f.fmt));
        break;
    case Fmt::Signed:
        os << ' ' << f.name << '=' << *std::get<int32_t *>(s);
        break;
    case Fmt::Real: {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", *std::get<double *>(s));
        os << ' ' << f.name << '=' << text;
        break;
    }
    case Fmt::Bytes:
        os << ' ' << f.name << '=' << hex(*std::get<std::vector<uint8_t> *>(s));
        break;
    case Fmt::Blob: {
        const Blob &b = *std::get<Blob *>(s);
        os << ' ' << f.name << "len=" << b.size << ' ' << f.name
           << "hash=" << num_hex(b.hash, 16) << ' ' << f.name
           << "data=" << hex(b.head);
        break;
    }
    case Fmt::Name:
        os << ' ' << f.name << '='
           << f.names(static_cast<unsigned>(get_uint(s)));
        break;
    case Fmt::Text:
        if (!std::get<std::string *>(s)->empty())
            os << ' ' << f.name << '=' << *std::get<std::string *>(s);
        break;
    }
}

template <typename T>
bool get_field(Fields &in, const Field<T> &f, const Slot &s)
{
    uint64_t v = 0;
    switch (f.fmt) {
    case Fmt::Dec:
    case Fmt::Hex2:
    case Fmt::Hex4:
    case Fmt::Hex8:
    case Fmt::Hex16:
        return in.num(f.name, max_of(s), v) && set_uint(s, v);
    case Fmt::Flag:
        return in.num(f.name, 1, v) && set_uint(s, v);
    case Fmt::Signed:
        return in.sint(f.name, *std::get<int32_t *>(s));
    case Fmt::Real:
        return in.real(f.name, *std::get<double *>(s));
    case Fmt::Bytes:
        return in.bytes(f.name, *std::get<std::vector<uint8_t> *>(s));
    case Fmt::Blob:
        return in.blob(f.name, *std::get<Blob *>(s));
    case Fmt::Name: {
        std::string text;
        if (!in.text(f.name, text))
            return false;
        for (unsigned i = 0; i < f.name_count; ++i)
            if (text == f.names(i))
                return set_uint(s, i);
        return in.fail(std::string("unknown ") + f.name + " " + text);
    }
    case Fmt::Text:
        return !in.has(f.name) ||
               (in.text(f.name, *std::get<std::string *>(s)) &&
                (!std::get<std::string *>(s)->empty() ||
                 in.fail(std::string("empty ") + f.name)));
    }
    return false;
}

template <typename T, size_t N>
void put_line(std::ostream &os, const char *keyword,
              const Field<T> (&fields)[N], const T &v, bool per_device)
{
    // The rows give write access; writing only reads through them.
    T &x = const_cast<T &>(v);
    os << keyword;
    for (const Field<T> &f : fields)
        if (per_device || !f.per_device)
            put_field(os, f, f.at(x));
    os << '\n';
}

// Reads a line's fields into v. A per-device field may be absent; when
// present it marks the record as a chain's.
template <typename T, size_t N>
bool get_line(Fields &in, const Field<T> (&fields)[N], T &v, bool &per_device)
{
    for (const Field<T> &f : fields) {
        if (f.per_device) {
            if (!in.has(f.name))
                continue;
            per_device = true;
        }
        if (!get_field(in, f, f.at(v)))
            return false;
    }
    return true;
}

const char *kind_text(unsigned i)
{
    return kKindNames[i];
}
const char *error_text(unsigned i)
{
    return kErrorNames[i];
}
const char *check_text(unsigned i)
{
    return kCheckNames[i];
}
const char *state_text(unsigned i)
{
    return state_name(static_cast<TapState>(i));
}
const char *instruction_text(unsigned i)
{
    return instruction_name(static_cast<InstructionName>(i));
}
const char *dir_text(unsigned i)
{
    return i ? "in" : "out";
}

constexpr unsigned kKinds = static_cast<unsigned>(ControlKind::Other) + 1;
constexpr unsigned kErrors = static_cast<unsigned>(ConfigError::Crc) + 1;
constexpr unsigned kChecks = static_cast<unsigned>(CheckResult::Bad) + 1;

// One row per field, in the order the line spells them.
using D = DeviceRecord;
const Field<D> kDeviceLine[] = {
    {"vid", Fmt::Hex4, slot<&D::vid>},
    {"pid", Fmt::Hex4, slot<&D::pid>},
    {"adapter", Fmt::Flag, slot<&D::adapter>},
    {"serial", Fmt::Text, slot<&D::serial>},
    {"opened", Fmt::Dec, slot<&D::opened>},
    {"closed", Fmt::Dec, slot<&D::closed>},
};

using R = Record;
const Field<R> kChipLine[] = {
    {"bit_mode", Fmt::Hex2, slot<&R::bit_mode>},
    {"bit_mask", Fmt::Hex2, slot<&R::bit_mask>},
    {"latency", Fmt::Dec, slot<&R::latency>},
    {"baudrate", Fmt::Dec, slot<&R::baudrate>},
};
const Field<R> kClockLine[] = {
    {"tck_cycles", Fmt::Dec, slot<&R::tck_cycles>},
    {"divisor", Fmt::Dec, slot<&R::divisor>},
    {"base_hz", Fmt::Dec, slot<&R::clock_base_hz>},
    {"wire_seconds", Fmt::Real, slot<&R::wire_seconds>},
};
const Field<R> kTimeLine[] = {{"us", Fmt::Dec, slot<&R::time_us>}};
const Field<R> kJtagLine[] = {
    {"idcode_reads", Fmt::Dec, slot<&R::idcode_reads>}};
const Field<R> kLimitsLine[] = {
    {"max_entries", Fmt::Dec, slot<&R::max_entries>},
    {"dropped", Fmt::Dec, slot<&R::dropped>},
};

using C = ControlTransfer;
const Field<C> kControlLine[] = {
    {"seq", Fmt::Dec, slot<&C::seq>},
    {"device", Fmt::Dec, slot<&C::device>},
    {"type", Fmt::Hex2, slot<&C::request_type>},
    {"request", Fmt::Hex2, slot<&C::request>},
    {"value", Fmt::Hex4, slot<&C::value>},
    {"index", Fmt::Hex4, slot<&C::index>},
    {"length", Fmt::Dec, slot<&C::length>},
    {"result", Fmt::Signed, slot<&C::result>},
    {"kind", Fmt::Name, slot<&C::kind>, kind_text, kKinds},
};

using B = BulkTransfer;
const Field<B> kBulkLine[] = {
    {"seq", Fmt::Dec, slot<&B::seq>},
    {"device", Fmt::Dec, slot<&B::device>},
    {"channel", Fmt::Dec, slot<&B::channel>},
    {"dir", Fmt::Name, slot<&B::in>, dir_text, 2},
    {"requested", Fmt::Signed, slot<&B::requested>},
    {"result", Fmt::Signed, slot<&B::result>},
    {"", Fmt::Blob, slot<&B::data>},
};

using M = MpsseCommand;
const Field<M> kMpsseLine[] = {
    {"opcode", Fmt::Hex2, slot<&M::opcode>},
    {"operands", Fmt::Bytes, slot<&M::operands>},
    {"clocks", Fmt::Dec, slot<&M::clocks>},
    {"bad", Fmt::Flag, slot<&M::bad>},
    {"out_", Fmt::Blob, slot<&M::out>},
    {"in_", Fmt::Blob, slot<&M::in>},
};

using St = StateRun;
const Field<St> kStateLine[] = {
    {"name", Fmt::Name, slot<&St::state>, state_text, kTapStateCount},
    {"count", Fmt::Dec, slot<&St::count>},
};

using I = InstructionLoad;
const Field<I> kInstructionLine[] = {
    {"device", Fmt::Dec, slot<&I::device>, nullptr, 0, true},
    {"code", Fmt::Hex2, slot<&I::code>},
    {"name", Fmt::Name, slot<&I::name>, instruction_text,
     kInstructionNameCount},
};

using Cf = ConfigRecord;
const Field<Cf> kConfigLine[] = {
    {"device", Fmt::Dec, slot<&Cf::device>, nullptr, 0, true},
    {"bits", Fmt::Dec, slot<&Cf::config_bits>},
    {"hash", Fmt::Hex16, slot<&Cf::config_hash>},
    {"kept", Fmt::Flag, slot<&Cf::config_kept>},
    {"sync", Fmt::Flag, slot<&Cf::sync_seen>},
    {"done", Fmt::Flag, slot<&Cf::done>},
    {"init", Fmt::Flag, slot<&Cf::init>},
    {"error", Fmt::Name, slot<&Cf::config_error>, error_text, kErrors},
    {"dropped", Fmt::Dec, slot<&Cf::dropped_config_bits>},
    {"stat", Fmt::Hex8, slot<&Cf::stat>},
};

// A stacked part's SLRs, each a config line of its own marked slr=N.
using Sl = SlrConfigRecord;
const Field<Sl> kSlrLine[] = {
    {"device", Fmt::Dec, slot<&Sl::device>, nullptr, 0, true},
    {"slr", Fmt::Dec, slot<&Sl::slr>},
    {"idcode", Fmt::Hex8, slot<&Sl::idcode>},
    {"sync", Fmt::Flag, slot<&Sl::sync_seen>},
    {"id", Fmt::Name, slot<&Sl::id>, check_text, kChecks},
    {"crc", Fmt::Name, slot<&Sl::crc>, check_text, kChecks},
    {"error", Fmt::Name, slot<&Sl::config_error>, error_text, kErrors},
    {"started", Fmt::Flag, slot<&Sl::started>},
    {"init", Fmt::Flag, slot<&Sl::init>},
    {"stat", Fmt::Hex8, slot<&Sl::stat>},
};

// A record being read: the configuration the next config-data lines
// belong to.
struct Reader {
    Record &r;
    ConfigRecord *config = nullptr;
};

template <typename T, size_t N>
void put_each(std::ostream &os, const char *keyword,
              const Field<T> (&fields)[N], const std::vector<T> &list,
              bool per_device)
{
    for (const T &v : list)
        put_line(os, keyword, fields, v, per_device);
}

template <typename T, size_t N>
bool get_one(Fields &in, const Field<T> (&fields)[N], T &v, Reader &rd)
{
    return get_line(in, fields, v, rd.r.per_device);
}

template <typename T, size_t N>
bool get_next(Fields &in, const Field<T> (&fields)[N], std::vector<T> &list,
              Reader &rd)
{
    list.emplace_back();
    return get_line(in, fields, list.back(), rd.r.per_device);
}

// adapter: the serial of the board's adapter when there are several.
void put_config(std::ostream &os, const ConfigRecord &c, bool per_device,
                const std::string &adapter)
{
    const std::string keyword =
        adapter.empty() ? "config" : "config adapter=" + adapter;
    put_line(os, keyword.c_str(), kConfigLine, c, per_device);
    for (const SlrConfigRecord &slr : c.slrs)
        put_line(os, keyword.c_str(), kSlrLine, slr, per_device);
    for (size_t i = 0; i < c.config_data.size(); i += kConfigLineBytes) {
        const size_t n = std::min(kConfigLineBytes, c.config_data.size() - i);
        os << "config-data " << hex(c.config_data.data() + i, n) << '\n';
    }
}

bool get_config(Fields &in, Reader &rd)
{
    std::string adapter;
    if (in.has("adapter") && (!in.text("adapter", adapter) || adapter.empty()))
        return in.fail("bad adapter");
    if (in.has("slr")) {
        // The SLRs of the part whose line came last, in order.
        if (!rd.config)
            return in.fail("slr config line before its part's");
        std::vector<SlrConfigRecord> &slrs = rd.config->slrs;
        slrs.emplace_back();
        return get_line(in, kSlrLine, slrs.back(), rd.r.per_device) &&
               (slrs.back().slr == slrs.size() - 1 ||
                in.fail("slr lines out of order"));
    }
    // The first config line is the record's own, the others follow; a
    // line naming another adapter starts that adapter's board.
    Record &r = rd.r;
    ConfigRecord *c = &r;
    if (!rd.config) {
        r.adapter = adapter;
    } else if (adapter == (r.more_adapters.empty()
                               ? r.adapter
                               : r.more_adapters.back().adapter)) {
        std::vector<ConfigRecord> &list = r.more_adapters.empty()
                                              ? r.more_configs
                                              : r.more_adapters.back().configs;
        list.emplace_back();
        c = &list.back();
    } else {
        r.more_adapters.push_back({adapter, {ConfigRecord()}});
        c = &r.more_adapters.back().configs.back();
    }
    rd.config = c;
    return get_line(in, kConfigLine, *c, rd.r.per_device);
}

// Every kind of key=value line, in the order a record spells them.
struct LineKind {
    const char *keyword;
    void (*put)(std::ostream &, const Record &);
    bool (*get)(Fields &, Reader &);
};

const LineKind kLines[] = {
    {"device",
     [](std::ostream &os, const R &r) {
         put_each(os, "device", kDeviceLine, r.devices, false);
     },
     [](Fields &in, Reader &rd) {
         return get_next(in, kDeviceLine, rd.r.devices, rd);
     }},
    {"chip",
     [](std::ostream &os, const R &r) {
         put_line(os, "chip", kChipLine, r, false);
     },
     [](Fields &in, Reader &rd) { return get_one(in, kChipLine, rd.r, rd); }},
    {"clock",
     [](std::ostream &os, const R &r) {
         put_line(os, "clock", kClockLine, r, false);
     },
     [](Fields &in, Reader &rd) { return get_one(in, kClockLine, rd.r, rd); }},
    {"time",
     [](std::ostream &os, const R &r) {
         put_line(os, "time", kTimeLine, r, false);
     },
     [](Fields &in, Reader &rd) { return get_one(in, kTimeLine, rd.r, rd); }},
    {"jtag",
     [](std::ostream &os, const R &r) {
         put_line(os, "jtag", kJtagLine, r, false);
     },
     [](Fields &in, Reader &rd) { return get_one(in, kJtagLine, rd.r, rd); }},
    {"limits",
     [](std::ostream &os, const R &r) {
         put_line(os, "limits", kLimitsLine, r, false);
     },
     [](Fields &in, Reader &rd) { return get_one(in, kLimitsLine, rd.r, rd); }},
    {"control",
     [](std::ostream &os, const R &r) {
         put_each(os, "control", kControlLine, r.controls, false);
     },
     [](Fields &in, Reader &rd) {
         return get_next(in, kControlLine, rd.r.controls, rd);
     }},
    {"bulk",
     [](std::ostream &os, const R &r) {
         put_each(os, "bulk", kBulkLine, r.bulk, false);
     },
     [](Fields &in, Reader &rd) {
         return get_next(in, kBulkLine, rd.r.bulk, rd);
     }},
    {"mpsse",
     [](std::ostream &os, const R &r) {
         put_each(os, "mpsse", kMpsseLine, r.commands, false);
     },
     [](Fields &in, Reader &rd) {
         return get_next(in, kMpsseLine, rd.r.commands, rd);
     }},
    {"state",
     [](std::ostream &os, const R &r) {
         put_each(os, "state", kStateLine, r.states, false);
     },
     [](Fields &in, Reader &rd) {
         return get_next(in, kStateLine, rd.r.states, rd);
     }},
    {"instruction",
     [](std::ostream &os, const R &r) {
         put_each(os, "instruction", kInstructionLine, r.instruction_loads,
                  r.per_device);
     },
     [](Fields &in, Reader &rd) {
         if (!get_next(in, kInstructionLine, rd.r.instruction_loads, rd))
             return false;
         rd.r.instructions.push_back(
             static_cast<uint8_t>(rd.r.instruction_loads.back().code));
         return true;
     }},
    {"protocol-error",
     [](std::ostream &os, const R &r) {
         for (const std::string &e : r.protocol_errors)
             os << "protocol-error " << e << '\n';
     },
     nullptr},
    {"warning",
     [](std::ostream &os, const R &r) {
         for (const std::string &w : r.warnings)
             os << "warning " << w << '\n';
     },
     nullptr},
    {"config",
     [](std::ostream &os, const R &r) {
         put_config(os, r, r.per_device, r.adapter);
         for (const ConfigRecord &c : r.more_configs)
             put_config(os, c, r.per_device, r.adapter);
         for (const AdapterConfigs &a : r.more_adapters)
             for (const ConfigRecord &c : a.configs)
                 put_config(os, c, r.per_device, a.adapter);
     },
     get_config},
};

// Lines whose rest is free text, not key=value fields.
bool get_text_line(const std::string &key, const std::string &rest, Reader &rd,
                   bool &ok)
{
    ok = true;
    if (key == "protocol-error")
        rd.r.protocol_errors.push_back(rest);
    else if (key == "warning")
        rd.r.warnings.push_back(rest);
    else if (key == "config-data") {
        std::vector<uint8_t> bytes;
        ok = rd.config && Fields::decode(rest, bytes);
        if (ok)
            rd.config->config_data.insert(rd.config->config_data.end(),
                                          bytes.begin(), bytes.end());
    } else {
        return false;
    }
    return true;
}

bool data_matches_bits(const ConfigRecord &c)
{
    return !c.config_kept || c.config_data.size() == (c.config_bits + 7) / 8;
}

} // namespace

void Blob::append(const uint8_t *data, size_t n)
{
    if (n == 0)
        return;
    if (head.size() < kKeep) {
        const size_t k = std::min(n, kKeep - head.size());
        head.insert(head.end(), data, data + k);
    }
    size += n;
    hash = fnv1a(hash, data, n);
}

const char *config_error_name(ConfigError error)
{
    return kErrorNames[static_cast<int>(error)];
}

const char *control_kind_name(ControlKind kind)
{
    return kKindNames[static_cast<int>(kind)];
}

void Record::add_state(TapState state, uint64_t count)
{
    if (!states.empty() && states.back().state == state)
        states.back().count += count;
    else
        keep(states, StateRun{state, count});
}

uint64_t Record::state_count(TapState state) const
{
    uint64_t n = 0;
    for (const StateRun &r : states)
        if (r.state == state)
            n += r.count;
    return n;
}

size_t Record::adapter_index() const
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].adapter)
            return i;
    return devices.size();
}

size_t Record::adapter_index(const std::string &serial) const
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].adapter && devices[i].serial == serial)
            return i;
    return devices.size();
}

std::string Record::serial_of(uint32_t device) const
{
    return device < devices.size() ? devices[device].serial : std::string();
}

const ConfigRecord *Record::config_of(const std::string &adapter,
                                      uint32_t device) const
{
    if (adapter == this->adapter)
        return config_of(device);
    for (const AdapterConfigs &a : more_adapters)
        if (a.adapter == adapter)
            for (const ConfigRecord &c : a.configs)
                if (c.device == device)
                    return &c;
    return nullptr;
}

const ConfigRecord *Record::config_of(uint32_t device) const
{
    if (this->device == device)
        return this;
    for (const ConfigRecord &c : more_configs)
        if (c.device == device)
            return &c;
    return nullptr;
}

std::vector<InstructionLoad> Record::instructions_of(uint32_t device) const
{
    std::vector<InstructionLoad> loads;
    for (const InstructionLoad &l : instruction_loads)
        if (l.device == device)
            loads.push_back(l);
    return loads;
}

void RecordSink::state(TapState state, uint64_t count)
{
    record_.add_state(state, count);
}

void RecordSink::instruction(uint32_t device, uint32_t code,
                             InstructionName name)
{
    record_.instructions.push_back(static_cast<uint8_t>(code));
    record_.instruction_loads.push_back({device, code, name});
}

void RecordSink::idcode_read()
{
    record_.idcode_reads++;
}

void write_record(std::ostream &os, const Record &r)
{
    os << kHeader << '\n';
    for (const LineKind &k : kLines)
        k.put(os, r);
    os << "end";
    if (r.end_signal != 0)
        os << " signal=" << r.end_signal;
    os << '\n';
}

bool parse_record(std::istream &is, Record &out, std::string *error)
{
    Record r;
    Reader rd{r};
    std::string line;
    size_t lineno = 1;
    bool ended = false;
    auto fail = [&](const std::string &why) {
        if (error)
            *error = "line " + std::to_string(lineno) + ": " + why;
        return false;
    };

    if (!std::getline(is, line) || line != kHeader)
        return fail(std::string("not a '") + kHeader + "' record");
    while (std::getline(is, line)) {
        ++lineno;
        if (ended)
            return fail("text after end");
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string rest =
            sp == std::string::npos ? std::string() : line.substr(sp + 1);
        bool ok = true;
        if (key == "end") {
            ended = true;
            if (!rest.empty() && !parse_end(rest, r.end_signal))
                return fail("bad end line: " + rest);
            continue;
        }
        if (get_text_line(key, rest, rd, ok)) {
            if (!ok)
                return fail("bad hex in config-data");
            continue;
        }
        const LineKind *kind = nullptr;
        for (const LineKind &k : kLines)
            if (k.get && key == k.keyword)
                kind = &k;
        if (!kind)
            return fail("unknown line kind '" + key + "'");
        Fields f(rest);
        if (!f.bad().empty() || !kind->get(f, rd))
            return fail(f.bad());
    }
    if (!ended)
        return fail("record ends without 'end' line");
    if (!data_matches_bits(r))
        return fail("config-data does not match config bits");
    for (const ConfigRecord &c : r.more_configs)
        if (!data_matches_bits(c))
            return fail("config-data does not match config bits");
    for (const AdapterConfigs &a : r.more_adapters)
        for (const ConfigRecord &c : a.configs)
            if (!data_matches_bits(c))
                return fail("config-data does not match config bits");
    uint64_t seq = 0;
    for (const ControlTransfer &c : r.controls)
        seq = std::max(seq, c.seq);
    for (const BulkTransfer &b : r.bulk)
        seq = std::max(seq, b.seq);
    r.next_seq = seq + 1;
    out = std::move(r);
    return true;
}

bool write_record_file(const std::string &path, const Record &record,
                       std::string *error)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream os(tmp, std::ios::out | std::ios::trunc);
        if (!os) {
            if (error)
                *error = "cannot create " + tmp + ": " + std::strerror(errno);
            return false;
        }
        write_record(os, record);
        os.flush();
        if (!os) {
            if (error)
                *error = "cannot write " + tmp;
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "cannot rename to " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool read_record_file(const std::string &path, Record &out, std::string *error)
{
    std::ifstream is(path);
    if (!is) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!parse_record(is, out, &why)) {
        if (error)
            *error = path + ": " + why;
        return false;
    }
    return true;
}

} // namespace tapsim
