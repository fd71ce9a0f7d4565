#include "xilinx/stat.h"

#include <stdio.h>

void stat_hex(const struct XilinxFamily *family, uint32_t value, char out[9])
{
    static const char digit[] = "0123456789abcdef";
    const unsigned n = family_word_bits(family) / 4;
    for (unsigned i = 0; i < n; i++)
        out[i] = digit[(value >> (4 * (n - 1 - i))) & 0xF];
    out[n] = '\0';
}

void stat_describe(const struct XilinxFamily *f, uint32_t value, char *out,
                   size_t size)
{
    size_t used = 0;
    out[0] = '\0';
    for (int bit = f ? (int)f->stat_named_bits - 1 : -1; bit >= 0; bit--) {
        const char *name = f->stat_names[bit];
        if (!name)
            continue;
        const int top = bit;
        while (bit > 0 && f->stat_names[bit - 1] == name)
            bit--;
        const uint32_t field = (value >> bit) & ((2U << (top - bit)) - 1);
        if (field == 0 || used >= size)
            continue;
        const char *sep = used ? " " : "";
        int n = top == bit
                    ? snprintf(out + used, size - used, "%s%s", sep, name)
                    : snprintf(out + used, size - used, "%s%s=%lu", sep, name,
                               (unsigned long)field);
        used += n > 0 ? (size_t)n : 0;
    }
    if (used == 0)
        snprintf(out, size, "none");
}

bool stat_readable(const struct XilinxFamily *family, uint32_t value)
{
    const unsigned bits = family_word_bits(family);
    const uint32_t all = bits >= 32 ? 0xFFFFFFFFU : (1U << bits) - 1;
    return value != 0 && value != all;
}

bool stat_has_error(const struct XilinxFamily *f, uint32_t value)
{
    return f && (value & (f->crc_error | f->id_error | f->dec_error |
                          f->key_error | f->bad_packet)) != 0;
}

const char *stat_cause(const struct XilinxFamily *f, uint32_t value)
{
    if (f) {
        if (value & f->crc_error)
            return "CRC error: the bitstream arrived corrupted";
        if (value & f->id_error)
            return "ID code error: the bitstream is for another part";
        if (value & f->dec_error)
            return "decryption error: wrong or missing key";
        if (value & f->key_error)
            return "the bitstream's key or authentication was refused";
        if (value & f->bad_packet)
            return "the bitstream holds a packet the device cannot parse";
        if (!(value & f->done) && !(value & f->lock))
            return "start-up waits for a clock to lock";
        if (!(value & f->done) && f->dci_match && !(value & f->dci_match))
            return "start-up waits for DCI to match";
    }
    return "no bitstream was received since it was cleared";
}
