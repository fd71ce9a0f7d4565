#include "bitfile_writer.h"

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
    size_t tail_bytes = 6 * 4;
    size_t head_bytes = out.size() + 8;
    size_t frame_words = size > head_bytes + tail_bytes
                             ? (size - head_bytes - tail_bytes) / 4
                             : 0;
    put_word(out, write1(reg_fdri, 0));
    put_word(out, (2u << 29) | (2u << 27) |
                      static_cast<uint32_t>(frame_words & 0x07FFFFFF));
    for (size_t i = 0; i < frame_words; i++)
        put_word(out, 0x5A5A0000u ^ static_cast<uint32_t>(i * 2654435761u));
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
    }
    return "";
}

namespace {

// Packet layout of one family, as the configuration guides give it.
struct Layout {
    int word_bytes;
    uint32_t idcode_reg, cmd_reg, fdri_reg;
};

Layout layout_of(Family family)
{
    switch (family) {
    case Family::Spartan6:
        return {2, 0x0E, 0x05, 0x03};
    case Family::Series7:
        return {4, 0x0C, 0x04, 0x02};
    default:
        return {4, 0x0E, 0x04, 0x02};
    }
}

class Packets {
  public:
    explicit Packets(const Layout &l) : l_(l) {}

    void word(uint32_t w) { put_be(out_, w, l_.word_bytes); }
    // Type-1 write header: 001, op 10, register, word count.
    void write1(uint32_t reg, uint32_t words)
    {
        word(l_.word_bytes == 2 ? 0x3000u | reg << 5 | words
                                : 0x30000000u | reg << 13 | words);
    }
    void noop() { word(l_.word_bytes == 2 ? 0x2000u : 0x20000000u); }
    void command(uint32_t code)
    {
        write1(l_.cmd_reg, 1);
        word(code);
    }
    void idcode(uint32_t code)
    {
        if (l_.word_bytes == 2) { // two words, high half first
            write1(l_.idcode_reg, 2);
            word(code >> 16);
            word(code & 0xFFFF);
        } else {
            write1(l_.idcode_reg, 1);
            word(code);
        }
    }
    // Frame data: a type-2 packet carries the long count.
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
            word(l_.word_bytes == 2 ? x >> 16 : x);
        }
    }
    Bytes &bytes() { return out_; }

  private:
    Layout l_;
    Bytes out_;
};

} // namespace

Bytes family_stream(const StreamPlan &plan)
{
    const Layout l = layout_of(plan.family);
    Packets p(l);
    Bytes &out = p.bytes();
    put_preamble(out);
    p.noop();
    p.command(0x7); // reset CRC
    if (plan.write_idcode)
        p.idcode(plan.idcode);
    // Start, desync and four no-ops follow the frames.
    const size_t tail = 8u * l.word_bytes;
    const size_t head = out.size() + 3u * l.word_bytes;
    const size_t words =
        plan.size > head + tail ? (plan.size - head - tail) / l.word_bytes : 0;
    p.frames(words);
    if (plan.cut_before_start)
        return out;
    p.command(0x5); // start-up
    p.command(0xD); // desync
    for (int i = 0; i < 4; i++)
        p.noop();
    return out;
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
