// ftdi_read_data hands back what a bulk read brought beyond the count
// asked for on later calls, before it reads again. Checks Debian's libftdi
// on the host and the simulator's own front in cross builds alike.
#include <gtest/gtest.h>

#include "bench.h"

using tapsim::Scenario;
using tapsim::Variant;

namespace {

size_t bulk_reads()
{
    size_t n = 0;
    for (const auto &t : tapsim::record().bulk)
        n += t.in ? 1 : 0;
    return n;
}

// Loopback on: the n pattern bytes shifted out come back as the answer.
Bytes echo(Bench &b, size_t n, uint8_t seed)
{
    Bytes pattern(n);
    for (size_t i = 0; i < n; ++i)
        pattern[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
    const Bytes cmd = {0x84, 0x39, static_cast<uint8_t>((n - 1) & 0xFF),
                       static_cast<uint8_t>((n - 1) >> 8)};
    EXPECT_EQ(b.write(cat({cmd, pattern, {0x87}})), static_cast<int>(n + 5));
    return pattern;
}

Bytes read_call(Bench &b, int n, int expect)
{
    Bytes out(static_cast<size_t>(n), 0xEE);
    EXPECT_EQ(ftdi_read_data(&b.ctx, out.data(), n), expect);
    out.resize(expect > 0 ? static_cast<size_t>(expect) : 0);
    return out;
}

Bytes part(const Bytes &b, size_t from, size_t n)
{
    return Bytes(b.begin() + from, b.begin() + from + n);
}

} // namespace

TEST(ReadSurplus, IsServedWithoutAnotherBulkRead)
{
    for (Variant v : {Variant::FullSpeed, Variant::HighSpeed}) {
        SCOPED_TRACE(v == Variant::FullSpeed ? "full speed" : "high speed");
        Scenario s;
        s.variant = v;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        ASSERT_EQ(b.write(Bench::setup()), 10);
        // Several packets of either size, one bulk read, as much as the
        // chip buffers.
        const size_t n = v == Variant::FullSpeed ? 384 : 1000;
        const Bytes sent = echo(b, n, 0x21);
        EXPECT_EQ(read_call(b, 3, 3), part(sent, 0, 3));
        EXPECT_EQ(bulk_reads(), 1u);
        const int most = static_cast<int>(n - 103);
        EXPECT_EQ(read_call(b, most, most), part(sent, 3, n - 103));
        EXPECT_EQ(read_call(b, 97, 97), part(sent, n - 100, 97));
        EXPECT_EQ(read_call(b, 3, 3), part(sent, n - 3, 3));
        EXPECT_EQ(bulk_reads(), 1u);
        // Drained: the next call reads again and gets only status bytes.
        EXPECT_EQ(read_call(b, 1, 0), Bytes{});
        EXPECT_EQ(bulk_reads(), 2u);
    }
}

TEST(ReadSurplus, ComesFirstWhenACallNeedsMore)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    ASSERT_EQ(b.write(Bench::setup()), 10);
    const Bytes first = echo(b, 10, 0x40);
    EXPECT_EQ(read_call(b, 4, 4), part(first, 0, 4));
    const Bytes second = echo(b, 10, 0x90);
    // Six left over, then six of the new answer; four of it stay behind.
    EXPECT_EQ(read_call(b, 12, 12),
              cat({part(first, 4, 6), part(second, 0, 6)}));
    EXPECT_EQ(bulk_reads(), 2u);
    EXPECT_EQ(read_call(b, 8, 4), part(second, 6, 4));
    EXPECT_EQ(bulk_reads(), 3u);
}
