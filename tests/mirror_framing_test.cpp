// Bit mirror and chunk framing: pure data transformations of the load.
#include <gtest/gtest.h>

#include <vector>

#include "bitfile_writer.h"
#include "bitstream/mirror.h"
#include "link/queue.h"

using bitgen::Bytes;

TEST(BitstreamMirror, ReversesTheBitOrderOfEveryByteAtEveryAlignment)
{
    EXPECT_EQ(bitgen::mirrored({0x01, 0xB0}), Bytes({0x80, 0x0D}));
    Bytes all(256 + 17);
    for (size_t i = 0; i < all.size(); i++)
        all[i] = static_cast<uint8_t>(i * 37 + 11);
    Bytes expected = bitgen::mirrored(all);
    // Every length and start offset around the eight-byte steps.
    for (size_t start = 0; start < 9; start++) {
        for (size_t n = 0; n + start <= all.size(); n += 1 + n / 16) {
            Bytes out(n + 1, 0xEE);
            bitstream_mirror(out.data(), all.data() + start,
                             static_cast<uint32_t>(n));
            ASSERT_EQ(
                Bytes(out.begin(), out.begin() + n),
                Bytes(expected.begin() + start, expected.begin() + start + n))
                << "start " << start << " length " << n;
            ASSERT_EQ(out[n], 0xEE) << "wrote past the end";
        }
    }
}

TEST(QueueBytesSlot, HeaderHoldsCountMinusOneLowByteFirst)
{
    struct Case {
        uint32_t n;
        uint8_t low, high;
    } cases[] = {{1, 0x00, 0x00},
                 {100, 0x63, 0x00},
                 {256, 0xFF, 0x00},
                 {257, 0x00, 0x01},
                 {65532, 0xFB, 0xFF}};
    for (const Case &c : cases) {
        Bytes data(c.n);
        for (uint32_t i = 0; i < c.n; i++)
            data[i] = static_cast<uint8_t>(i + 1);
        Bytes buf(QUEUE_BUFFER_SIZE + 1, 0xEE);
        MpsseQueue q;
        queue_init(&q, nullptr, buf.data());
        unsigned char *slot = queue_bytes_slot(&q, c.n);
        ASSERT_EQ(slot, buf.data() + 3) << c.n;
        std::copy(data.begin(), data.end(), slot);
        EXPECT_EQ(q.len, c.n + 3) << c.n;
        EXPECT_EQ(buf[0], 0x19) << c.n;
        EXPECT_EQ(buf[1], c.low) << c.n;
        EXPECT_EQ(buf[2], c.high) << c.n;
        EXPECT_EQ(Bytes(buf.begin() + 3, buf.begin() + 3 + c.n), data) << c.n;
        EXPECT_EQ(buf[c.n + 3], 0xEE) << c.n;
    }
}
