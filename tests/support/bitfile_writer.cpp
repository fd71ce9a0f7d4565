#include "bitfile_writer.h"

#include <algorithm>
#include <cstdio>

namespace bitgen {

namespace {

void put_be(Bytes &out, uint32_t value, int width)
{
    for (int i = width - 1; i >= 0; i--)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_word(Bytes &out, uint32_t word)
{
    put_be(out, word, 4);
}

// Dummy words, the bus-width detection pattern and the sync word.
void put_preamble(Bytes &out)
{
    for (int i = 0; i < 8; i++)
        put_word(out, 0xFFFFFFFF); // dummy words
    put_word(out, 0x000000BB);     // bus-width detection
    put_word(out, 0x11220044);
    put_word(out, 0xFFFFFFFF);
    put_word(out, 0xAA995566); // sync
}

enum class CrcKind { Crc16, Crc22, Crc32c };

// The configuration CRC as the families compute it, one register write at
// a time. Written apart from the simulator's, so each checks the other.
class ConfigCrc {
  public:
    explicit ConfigCrc(CrcKind kind) : kind_(kind) {}
    void reset() { value_ = 0; }
    uint32_t value() const { return value_; }
    void feed(uint32_t reg, uint32_t data)
    {
        if (kind_ == CrcKind::Crc22) {
            const uint32_t top = value_ >> 21;
            value_ = ((value_ << 1) & 0x3FFFFF) ^ (reg << 16 | data);
            if (top & 1)
                value_ ^= 0x9081;
            return;
        }
        // 32 data bits then 5 address bits, each least significant first,
        // through a reflected CRC.
        const uint32_t poly = kind_ == CrcKind::Crc16 ? 0xA001 : 0x82F63B78;
        uint64_t in = data | static_cast<uint64_t>(reg) << 32;
        for (int i = 0; i < 37; i++, in >>= 1) {
            const bool carry = ((value_ ^ static_cast<uint32_t>(in)) & 1) != 0;
            value_ >>= 1;
            if (carry)
                value_ ^= poly;
        }
    }

  private:
    CrcKind kind_;
    uint32_t value_ = 0;
};

} // namespace

Bytes magic()
{
    return {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
            0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
}

void put_field(Bytes &out, char key, const Bytes &value)
{
    out.push_back(static_cast<uint8_t>(key));
    put_be(out, static_cast<uint32_t>(value.size()), key == 'e' ? 4 : 2);
    out.insert(out.end(), value.begin(), value.end());
}

void put_text(Bytes &out, char key, const std::string &text)
{
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    put_field(out, key, value);
}

Bytes make_bitfile(const Header &header, const Bytes &bitstream)
{
    Bytes out = magic();
    put_text(out, 'a', header.design);
    put_text(out, 'b', header.part);
    put_text(out, 'c', header.date);
    put_text(out, 'd', header.time);
    put_field(out, 'e', bitstream);
    return out;
}

Bytes config_stream(size_t size)
{
    // Type-1 packet header: 001, opcode (2 = write), register, word count.
    auto write1 = [](uint32_t reg, uint32_t words) {
        return (1u << 29) | (2u << 27) | (reg << 13) | words;
    };
    const uint32_t noop = 0x20000000;
    const uint32_t reg_cmd = 4, reg_idcode = 12, reg_fdri = 2;

    Bytes out;
    put_preamble(out);
    put_word(out, noop);
    put_word(out, write1(reg_cmd, 1));
    put_word(out, 0x00000007); // reset CRC
    put_word(out, write1(reg_idcode, 1));
    put_word(out, 0x01C22093);
    // Frame data goes as a type-1 write of no words followed by a type-2
    // packet carrying the count.
    size_t tail_bytes = 7 * 4;
    size_t head_bytes = out.size() + 8;
    size_t frame_words = size > head_bytes + tail_bytes
                             ? (size - head_bytes - tail_bytes) / 4
                             : 0;
    put_word(out, write1(reg_fdri, 0));
    put_word(out, (2u << 29) | (2u << 27) |
                      static_cast<uint32_t>(frame_words & 0x07FFFFFF));
    // Spartan-3E's CRC: RCRC above, then the ID code and frame writes; its
    // auto-CRC word closes the frame data.
    ConfigCrc crc(CrcKind::Crc16);
    crc.feed(reg_idcode, 0x01C22093);
    for (size_t i = 0; i < frame_words; i++) {
        const uint32_t w = 0x5A5A0000u ^ static_cast<uint32_t>(i * 2654435761u);
        crc.feed(reg_fdri, w);
        put_word(out, w);
    }
    if (frame_words > 0)
        put_word(out, crc.value());
    put_word(out, write1(reg_cmd, 1));
    put_word(out, 0x00000005); // start-up
    put_word(out, write1(reg_cmd, 1));
    put_word(out, 0x0000000D); // desync
    put_word(out, noop);
    put_word(out, noop);
    while (out.size() < size)
        out.push_back(0x00);
    return out;
}

uint32_t example_idcode(Family family)
{
    switch (family) {
    case Family::Spartan3E:
        return 0x01C22093; // XC3S500E
    case Family::Spartan3A:
        return 0x02218093; // XC3S200A
    case Family::Spartan6:
        return 0x04001093; // XC6SLX9
    case Family::Series7:
        return 0x0362D093; // XC7A35T
    case Family::UltraScale:
        return 0x03822093; // XCKU040
    case Family::UltraScalePlus:
        return 0x04A63093; // XCKU3P
    }
    return 0;
}

const char *example_part(Family family)
{
    switch (family) {
    case Family::Spartan3E:
        return "3s500efg320";
    case Family::Spartan3A:
        return "3s200aft256";
    case Family::Spartan6:
        return "6slx9tqg144";
    case Family::Series7:
        return "7a35tcsg324";
    case Family::UltraScale:
        return "ku040ffva1156";
    case Family::UltraScalePlus:
        return "ku3pffva676";
    }
    return "";
}

namespace {

// Packet layout of one family, as the configuration guides give it.
struct Layout {
    int word_bytes;
    uint32_t idcode_reg, cmd_reg, fdri_reg;
    CrcKind crc;
    std::vector<uint32_t> not_fed; // registers whose writes skip the CRC
    int auto_crc_words;            // after the frame data
};

Layout layout_of(Family family)
{
    switch (family) {
    case Family::Spartan3A:
        return {2,    0x0E,           0x05,
                0x03, CrcKind::Crc22, {0x00, 0x04, 0x08, 0x09, 0x12, 0x1C},
                0};
    case Family::Spartan6:
        return {
            2,    0x0E,           0x05,
            0x03, CrcKind::Crc22, {0x00, 0x04, 0x08, 0x09, 0x12, 0x1F, 0x20},
            2};
    case Family::Series7:
        return {4,
                0x0C,
                0x04,
                0x02,
                CrcKind::Crc32c,
                {0x00, 0x0F, 0x12, 0x14, 0x15, 0x16},
                0};
    case Family::UltraScale:
    case Family::UltraScalePlus:
        // Every write but the CRC register's is fed.
        return {4, 0x0C, 0x04, 0x02, CrcKind::Crc32c, {0x00}, 0};
    default:
        return {4, 0x0E, 0x04, 0x02, CrcKind::Crc16, {}, 1};
    }
}

constexpr uint32_t kRegCrc = 0x00;

class Packets {
  public:
    explicit Packets(const Layout &l) : l_(l), crc_(l.crc) {}

    void word(uint32_t w) { put_be(out_, w, l_.word_bytes); }
    // Type-1 write header: 001, op 10, register, word count.
    void write1(uint32_t reg, uint32_t words)
    {
        word(l_.word_bytes == 2 ? 0x3000u | reg << 5 | words
                                : 0x30000000u | reg << 13 | words);
    }
    // One payload word of a register write, fed to the CRC.
    void data(uint32_t reg, uint32_t w)
    {
        if (std::find(l_.not_fed.begin(), l_.not_fed.end(), reg) ==
            l_.not_fed.end())
            crc_.feed(reg, w);
        word(w);
    }
    void noop() { word(l_.word_bytes == 2 ? 0x2000u : 0x20000000u); }
    void command(uint32_t code)
    {
        write1(l_.cmd_reg, 1);
        if (code == 0x7) { // RCRC: resets the CRC and is not fed
            word(code);
            crc_.reset();
        } else {
            data(l_.cmd_reg, code);
        }
    }
    // Registers wider than a 16-bit word go high half first.
    void wide(uint32_t reg, uint32_t value)
    {
        if (l_.word_bytes == 2) {
            write1(reg, 2);
            data(reg, value >> 16);
            data(reg, value & 0xFFFF);
        } else {
            write1(reg, 1);
            data(reg, value);
        }
    }
    void idcode(uint32_t code) { wide(l_.idcode_reg, code); }
    // The CRC check; the device compares and starts again from zero.
    void crc_write()
    {
        wide(kRegCrc, crc_.value());
        crc_.reset();
    }
    // Frame data: a type-2 packet carries the long count; then the
    // family's auto-CRC words (Spartan-3E: fed like a CRC write, which
    // leaves zero; Spartan-6: the running value, neither fed nor reset).
    void frames(size_t words)
    {
        if (l_.word_bytes == 2) {
            word(0x5000u | 2u << 11 | l_.fdri_reg << 5);
            word(static_cast<uint32_t>(words >> 16) & 0xFFFF);
            word(static_cast<uint32_t>(words) & 0xFFFF);
        } else {
            write1(l_.fdri_reg, 0);
            word(0x50000000u | (static_cast<uint32_t>(words) & 0x07FFFFFF));
        }
        uint32_t x = 0x5A5A0000;
        for (size_t i = 0; i < words; i++) {
            x = x * 1664525u + 1013904223u;
            data(l_.fdri_reg, l_.word_bytes == 2 ? x >> 16 : x);
        }
        if (words == 0)
            return;
        if (l_.auto_crc_words == 1) {
            data(kRegCrc, crc_.value());
        } else if (l_.auto_crc_words == 2) {
            word(crc_.value() >> 16);
            word(crc_.value() & 0xFFFF);
        }
    }
    void reg(uint32_t r, uint32_t value)
    {
        write1(r, 1);
        data(r, value);
    }
    Bytes &bytes() { return out_; }

  private:
    Layout l_;
    ConfigCrc crc_;
    Bytes out_;
};

// Spartan-3A: dummy words, then its sync, the one 16-bit word 0xAA99.
void put_preamble16(Bytes &out)
{
    for (int i = 0; i < 8; i++)
        put_be(out, 0xFFFF, 2);
    put_be(out, 0xAA99, 2);
}

// UltraScale registers and commands.
constexpr uint32_t kFar = 0x01, kFdri = 0x02, kCtl0 = 0x05, kMask = 0x06,
                   kCor0 = 0x09, kMfwr = 0x0A, kCor1 = 0x0E, kWbstar = 0x10,
                   kTimer = 0x11, kReg13 = 0x13, kCtl1 = 0x18, kSlrNext = 0x1E;
constexpr uint32_t kNull = 0x0, kWcfg = 0x1, kMfw = 0x2, kDghigh = 0x3,
                   kStart = 0x5, kRcrc = 0x7, kSwitch = 0x9, kGrestore = 0xA,
                   kShutdown = 0xB, kDesync = 0xD;
// The last frame address of the vendor's streams' tail.
constexpr uint32_t kFarEnd = 0x07FC0000;

void noops(Packets &p, int n)
{
    for (int i = 0; i < n; i++)
        p.noop();
}

void put_padding(Bytes &out)
{
    for (int i = 0; i < 16; i++)
        put_word(out, 0xFFFFFFFF);
    put_word(out, 0x000000BB); // bus-width detection
    put_word(out, 0x11220044);
    put_word(out, 0xFFFFFFFF);
    put_word(out, 0xFFFFFFFF);
    put_word(out, 0xAA995566); // sync
}

// One group: FAR, WCFG, the frames through FDRI, MFW, then FAR and MFWR
// pairs of 7 and 14 dummy words, as compressed streams repeat frames.
void frame_group(Packets &p, uint32_t far, size_t frames, size_t frame_words,
                 bool type2, uint32_t &seed)
{
    p.reg(kFar, far);
    p.command(kWcfg);
    p.noop();
    const size_t words = frames * frame_words;
    if (type2) {
        p.write1(kFdri, 0);
        p.word(0x50000000u | static_cast<uint32_t>(words));
    } else {
        p.write1(kFdri, static_cast<uint32_t>(words));
    }
    for (size_t i = 0; i < words; i++) {
        seed = seed * 1664525u + 1013904223u;
        p.data(kFdri, seed);
    }
    p.command(kMfw);
    for (uint32_t n : {7u, 14u}) {
        far += 0x100;
        p.reg(kFar, far);
        p.write1(kMfwr, n);
        for (uint32_t i = 0; i < n; i++)
            p.data(kMfwr, 0);
    }
}

// One SLR's stream of n frames (plan.frames, if given); `level` counts the
// SLRs before it.
Bytes ultrascale_slr(const StreamPlan &plan, size_t level, size_t n)
{
    const Layout l = layout_of(plan.family);
    const size_t frame_words = plan.family == Family::UltraScale ? 123 : 93;
    Packets p(l);
    Bytes &out = p.bytes();
    put_padding(out);
    noops(p, 1);
    p.reg(kTimer, 0);
    p.reg(kWbstar, 0);
    p.command(kNull);
    noops(p, 1);
    p.command(kRcrc);
    noops(p, 2);
    p.reg(kFar, 0);
    p.reg(kReg13, 0);
    p.reg(kCor0, 0x38003FE5);
    p.reg(kCor1, 0x00400000);
    if (plan.write_idcode)
        p.idcode(level == 0 ? plan.idcode : plan.slaves[level - 1]);
    p.command(kSwitch);
    noops(p, 1);
    p.reg(kMask, 0x00000001);
    p.reg(kCtl0, 0x00000101);
    p.reg(kMask, 0);
    p.reg(kCtl1, 0);
    noops(p, 8);
    // Most frames in one type-2 write, up to two in type-1 writes of one.
    const size_t frames = plan.frames ? plan.frames : std::max<size_t>(2, n);
    const size_t first = frames - std::min<size_t>(2, frames / 3);
    uint32_t seed = 0x5A5A0000u + static_cast<uint32_t>(level);
    frame_group(p, 0, first, frame_words, true, seed);
    for (size_t g = first; g < frames; g++)
        frame_group(p, static_cast<uint32_t>(g) << 12, 1, frame_words, false,
                    seed);
    p.command(kNull);
    noops(p, 1);
    p.crc_write();
    p.command(kGrestore);
    noops(p, 1);
    p.command(kDghigh);
    noops(p, 2);
    p.reg(kCtl1, 0);
    if (plan.cut_before_start)
        return out;
    p.command(kStart);
    noops(p, 1);
    p.reg(kFar, kFarEnd);
    p.reg(kMask, 0x00000101);
    p.reg(kCtl0, 0x00000101);
    p.crc_write();
    noops(p, 2);
    p.command(kDesync);
    noops(p, 16);
    if (level < plan.slaves.size()) {
        const Bytes next = ultrascale_slr(plan, level + 1, n);
        put_word(out, 0xFFFFFFFF);
        put_word(out, 0xAA995566); // sync
        noops(p, 1);
        p.command(kShutdown);
        noops(p, 1);
        p.command(kRcrc);
        noops(p, 1);
        p.write1(kSlrNext, 0);
        p.word(0x50000000u | static_cast<uint32_t>(next.size() / 4));
        for (size_t i = 0; i + 4 <= next.size(); i += 4)
            p.data(kSlrNext, static_cast<uint32_t>(next[i]) << 24 |
                                 static_cast<uint32_t>(next[i + 1]) << 16 |
                                 static_cast<uint32_t>(next[i + 2]) << 8 |
                                 next[i + 3]);
        noops(p, 2);
        p.command(kDesync);
        noops(p, 16);
    }
    return out;
}

} // namespace

std::vector<uint32_t> vu9p_slaves()
{
    return {0x04B22093, 0x04B24093};
}

Bytes family_stream(const StreamPlan &plan)
{
    if (plan.family == Family::UltraScale ||
        plan.family == Family::UltraScalePlus) {
        // As many frames as keep each SLR's stream within plan.size.
        const size_t frame_bytes =
            plan.family == Family::UltraScale ? 123 * 4 : 93 * 4;
        size_t n = plan.size > 1000 ? (plan.size - 1000) / frame_bytes : 0;
        StreamPlan one = plan;
        one.slaves.clear();
        while (!plan.frames && n > 2 &&
               ultrascale_slr(one, 0, n).size() > plan.size)
            n--;
        Bytes out = ultrascale_slr(plan, 0, n);
        if (plan.flip_bit >= 0)
            flip_bit(out, static_cast<uint64_t>(plan.flip_bit));
        return out;
    }
    const Layout l = layout_of(plan.family);
    Packets p(l);
    Bytes &out = p.bytes();
    if (plan.family == Family::Spartan3A)
        put_preamble16(out);
    else
        put_preamble(out);
    p.noop();
    p.command(0x7); // reset CRC
    if (plan.write_idcode)
        p.idcode(plan.idcode);
    // Auto-CRC, two CRC writes, START, DESYNC and four no-ops follow the
    // frames.
    const size_t crc_write = l.word_bytes == 2 ? 3 : 2;
    const size_t tail = (l.auto_crc_words + 2 * crc_write + 8) * l.word_bytes;
    const size_t head = out.size() + 3u * l.word_bytes;
    const size_t words =
        plan.size > head + tail ? (plan.size - head - tail) / l.word_bytes : 0;
    p.frames(words);
    p.crc_write();
    if (!plan.cut_before_start) {
        p.command(0x5); // start-up
        p.crc_write();
        p.command(0xD); // desync
        for (int i = 0; i < 4; i++)
            p.noop();
    }
    if (plan.flip_bit >= 0)
        flip_bit(out, static_cast<uint64_t>(plan.flip_bit));
    return out;
}

void flip_bit(Bytes &stream, uint64_t bit)
{
    if (bit / 8 < stream.size())
        stream[bit / 8] ^= static_cast<uint8_t>(0x80u >> (bit % 8));
}

Bytes mirrored(const Bytes &bytes)
{
    Bytes out;
    out.reserve(bytes.size());
    for (uint8_t b : bytes) {
        uint8_t r = 0;
        for (int bit = 0; bit < 8; bit++)
            if (b & (1u << bit))
                r |= static_cast<uint8_t>(0x80u >> bit);
        out.push_back(r);
    }
    return out;
}

bool write_file(const std::string &path, const Bytes &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace bitgen
