#include "xilinx/stream.h"

#include <stddef.h>

#include <algorithm>

namespace {

// Past the sync word, the ID code write comes within a few dozen words in
// every bitstream the vendor tools write.
const uint32_t walk_limit_words = 512;

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

Header decode(uint32_t w, const XilinxFamily &f)
{
    // 32-bit: [31:29] type, [28:27] op, [26:13] register, [10:0] count.
    // 16-bit: [15:13] type, [12:11] op, [10:5] register, [4:0] count.
    if (f.word_bytes == 4)
        return {w >> 29, (w >> 27) & 3, (w >> 13) & 0x3FFF, w & 0x7FF};
    return {w >> 13, (w >> 11) & 3, (w >> 5) & 0x3F, w & 0x1F};
}

// Offset just past the first sync word (0xAA995566, or its first half
// alone), or 0 if there is none.
size_t after_sync(const unsigned char *data, uint32_t length, unsigned size)
{
    static const unsigned char sync[] = {0xAA, 0x99, 0x55, 0x66};
    for (size_t i = 0; i + size <= length; i++)
        if (std::equal(sync, sync + size, data + i))
            return i + size;
    return 0;
}

} // namespace

uint32_t stream_sync_end(const unsigned char *data, uint32_t length,
                         const struct XilinxFamily *f)
{
    return f ? (uint32_t)after_sync(data, length, f->sync_bytes) : 0;
}

int stream_find_idcode(const unsigned char *data, uint32_t length,
                       const struct XilinxFamily *f, uint32_t *code)
{
    if (!f)
        return 0;
    size_t pos = after_sync(data, length, f->sync_bytes);
    if (pos == 0)
        return 0;
    const unsigned size = f->word_bytes;
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
