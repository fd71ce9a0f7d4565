// Finding the ID code a bitstream writes: per family word size and
// registers, spelled out word by word.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "xilinx/parts.h"
#include "xilinx/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t xc3s500e = 0x41C22093, xc3s200a = 0x02218093,
               xc6slx9 = 0x04001093, xc7a35t = 0x0362D093;

// Words of the given size, most significant byte first, as in the file.
Bytes words(std::initializer_list<uint32_t> ws, int size)
{
    Bytes out;
    for (uint32_t w : ws)
        for (int i = size - 1; i >= 0; i--)
            out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Dummy words, bus-width pattern, then sync.
const Bytes preamble = words(
    {0xFFFFFFFF, 0xFFFFFFFF, 0x000000BB, 0x11220044, 0xFFFFFFFF, 0xAA995566},
    4);

struct Case {
    const char *name;
    uint32_t device;
    Bytes stream;
    int found;
    uint32_t code;
};

std::vector<Case> cases()
{
    // 32-bit packets: no-op, RCRC command, then the ID code write.
    const Bytes rcrc32 = words({0x20000000, 0x30008001, 0x00000007}, 4);
    const Bytes fdri32 = words({0x30004000, 0x50000010}, 4);
    return {
        {"spartan3e", xc3s500e,
         cat({preamble, rcrc32, words({0x3001C001, 0x01C22093}, 4), fdri32}), 1,
         0x01C22093},
        // Spartan-3A's logic is 16-bit, its sync the one word 0xAA99; 3AN
        // and 3A DSP share it.
        {"spartan3a_other_part", xc3s200a,
         words({0xFFFF, 0xAA99, 0x2000, 0x30A1, 0x0007, 0x31C2, 0x0221, 0x0093},
               2),
         1, 0x02210093},
        {"spartan3an", 0x02618093,
         words({0xFFFF, 0xAA99, 0x2000, 0x31C2, 0x0261, 0x8093}, 2), 1,
         0x02618093},
        {"spartan3a_dsp", 0x03840093,
         words({0xFFFF, 0xAA99, 0x2000, 0x31C2, 0x0384, 0x0093}, 2), 1,
         0x03840093},
        {"spartan3e_stream_on_spartan3a", xc3s200a,
         cat({preamble, rcrc32, words({0x3001C001, 0x02218093}, 4)}), 0, 0},
        {"series7", xc7a35t,
         cat({preamble, rcrc32, words({0x30018001, 0x0362D093}, 4), fdri32}), 1,
         0x0362D093},
        // Register 0x0E of a 7-series stream is COR1, not an ID code.
        {"series7_cor1_is_no_idcode", xc7a35t,
         cat({preamble, words({0x3001C001, 0x0362D093}, 4), fdri32}), 0, 0},
        {"spartan6", xc6slx9,
         cat({words({0xFFFF, 0xAA99, 0x5566, 0x2000, 0x30A1, 0x0007, 0x31C2,
                     0x0400, 0x1093},
                    2)}),
         1, 0x04001093},
        // A 16-bit stream read by the 32-bit rules finds nothing.
        {"spartan6_stream_on_spartan3e", xc3s500e,
         cat({words({0xFFFF, 0xAA99, 0x5566, 0x2000, 0x31C2, 0x0400, 0x1093},
                    2)}),
         0, 0},
        {"frame_data_first", xc3s500e,
         cat({preamble, fdri32, words({0x3001C001, 0x01C22093}, 4)}), 0, 0},
        {"type1_frame_data_first", xc3s500e,
         cat({preamble, words({0x30004002, 0, 0, 0x3001C001, 0x01C22093}, 4)}),
         0, 0},
        {"no_sync", xc3s500e, words({0x3001C001, 0x01C22093}, 4), 0, 0},
        {"cut_inside_the_code", xc3s500e,
         cat({preamble, words({0x3001C001}, 4), Bytes{0x01, 0xC2}}), 0, 0},
        {"unknown_family", 0x0A001093,
         cat({preamble, words({0x3001C001, 0x01C22093}, 4)}), 0, 0},
        // A packet claiming more words than the stream holds.
        {"count_past_the_end", xc3s500e,
         cat({preamble, words({0x300087FF, 0}, 4)}), 0, 0},
    };
}

int find(Bytes stream, uint32_t device, uint32_t *code)
{
    return stream_find_idcode(stream.data(),
                              static_cast<uint32_t>(stream.size()),
                              parts_family(device), code);
}

class StreamIdcode : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(StreamIdcode, FindsTheIdCodeWriteOfTheDevicesFamilyOnly)
{
    const Case &c = GetParam();
    uint32_t code = 0xDEADBEEF;
    EXPECT_EQ(find(c.stream, c.device, &code), c.found);
    if (c.found) {
        EXPECT_EQ(code, c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, StreamIdcode, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return info.param.name; });

TEST(StreamIdcode, GivesUpAfterAFewHundredWordsOfPackets)
{
    Bytes far = preamble;
    for (int i = 0; i < 600; i++) {
        Bytes noop = words({0x20000000}, 4);
        far.insert(far.end(), noop.begin(), noop.end());
    }
    Bytes id = words({0x3001C001, 0x01C22093}, 4);
    Bytes near = far;
    near.insert(near.begin() + static_cast<long>(preamble.size()), id.begin(),
                id.end());
    far.insert(far.end(), id.begin(), id.end());
    uint32_t code = 0;
    EXPECT_EQ(find(near, xc3s500e, &code), 1);
    EXPECT_EQ(find(far, xc3s500e, &code), 0);
}
