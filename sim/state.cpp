#include "state.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "fnv.h"

namespace tapsim {
namespace {

constexpr const char *kMagic = "tapsim-state ";
constexpr size_t kBytesPerLine = 64; // as the record's config-data

std::string hex64(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
    return buf;
}

std::string dec64(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%" PRIu64, v);
    return buf;
}

uint64_t hash_of(const std::string &text, size_t n)
{
    return fnv1a(kFnvOffset, reinterpret_cast<const uint8_t *>(text.data()), n);
}

bool parse_number(const std::string &text, uint64_t &out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string format_chain(const std::vector<ChainEntry> &chain)
{
    std::string s;
    for (const ChainEntry &e : chain) {
        if (!s.empty())
            s += ',';
        char buf[32];
        if (e.kind == ChainEntry::Kind::Fpga)
            std::snprintf(buf, sizeof buf, "fpga");
        else if (!e.has_idcode)
            std::snprintf(buf, sizeof buf, "none:%u", e.ir_length);
        else
            std::snprintf(buf, sizeof buf, "%08" PRIx32 ":%u", e.idcode,
                          e.ir_length);
        s += buf;
    }
    return s;
}

// "alone" for the FPGA without TAPSIM_CHAIN, which keeps the record's
// single-device form.
constexpr const char *kAlone = "alone";
constexpr const char *kPartsTime = "part";

std::string format_clear_us(const std::optional<uint32_t> &us)
{
    return us ? dec64(*us) : kPartsTime;
}

// The board variables, one row each: how each side of a comparison reads.
struct BoardVariable {
    const char *name;
    std::string (*value)(const Scenario &);
};
template <int I> std::string user_value(const Scenario &s)
{
    return hex64(s.user[I]);
}
const BoardVariable kBoardVariables[] = {
    {"TAPSIM_IDCODE", [](const Scenario &s) { return hex64(s.idcode); }},
    {"TAPSIM_CHAIN",
     [](const Scenario &s) {
         return s.chain.empty() ? std::string("fpga") : format_chain(s.chain);
     }},
    {"TAPSIM_USER1", user_value<0>},
    {"TAPSIM_USER2", user_value<1>},
    {"TAPSIM_USER3", user_value<2>},
    {"TAPSIM_USER4", user_value<3>},
    {"TAPSIM_KEEP_CONFIG",
     [](const Scenario &s) { return std::string(s.keep_config ? "1" : "0"); }},
    {"TAPSIM_CLEAR_US",
     [](const Scenario &s) { return format_clear_us(s.clear_us); }},
    {"TAPSIM_STARTUP_CLOCKS",
     [](const Scenario &s) { return dec64(s.startup_clocks); }},
};

} // namespace

void board_state(StateFields &f, Scenario &board)
{
    f.section("board");
    f.code("idcode", board.idcode);
    static const char *const kUser[4] = {"user1", "user2", "user3", "user4"};
    for (int i = 0; i < 4; ++i)
        f.code(kUser[i], board.user[i]);
    f.flag("keep_config", board.keep_config);
    std::string clear = format_clear_us(board.clear_us);
    f.text("clear_us", clear);
    uint64_t us = 0;
    const bool part = clear == kPartsTime;
    f.require(part || (parse_number(clear, us) && us <= UINT32_MAX),
              "clear_us is a number or part");
    board.clear_us = part ? std::nullopt
                          : std::optional<uint32_t>(static_cast<uint32_t>(us));
    f.count("startup_clocks", board.startup_clocks);
    std::string chain =
        board.chain.empty() ? kAlone : format_chain(board.chain);
    f.text("chain", chain);
    std::vector<ChainEntry> entries;
    const bool alone = chain == kAlone;
    f.require(alone || parse_chain(chain.c_str(), entries),
              "chain is alone or a chain as TAPSIM_CHAIN writes it");
    board.chain = entries;
}

std::vector<std::string>
board_conflicts(const Scenario &from_env, const Scenario &from_file,
                const std::string &path,
                const std::function<const char *(const char *)> &get)
{
    std::vector<std::string> out;
    for (const BoardVariable &v : kBoardVariables) {
        const char *set = get(v.name);
        if (!set || !*set)
            continue;
        const std::string mine = v.value(from_env);
        const std::string theirs = v.value(from_file);
        if (mine != theirs)
            out.push_back(std::string(v.name) + "=" + set +
                          " is not the board in " + path + " (" + theirs +
                          "): the run uses the file");
    }
    return out;
}

// --- writing

void StateWriter::flush()
{
    if (!line_.empty())
        out_ += line_ + "\n" + data_;
    line_.clear();
    data_.clear();
}

void StateWriter::section(const char *keyword)
{
    flush();
    line_ = keyword;
}

void StateWriter::number(const char *name, uint64_t &value, uint64_t, bool hex)
{
    line_ +=
        std::string(" ") + name + "=" + (hex ? hex64(value) : dec64(value));
}

void StateWriter::expect(const char *name, uint64_t value, bool hex)
{
    number(name, value, value, hex);
}

void StateWriter::text(const char *name, std::string &value)
{
    line_ += std::string(" ") + name + "=" + value;
}

void StateWriter::bytes(const char *name, std::vector<uint8_t> &value, uint64_t)
{
    line_ += std::string(" ") + name + "=" + dec64(value.size());
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < value.size(); i += kBytesPerLine) {
        data_ += "data ";
        for (size_t j = i; j < value.size() && j < i + kBytesPerLine; ++j) {
            data_ += kHex[value[j] >> 4];
            data_ += kHex[value[j] & 15];
        }
        data_ += '\n';
    }
}

void StateWriter::words(const char *name, std::vector<uint32_t> &value, size_t)
{
    line_ += std::string(" ") + name + "=";
    for (size_t i = 0; i < value.size(); ++i) {
        char buf[12];
        std::snprintf(buf, sizeof buf, "%s%08" PRIx32, i ? "," : "", value[i]);
        line_ += buf;
    }
}

std::string StateWriter::finish()
{
    flush();
    std::string file = kMagic + std::to_string(kStateVersion) + "\n" + out_;
    file += "check hash=" + hex64(hash_of(file, file.size())) + "\nend\n";
    return file;
}

// --- reading

StateReader::StateReader(const std::string &file)
{
    std::vector<std::string> lines;
    std::vector<size_t> starts;
    size_t at = 0;
    while (at < file.size()) {
        const size_t nl = file.find('\n', at);
        if (nl == std::string::npos) {
            fail("damaged: its last line is cut short");
            return;
        }
        starts.push_back(at);
        lines.push_back(file.substr(at, nl - at));
        at = nl + 1;
    }
    if (lines.empty() ||
        lines[0].compare(0, std::strlen(kMagic), kMagic) != 0) {
        fail("not a tapsim state file");
        return;
    }
    const std::string version = lines[0].substr(std::strlen(kMagic));
    if (version != std::to_string(kStateVersion)) {
        fail("format version " + version + ", this bench reads " +
             std::to_string(kStateVersion));
        return;
    }
    const size_t n = lines.size();
    uint64_t check = 0;
    if (n < 3 || lines[n - 1] != "end" ||
        lines[n - 2].compare(0, 11, "check hash=") != 0 ||
        !parse_number(lines[n - 2].substr(11), check)) {
        fail("damaged: it does not end with its check and end lines");
        return;
    }
    if (check != hash_of(file, starts[n - 2])) {
        fail("damaged: its lines do not match their check");
        return;
    }
    lines_.assign(lines.begin() + 1, lines.end() - 2);
}

void StateReader::fail(const std::string &why)
{
    if (!error_.empty())
        return;
    error_ = line_no_ ? "line " + std::to_string(line_no_) + ": " + why : why;
}

void StateReader::end_section()
{
    for (size_t i = 0; i < fields_.size(); ++i)
        if (!used_[i])
            fail("unknown field " + fields_[i].first);
    fields_.clear();
    used_.clear();
}

void StateReader::section(const char *keyword)
{
    if (!ok())
        return;
    end_section();
    if (next_ >= lines_.size()) {
        fail(std::string("no ") + keyword + " line where one belongs");
        return;
    }
    line_no_ = next_ + 2;
    std::istringstream is(lines_[next_++]);
    std::string word;
    is >> word;
    if (word != keyword) {
        fail(std::string("expected ") + keyword + ", found " + word);
        return;
    }
    while (is >> word) {
        const size_t eq = word.find('=');
        if (eq == std::string::npos || eq == 0) {
            fail("bad field " + word);
            return;
        }
        const std::string name = word.substr(0, eq);
        for (const auto &f : fields_)
            if (f.first == name) {
                fail("field " + name + " twice");
                return;
            }
        fields_.emplace_back(name, word.substr(eq + 1));
        used_.push_back(false);
    }
}

const std::string *StateReader::field(const char *name)
{
    if (!ok())
        return nullptr;
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].first == name) {
            used_[i] = true;
            return &fields_[i].second;
        }
    fail(std::string("no field ") + name);
    return nullptr;
}

void StateReader::number(const char *name, uint64_t &value, uint64_t max, bool)
{
    const std::string *text = field(name);
    if (!text)
        return;
    uint64_t v = 0;
    if (!parse_number(*text, v) || v > max) {
        fail(std::string("bad ") + name + "=" + *text);
        return;
    }
    value = v;
}

void StateReader::expect(const char *name, uint64_t value, bool hex)
{
    uint64_t v = value;
    number(name, v, UINT64_MAX, hex);
    const auto show = hex ? hex64 : dec64;
    if (ok() && v != value)
        fail(std::string(name) + "=" + show(v) + " where the board has " +
             show(value));
}

void StateReader::text(const char *name, std::string &value)
{
    if (const std::string *t = field(name))
        value = *t;
}

void StateReader::bytes(const char *name, std::vector<uint8_t> &value,
                        uint64_t max)
{
    uint64_t size = 0;
    number(name, size, max, false);
    if (!ok())
        return;
    std::vector<uint8_t> got;
    got.reserve(static_cast<size_t>(size));
    while (got.size() < size) {
        if (next_ >= lines_.size() ||
            lines_[next_].compare(0, 5, "data ") != 0) {
            fail(std::string("fewer ") + name + " bytes than its count");
            return;
        }
        const std::string &line = lines_[next_++];
        if (line.size() % 2 != 1 || line.size() - 5 > 2 * kBytesPerLine ||
            got.size() + (line.size() - 5) / 2 > size) {
            fail(std::string("bad ") + name + " line");
            return;
        }
        for (size_t i = 5; i < line.size(); i += 2) {
            const int hi = hex_digit(line[i]), lo = hex_digit(line[i + 1]);
            if (hi < 0 || lo < 0) {
                fail(std::string("bad ") + name + " line");
                return;
            }
            got.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
    }
    value = std::move(got);
}

void StateReader::words(const char *name, std::vector<uint32_t> &value,
                        size_t max)
{
    const std::string *text = field(name);
    if (!text)
        return;
    std::vector<uint32_t> got;
    size_t at = 0;
    while (at < text->size()) {
        size_t comma = text->find(',', at);
        if (comma == std::string::npos)
            comma = text->size();
        uint64_t w = 0;
        if (comma - at != 8 || !parse_number("0x" + text->substr(at, 8), w) ||
            got.size() >= max) {
            fail(std::string("bad ") + name + "=" + *text);
            return;
        }
        got.push_back(static_cast<uint32_t>(w));
        at = comma + 1;
    }
    value = std::move(got);
}

void StateReader::require(bool holds, const char *what)
{
    if (ok() && !holds)
        fail(std::string("expected: ") + what);
}

void StateReader::finish()
{
    if (!ok())
        return;
    end_section();
    if (ok() && next_ != lines_.size()) {
        line_no_ = next_ + 2;
        fail("more lines than the board has");
    }
}

// --- the file

bool read_state_text(const std::string &path, std::string &out, bool &exists,
                     std::string *error)
{
    std::ifstream is(path, std::ios::binary);
    exists = false;
    if (!is) {
        if (errno == ENOENT)
            return true;
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    exists = true;
    std::ostringstream s;
    s << is.rdbuf();
    if (is.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    out = s.str();
    return true;
}

bool write_state_text(const std::string &path, const std::string &text,
                      std::string *error)
{
    // The lock keeps other runs out, so one temporary name will do.
    const std::string tmp = path + ".tmp";
    {
        std::ofstream os(tmp, std::ios::binary | std::ios::trunc);
        if (!os) {
            *error = "cannot create " + tmp + ": " + std::strerror(errno);
            return false;
        }
        os << text;
        os.flush();
        if (!os) {
            *error = "cannot write " + tmp;
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot rename to " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace tapsim
