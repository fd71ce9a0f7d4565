#include "bench.h"

Bench::Bench(const tapsim::Scenario &s)
{
    tapsim::reset(s);
    ftdi_init(&ctx);
}

Bench::~Bench()
{
    close();
    ftdi_deinit(&ctx);
}

int Bench::open(uint16_t vid, uint16_t pid)
{
    const int r = ftdi_usb_open(&ctx, vid, pid);
    opened = r == 0;
    return r;
}

void Bench::close()
{
    // ftdi_usb_close() on a context that never opened dereferences NULL.
    if (opened)
        ftdi_usb_close(&ctx);
    opened = false;
}

int Bench::mpsse(uint8_t mask)
{
    return ftdi_set_bitmode(&ctx, mask, BITMODE_MPSSE);
}

int Bench::write(const Bytes &b)
{
    return ftdi_write_data(&ctx, const_cast<unsigned char *>(b.data()),
                           static_cast<int>(b.size()));
}

Bytes Bench::read(size_t n, int tries)
{
    Bytes out(n);
    size_t got = 0;
    last_read = 0;
    while (got < n) {
        const int r =
            ftdi_read_data(&ctx, out.data() + got, static_cast<int>(n - got));
        if (r < 0) {
            last_read = r;
            break;
        }
        if (r == 0 && --tries <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

Bytes Bench::setup()
{
    // TMS high, TCK/TDI/TMS out; ACBUS inputs; divisor 0; loopback off.
    return {0x80, 0x08, 0x0B, 0x82, 0x00, 0x00, 0x86, 0x00, 0x00, 0x85};
}

uint8_t Bench::probe()
{
    write(cat({setup(), {0x81, 0x87}}));
    const Bytes b = read(1);
    return b.empty() ? 0 : b[0];
}

Bytes Bench::idcode_after_reset()
{
    write(cat({setup(), reset_to_idle(), read_dr(32), {0x87}}));
    return mp::shift_result(read(mp::answer_size(32, true)), 32, true);
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

namespace mp {

Bytes tms(uint8_t bits, int count, bool tdi, bool read)
{
    return {static_cast<uint8_t>(read ? 0x6B : 0x4B),
            static_cast<uint8_t>(count - 1),
            static_cast<uint8_t>((bits & 0x7F) | (tdi ? 0x80 : 0))};
}

namespace {
bool bit_at(const Bytes &data, size_t i)
{
    return i / 8 < data.size() && ((data[i / 8] >> (i % 8)) & 1);
}
} // namespace

Bytes shift(const Bytes &data, size_t nbits, bool exit, bool read)
{
    Bytes out;
    const size_t body = exit ? nbits - 1 : nbits;
    size_t bytes = body / 8;
    const size_t rem = body % 8;
    size_t at = 0;
    while (bytes > 0) {
        const size_t k = bytes > 65536 ? 65536 : bytes;
        out.push_back(read ? 0x39 : 0x19); // -ve write, LSB first
        out.push_back(static_cast<uint8_t>((k - 1) & 0xFF));
        out.push_back(static_cast<uint8_t>((k - 1) >> 8));
        for (size_t i = 0; i < k; ++i, ++at)
            out.push_back(at < data.size() ? data[at] : 0);
        bytes -= k;
    }
    if (rem) {
        uint8_t b = 0;
        for (size_t i = 0; i < rem; ++i)
            if (bit_at(data, at * 8 + i))
                b = static_cast<uint8_t>(b | 1u << i);
        out.insert(out.end(), {static_cast<uint8_t>(read ? 0x3B : 0x1B),
                               static_cast<uint8_t>(rem - 1), b});
    }
    if (exit) {
        const Bytes t = tms(0x01, 1, bit_at(data, nbits - 1), read);
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

size_t answer_size(size_t nbits, bool exit)
{
    const size_t body = exit ? nbits - 1 : nbits;
    return body / 8 + (body % 8 ? 1 : 0) + (exit ? 1 : 0);
}

Bytes shift_result(const Bytes &answer, size_t nbits, bool exit)
{
    Bytes bits((nbits + 7) / 8, 0);
    const size_t body = exit ? nbits - 1 : nbits;
    const size_t bytes = body / 8, rem = body % 8;
    if (answer.size() < answer_size(nbits, exit))
        return {};
    auto put = [&](size_t i, bool v) {
        if (v)
            bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | 1u << (i % 8));
    };
    size_t i = 0;
    for (size_t k = 0; k < bytes; ++k)
        for (int j = 0; j < 8; ++j, ++i)
            put(i, (answer[k] >> j) & 1);
    // Bit-mode reads arrive in the high bits of the answer byte.
    if (rem)
        for (size_t j = 0; j < rem; ++j, ++i)
            put(i, (answer[bytes] >> (8 - rem + j)) & 1);
    if (exit)
        put(i, (answer.back() >> 7) & 1);
    return bits;
}

} // namespace mp

Bytes load_ir(uint8_t code)
{
    return cat(
        {to_shift_ir(), mp::shift({code}, 6, true, false), exit_to_idle()});
}

Bytes read_dr(size_t nbits, const Bytes &tdi)
{
    return cat(
        {to_shift_dr(), mp::shift(tdi, nbits, true, true), exit_to_idle()});
}

uint32_t le32(const Bytes &b)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < b.size(); ++i)
        v |= static_cast<uint32_t>(b[i]) << (8 * i);
    return v;
}
