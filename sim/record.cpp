#include "record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

namespace tapsim {
namespace {

constexpr const char *kKindNames[] = {
    "reset",      "purge-rx",   "purge-tx", "modem-ctrl",
    "flow-ctrl",  "baudrate",   "set-data", "modem-status",
    "event-char", "error-char", "latency",  "get-latency",
    "bit-mode",   "read-pins",  "eeprom",   "other",
};

constexpr const char *kErrorNames[] = {"none", "id", "crc"};

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

void put_blob(std::ostream &os, const char *prefix, const Blob &b)
{
    os << ' ' << prefix << "len=" << b.size << ' ' << prefix
       << "hash=" << num_hex(b.hash, 16) << ' ' << prefix
       << "data=" << hex(b.head);
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

void write_record(std::ostream &os, const Record &r)
{
    os << kHeader << '\n';
    for (const DeviceRecord &d : r.devices)
        os << "device vid=" << num_hex(d.vid, 4) << " pid=" << num_hex(d.pid, 4)
           << " adapter=" << d.adapter << " opened=" << d.opened
           << " closed=" << d.closed << '\n';
    os << "chip bit_mode=" << num_hex(r.bit_mode, 2)
       << " bit_mask=" << num_hex(r.bit_mask, 2)
       << " latency=" << unsigned(r.latency) << " baudrate=" << r.baudrate
       << '\n';
    char wire[64];
    std::snprintf(wire, sizeof wire, "%.9g", r.wire_seconds);
    os << "clock tck_cycles=" << r.tck_cycles << " divisor=" << r.divisor
       << " base_hz=" << r.clock_base_hz << " wire_seconds=" << wire << '\n';
    os << "time us=" << r.time_us << '\n';
    os << "jtag idcode_reads=" << r.idcode_reads << '\n';
    os << "limits max_entries=" << Record::kMaxEntries
       << " dropped=" << r.dropped << '\n';
    for (const ControlTransfer &c : r.controls)
        os << "control seq=" << c.seq << " device=" << c.device
           << " type=" << num_hex(c.request_type, 2)
           << " request=" << num_hex(c.request, 2)
           << " value=" << num_hex(c.value, 4)
           << " index=" << num_hex(c.index, 4) << " length=" << c.length
           << " result=" << c.result << " kind=" << control_kind_name(c.kind)
           << '\n';
    for (const BulkTransfer &b : r.bulk) {
        os << "bulk seq=" << b.seq << " device=" << b.device
           << " channel=" << unsigned(b.channel)
           << " dir=" << (b.in ? "in" : "out") << " requested=" << b.requested
           << " result=" << b.result;
        put_blob(os, "", b.data);
        os << '\n';
    }
    for (const MpsseCommand &m : r.commands) {
        os << "mpsse opcode=" << num_hex(m.opcode, 2)
           << " operands=" << hex(m.operands) << " clocks=" << m.clocks
           << " bad=" << m.bad;
        put_blob(os, "out_", m.out);
        put_blob(os, "in_", m.in);
        os << '\n';
    }
    for (const StateRun &s : r.states)
        os << "state name=" << state_name(s.state) << " count=" << s.count
           << '\n';
    for (uint8_t code : r.instructions)
        os << "instruction code=" << num_hex(code, 2)
           << " name=" << instruction_name(code) << '\n';
    for (const std::string &e : r.protocol_errors)
        os << "protocol-error " << e << '\n';
    for (const std::string &w : r.warnings)
        os << "warning " << w << '\n';
    os << "config bits=" << r.config_bits
       << " hash=" << num_hex(r.config_hash, 16) << " kept=" << r.config_kept
       << " sync=" << r.sync_seen << " done=" << r.done << " init=" << r.init
       << " error=" << config_error_name(r.config_error)
       << " dropped=" << r.dropped_config_bits << " stat=" << num_hex(r.stat, 8)
       << '\n';
    for (size_t i = 0; i < r.config_data.size(); i += kConfigLineBytes) {
        const size_t n = std::min(kConfigLineBytes, r.config_data.size() - i);
        os << "config-data " << hex(r.config_data.data() + i, n) << '\n';
    }
    os << "end";
    if (r.end_signal != 0)
        os << " signal=" << r.end_signal;
    os << '\n';
}

bool parse_record(std::istream &is, Record &out, std::string *error)
{
    Record r;
    std::string line;
    size_t lineno = 0;
    bool ended = false;
    auto fail = [&](const std::string &why) {
        if (error)
            *error = "line " + std::to_string(lineno) + ": " + why;
        return false;
    };

    if (!std::getline(is, line) || line != kHeader) {
        lineno = 1;
        return fail(std::string("not a '") + kHeader + "' record");
    }
    lineno = 1;
    while (std::getline(is, line)) {
        ++lineno;
        if (ended)
            return fail("text after end");
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string rest =
            sp == std::string::npos ? std::string() : line.substr(sp + 1);

        if (key == "end") {
            ended = true;
            if (!rest.empty() && !parse_end(rest, r.end_signal))
                return fail("bad end line: " + rest);
            continue;
        }
        if (key == "protocol-error") {
            r.protocol_errors.push_back(rest);
            continue;
        }
        if (key == "warning") {
            r.warnings.push_back(rest);
            continue;
        }
        if (key == "config-data") {
            std::vector<uint8_t> bytes;
            if (!Fields::decode(rest, bytes))
                return fail("bad hex in config-data");
            r.config_data.insert(r.config_data.end(), bytes.begin(),
                                 bytes.end());
            continue;
        }

        Fields f(rest);
        if (!f.bad().empty())
            return fail(f.bad());
        bool ok = true;
        if (key == "device") {
            DeviceRecord d;
            ok = f.get("vid", d.vid) && f.get("pid", d.pid) &&
                 f.flag("adapter", d.adapter) && f.get("opened", d.opened) &&
                 f.get("closed", d.closed);
            r.devices.push_back(d);
        } else if (key == "chip") {
            ok = f.get("bit_mode", r.bit_mode) &&
                 f.get("bit_mask", r.bit_mask) && f.get("latency", r.latency) &&
                 f.get("baudrate", r.baudrate);
        } else if (key == "clock") {
            ok = f.get("tck_cycles", r.tck_cycles) &&
                 f.get("divisor", r.divisor) &&
                 f.get("base_hz", r.clock_base_hz) &&
                 f.real("wire_seconds", r.wire_seconds);
        } else if (key == "time") {
            ok = f.get("us", r.time_us);
        } else if (key == "jtag") {
            ok = f.get("idcode_reads", r.idcode_reads);
        } else if (key == "limits") {
            uint64_t max = 0;
            ok =
                f.num("max_entries", ~0ull, max) && f.get("dropped", r.dropped);
        } else if (key == "control") {
            ControlTransfer c;
            std::string kind;
            ok = f.get("seq", c.seq) && f.get("device", c.device) &&
                 f.get("type", c.request_type) && f.get("request", c.request) &&
                 f.get("value", c.value) && f.get("index", c.index) &&
                 f.get("length", c.length) && f.sint("result", c.result) &&
                 f.text("kind", kind);
            bool known = false;
            for (int i = 0; ok && i <= static_cast<int>(ControlKind::Other);
                 ++i) {
                if (kind == kKindNames[i]) {
                    c.kind = static_cast<ControlKind>(i);
                    known = true;
                }
            }
            if (ok && !known)
                ok = f.fail("unknown control kind " + kind);
            r.controls.push_back(c);
        } else if (key == "bulk") {
            BulkTransfer b;
            std::string dir;
            ok = f.get("seq", b.seq) && f.get("device", b.device) &&
                 f.get("channel", b.channel) && f.text("dir", dir) &&
                 f.sint("requested", b.requested) &&
                 f.sint("result", b.result) && f.blob("", b.data);
            if (ok && dir != "in" && dir != "out")
                ok = f.fail("bad dir " + dir);
            b.in = dir == "in";
            r.bulk.push_back(std::move(b));
        } else if (key == "mpsse") {
            MpsseCommand m;
            ok = f.get("opcode", m.opcode) && f.bytes("operands", m.operands) &&
                 f.get("clocks", m.clocks) && f.flag("bad", m.bad) &&
                 f.blob("out_", m.out) && f.blob("in_", m.in);
            r.commands.push_back(std::move(m));
        } else if (key == "state") {
            StateRun s;
            std::string name;
            ok = f.text("name", name) && f.get("count", s.count);
            if (ok && !parse_state_name(name.c_str(), s.state))
                ok = f.fail("unknown state " + name);
            r.states.push_back(s);
        } else if (key == "instruction") {
            uint8_t code = 0;
            ok = f.get("code", code);
            r.instructions.push_back(code);
        } else if (key == "config") {
            ok = f.get("bits", r.config_bits) && f.get("hash", r.config_hash) &&
                 f.flag("kept", r.config_kept) && f.flag("sync", r.sync_seen) &&
                 f.flag("done", r.done) && f.flag("init", r.init) &&
                 f.get("dropped", r.dropped_config_bits) &&
                 f.get("stat", r.stat);
            std::string error;
            if (ok && f.text("error", error)) {
                bool known = false;
                for (int i = 0; i <= static_cast<int>(ConfigError::Crc); ++i) {
                    if (error == kErrorNames[i]) {
                        r.config_error = static_cast<ConfigError>(i);
                        known = true;
                    }
                }
                if (!known)
                    ok = f.fail("unknown config error " + error);
            } else {
                ok = false;
            }
        } else {
            return fail("unknown line kind '" + key + "'");
        }
        if (!ok)
            return fail(f.bad());
    }
    if (!ended)
        return fail("record ends without 'end' line");
    if (r.config_kept && r.config_data.size() != (r.config_bits + 7) / 8)
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
