#include "jtag/stat.h"

#include <ftdi.h>
#include <stdio.h>

#include <algorithm>

#include "jtag/adapter.h"
#include "jtag/constants.h"

namespace {

// STAT bit names, indexed by bit, as the configuration guides give them.
// Fields of several bits share one name, so the same text sits at each of
// their bits.
const char mode[] = "MODE";
const char vsel[] = "VSEL";
const char startup_state[] = "STARTUP_STATE";

const char *const series7_bits[] = {
    "CRC_ERROR",   "PART_SECURED", "MMCM_LOCK",
    "DCI_MATCH",   "EOS",          "GTS_CFG_B",
    "GWE",         "GHIGH_B",      mode,
    mode,          mode,           nullptr,
    "INIT_B",      "RELEASE_DONE", "DONE",
    "ID_ERROR",    "DEC_ERROR",    "XADC_OVERTEMP",
    startup_state, startup_state,  startup_state,
};
const char *const spartan6_bits[] = {
    "CRC_ERROR", "ID_ERROR",     "DCM_LOCK", "GTS_CFG_B", "GWE", "GHIGH_B",
    "DEC_ERROR", "PART_SECURED", "HSWAPEN",  mode,        mode,  mode,
    "INIT_B",    "DONE",         "IN_PWRDN", "SWWD",
};
const char *const spartan3a_bits[] = {
    "CRC_ERROR", "ID_ERROR", "DCM_LOCK", "GTS_CFG_B",    "GWE", "GHIGH_B",
    vsel,        vsel,       vsel,       mode,           mode,  mode,
    "INIT_B",    "DONE",     "SEU_ERR",  "SYNC_TIMEOUT",
};
const char *const spartan3e_bits[] = {
    "CRC_ERROR", nullptr,  "DCM_LOCK", "DCI_MATCH", "IN_ERROR",
    "GTS_CFG_B", "GWE",    "GHIGH_B",  mode,        mode,
    mode,        "INIT_B", "DONE",     "ID_ERROR",
};

// Read requests, shifted into CFG_IN most significant bit first. The 32-bit
// families take sync, no-op, a type-1 read of STAT (0x07), two no-ops; the
// 16-bit ones dummy, sync, no-op, a type-1 read of STAT (0x08), two no-ops.
// The Spartan-3A's sync is the one word 0xAA99.
const uint32_t request32[] = {0xAA995566, 0x20000000, 0x2800E001, 0x20000000,
                              0x20000000};
const uint32_t request_spartan6[] = {0xFFFF, 0xAA99, 0x5566, 0x2000,
                                     0x2901, 0x2000, 0x2000};
const uint32_t request_spartan3a[] = {0xFFFF, 0xAA99, 0x2000,
                                      0x2901, 0x2000, 0x2000};
// DESYNC (0xD) written to the command register, then two no-ops.
const size_t desync_words = 4;
const uint32_t desync32[desync_words] = {0x30008001, 0x0000000D, 0x20000000,
                                         0x20000000};
const uint32_t desync16[desync_words] = {0x30A1, 0x000D, 0x2000, 0x2000};

struct StatFamily {
    PartFamily family;
    unsigned word_bits;
    const uint32_t *request;
    size_t request_words;
    const uint32_t *desync;
    const char *const *names;
    unsigned named_bits;
    // Bits the causes look at; 0 where the family has none.
    uint32_t crc_error, id_error, dec_error, lock, dci_match, done;
};

template <typename T, size_t N> constexpr size_t count(const T (&/*array*/)[N])
{
    return N;
}

// Columns after the bit names: CRC_ERROR, ID_ERROR, DEC_ERROR, the DCM or
// MMCM lock, DCI_MATCH, DONE.
const StatFamily stat_families[] = {
    {FAMILY_SERIES7, 32, request32, count(request32), desync32, series7_bits,
     count(series7_bits), 1U << 0, 1U << 15, 1U << 16, 1U << 2, 1U << 3,
     1U << 14},
    {FAMILY_SPARTAN3E, 32, request32, count(request32), desync32,
     spartan3e_bits, count(spartan3e_bits), 1U << 0, 1U << 13, 0, 1U << 2,
     1U << 3, 1U << 12},
    {FAMILY_SPARTAN6, 16, request_spartan6, count(request_spartan6), desync16,
     spartan6_bits, count(spartan6_bits), 1U << 0, 1U << 1, 1U << 6, 1U << 2, 0,
     1U << 13},
    {FAMILY_SPARTAN3A, 16, request_spartan3a, count(request_spartan3a),
     desync16, spartan3a_bits, count(spartan3a_bits), 1U << 0, 1U << 1, 0,
     1U << 2, 0, 1U << 13},
};

const StatFamily *stat_family(PartFamily family)
{
    const StatFamily *end = stat_families + count(stat_families);
    const StatFamily *f =
        std::find_if(stat_families, end, [family](const StatFamily &r) {
            return r.family == family;
        });
    return f == end ? nullptr : f;
}

unsigned char reverse_bits(unsigned char b)
{
    b = (unsigned char)((b >> 4) | (b << 4));
    b = (unsigned char)(((b >> 2) & 0x33) | ((b & 0x33) << 2));
    return (unsigned char)(((b >> 1) & 0x55) | ((b & 0x55) << 1));
}

struct Command {
    unsigned char *bytes;
    size_t size;
    void put(unsigned char b) { bytes[size++] = b; }
    void put3(unsigned char a, unsigned char b, unsigned char c)
    {
        put(a);
        put(b);
        put(c);
    }
};

// TMS levels (bit 0 first) and their count, for one TMS command.
struct TmsMoves {
    unsigned char levels;
    unsigned char clocks;
};

// From Shift-DR: the words, each most significant bit first, the last bit
// on the first of the moves (which leaves Shift-DR: its level is high). The
// data shifters go least significant bit first, so each byte goes
// bit-reversed; the last bit rides on the TMS command's TDI.
void put_words(Command &c, const uint32_t *words, size_t n_words,
               const StatFamily &f, TmsMoves moves)
{
    unsigned char data[32] = {}; // the longest request is 20 bytes
    size_t n = 0;
    for (size_t w = 0; w < n_words; w++)
        for (int shift = (int)f.word_bits - 8; shift >= 0; shift -= 8)
            data[n++] = reverse_bits((unsigned char)(words[w] >> shift));
    if (n == 0)
        return;
    if (n > 1) {
        c.put3(MPSSE_BYTES_OUT, (unsigned char)(n - 2), 0x00);
        for (size_t i = 0; i + 1 < n; i++)
            c.put(data[i]);
    }
    const unsigned char last = data[n - 1];
    c.put3(MPSSE_BITS_OUT, 0x06, last);
    c.put3(MPSSE_TMS_OUT, (unsigned char)(moves.clocks - 1),
           (unsigned char)((last & 0x80) | moves.levels));
}

// From Shift-IR: five instruction bits, the sixth (0) into Exit1-IR, then
// Update-IR, Select-DR-Scan, Capture-DR, Shift-DR, without resting in
// Run-Test/Idle.
void put_instruction_to_shift_dr(Command &c, unsigned char code)
{
    c.put3(MPSSE_BITS_OUT, 0x04, code);
    c.put3(MPSSE_TMS_OUT, 0x04, 0x07);
}

// Zero bits in Shift-DR; TDI is low for them.
void put_zero_bits(Command &c, unsigned bits)
{
    if (bits >= 8) {
        c.put3(MPSSE_BYTES_OUT, (unsigned char)(bits / 8 - 1), 0x00);
        for (unsigned i = 0; i < bits / 8; i++)
            c.put(0x00);
    }
    if (bits % 8)
        c.put3(MPSSE_BITS_OUT, (unsigned char)(bits % 8 - 1), 0x00);
}

void build_read(Command &c, const StatFamily &f, unsigned pad_bits)
{
    c.put3(MPSSE_TMS_OUT, 0x05, 0x1F); // TMS 1 x5, 0: Run-Test/Idle
    c.put3(MPSSE_TMS_OUT, 0x03, 0x03); // TMS 1, 1, 0, 0: Shift-IR
    put_instruction_to_shift_dr(c, INSN_CFG_IN);
    put_zero_bits(c, pad_bits);
    // Exit1-DR, then Update-DR, Select-DR, Select-IR, Capture-IR, Shift-IR:
    // resting in Run-Test/Idle here makes a Spartan-6 read back zeros.
    put_words(c, f.request, f.request_words, f, TmsMoves{0x0F, 6});
    put_instruction_to_shift_dr(c, INSN_CFG_OUT);
    const unsigned n = f.word_bits / 8;
    c.put3(MPSSE_BYTES_IO, (unsigned char)(n - 1), 0x00);
    for (unsigned i = 0; i < n; i++)
        c.put(0x00);
    // The TMS-high clock into Exit1-DR shifts one more bit, unread.
    c.put3(MPSSE_TMS_OUT, 0x05, 0x0F); // 1, 1, 1, 1, 0, 0: Shift-IR
    put_instruction_to_shift_dr(c, INSN_CFG_IN);
    // Exit1-DR, five more TMS high to Test-Logic-Reset, then Run-Test/Idle.
    put_words(c, f.desync, desync_words, f, TmsMoves{0x3F, 7});
    c.put(MPSSE_SEND_IMMEDIATE);
}

} // namespace

unsigned stat_word_bits(enum PartFamily family)
{
    const StatFamily *f = stat_family(family);
    return f ? f->word_bits : 0;
}

enum StatRead stat_read(struct ftdi_context *ftdi, unsigned char *buf,
                        enum PartFamily family, unsigned pad_bits,
                        uint32_t *value)
{
    const StatFamily *f = stat_family(family);
    if (!f)
        return STAT_READ_ERROR;
    Command c = {buf, 0};
    build_read(c, *f, pad_bits % 32);
    const int size = (int)c.size;
    if (ftdi_write_data(ftdi, buf, size) != size)
        return STAT_READ_WRITE_FAILED;
    const unsigned n = f->word_bits / 8;
    switch (adapter_read(ftdi, buf, (int)n)) {
    case ADAPTER_READ_OK:
        break;
    case ADAPTER_READ_ERROR:
        return STAT_READ_ERROR;
    case ADAPTER_READ_TIMEOUT:
        return STAT_READ_TIMEOUT;
    }
    // The register comes out most significant bit first into a shifter
    // that fills each byte from bit 0.
    uint32_t v = 0;
    for (unsigned i = 0; i < n; i++)
        v = v << 8 | reverse_bits(buf[i]);
    *value = v;
    return STAT_READ_OK;
}

void stat_hex(enum PartFamily family, uint32_t value, char out[9])
{
    static const char digit[] = "0123456789abcdef";
    const unsigned n = stat_word_bits(family) / 4;
    for (unsigned i = 0; i < n; i++)
        out[i] = digit[(value >> (4 * (n - 1 - i))) & 0xF];
    out[n] = '\0';
}

void stat_describe(enum PartFamily family, uint32_t value, char *out,
                   size_t size)
{
    const StatFamily *f = stat_family(family);
    size_t used = 0;
    out[0] = '\0';
    for (int bit = f ? (int)f->named_bits - 1 : -1; bit >= 0; bit--) {
        const char *name = f->names[bit];
        if (!name)
            continue;
        const int top = bit;
        while (bit > 0 && f->names[bit - 1] == name)
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

const char *stat_cause(enum PartFamily family, uint32_t value)
{
    const StatFamily *f = stat_family(family);
    if (f) {
        if (value & f->crc_error)
            return "CRC error: the bitstream arrived corrupted";
        if (value & f->id_error)
            return "ID code error: the bitstream is for another part";
        if (value & f->dec_error)
            return "decryption error: wrong or missing key";
        if (!(value & f->done) && !(value & f->lock))
            return "start-up waits for a clock to lock";
        if (!(value & f->done) && f->dci_match && !(value & f->dci_match))
            return "start-up waits for DCI to match";
    }
    return "no bitstream was received since it was cleared";
}
