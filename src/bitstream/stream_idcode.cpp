#include "bitstream/stream_idcode.h"

#include <stddef.h>

#include <algorithm>

#include "bitstream/bitfile.h"

namespace {

// How packets look in one family: word size, header fields, registers.
struct Family {
    unsigned char id;        // ID code bits 27:21
    unsigned char word_size; // bytes
    unsigned char idcode_reg;
    unsigned char fdri_reg; // frame data input
};

// Bits 27:21 pick the row, never the stream's contents: register 0x0E is
// the ID code on Spartan-3E/3A but COR1 on 7-series.
const Family families[] = {
    {0x0E, 4, 0x0E, 0x02}, // Spartan-3E
    {0x11, 4, 0x0E, 0x02}, // Spartan-3A
    {0x1B, 4, 0x0C, 0x02}, // 7-series
    {0x20, 2, 0x0E, 0x03}, // Spartan-6
};

// Past the sync word, the ID code write comes within a few dozen words in
// every bitstream the vendor tools write.
const uint32_t walk_limit_words = 512;

const Family *family_of(uint32_t idcode)
{
    unsigned id = (idcode >> 21) & 0x7F;
    const Family *end = families + sizeof families / sizeof families[0];
    const Family *f = std::find_if(
        families, end, [id](const Family &r) { return r.id == id; });
    return f == end ? nullptr : f;
}

struct Header {
    unsigned type;
    unsigned op;
    unsigned reg;
    uint32_t count;
};

uint32_t word_at(const unsigned char *p, unsigned size)
{
    uint32_t w = 0;
    for (unsigned i = 0; i < size; i++)
        w = w << 8 | p[i];
    return w;
}

Header decode(uint32_t w, const Family &f)
{
    // 32-bit: [31:29] type, [28:27] op, [26:13] register, [10:0] count.
    // 16-bit: [15:13] type, [12:11] op, [10:5] register, [4:0] count.
    if (f.word_size == 4)
        return {w >> 29, (w >> 27) & 3, (w >> 13) & 0x3FFF, w & 0x7FF};
    return {w >> 13, (w >> 11) & 3, (w >> 5) & 0x3F, w & 0x1F};
}

// Offset just past the first sync word 0xAA995566, or 0 if there is none.
size_t after_sync(const unsigned char *data, uint32_t length)
{
    for (size_t i = 0; i + 4 <= length; i++)
        if (data[i] == 0xAA && data[i + 1] == 0x99 && data[i + 2] == 0x55 &&
            data[i + 3] == 0x66)
            return i + 4;
    return 0;
}

} // namespace

int bitstream_find_idcode(const struct BitstreamInfo *info,
                          uint32_t device_idcode, uint32_t *code)
{
    const unsigned char *data = info->data;
    const uint32_t length = info->length;
    const Family *f = family_of(device_idcode);
    size_t pos = after_sync(data, length);
    if (!f || pos == 0)
        return 0;
    const unsigned size = f->word_size;
    const uint32_t id_words = 4 / size;
    for (uint32_t walked = 0; walked < walk_limit_words; walked++) {
        if (length - pos < size)
            return 0;
        Header h = decode(word_at(data + pos, size), *f);
        pos += size;
        if (h.type != 1)
            return 0; // type 2 carries frame data; anything else is foreign
        if (h.op == 2 && h.reg == f->idcode_reg && h.count == id_words) {
            if (length - pos < 4)
                return 0;
            // High half first in the 16-bit family, so the bytes read the
            // same either way.
            *code = word_at(data + pos, 4);
            return 1;
        }
        if (h.op == 2 && h.reg == f->fdri_reg && h.count > 0)
            return 0;
        if (length - pos < (size_t)h.count * size)
            return 0;
        pos += (size_t)h.count * size;
    }
    return 0;
}
