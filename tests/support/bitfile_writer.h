// Writer of .bit files for the tests, the demo and the fuzz corpus.
#ifndef TAPLINE_TESTS_BITFILE_WRITER_H
#define TAPLINE_TESTS_BITFILE_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace bitgen {

using Bytes = std::vector<uint8_t>;

// The 13-byte magic that starts every bit file.
Bytes magic();

// Appends one field: key, big-endian length (4 bytes for 'e', else 2), value.
void put_field(Bytes &out, char key, const Bytes &value);

// Appends a text field; the length counts the terminating zero, as tools
// that write bit files do.
void put_text(Bytes &out, char key, const std::string &text);

struct Header {
    std::string design = "blinky.ncd;UserID=0xFFFFFFFF";
    std::string part = "3s500efg320";
    std::string date = "2026/12/08";
    std::string time = "20:05:18";
};

// A complete file: magic, a..d, then e with the given bitstream.
Bytes make_bitfile(const Header &header, const Bytes &bitstream);

// A plausible configuration stream of about `size` bytes (at least 64):
// dummy words, bus-width detection, the sync word 0xAA995566, a few type-1
// packets, a frame-data write padded with filler and the start-up commands.
// It is a valid Spartan-3E stream: the auto-CRC word follows the frames.
Bytes config_stream(size_t size);

enum class Family {
    Spartan3E,
    Spartan3A,
    Spartan6,
    Series7,
    UltraScale,
    UltraScalePlus
};

// A part of each family (revision 0) and its name as a header writes it.
uint32_t example_idcode(Family family);
const char *example_part(Family family);

struct StreamPlan {
    Family family = Family::Spartan3E;
    uint32_t idcode = 0x01C22093; // written by the ID code packet
    bool write_idcode = true;
    bool cut_before_start = false; // ends right before the START command
    size_t size = 4096;            // about this many bytes; frames fill it
    // Bit to invert once the CRC words are written, counted from the first
    // bit of the bitstream (the most significant bit of its first byte);
    // negative: none.
    int64_t flip_bit = -1;
    // UltraScale families only. Frames to write (0: as many as `size`
    // holds, at least two); 123 words each on UltraScale, 93 on
    // UltraScale+.
    size_t frames = 0;
    // A stacked part: the ID codes of the SLRs after the master, each
    // written a stream of its own (of `size` bytes and `frames` frames),
    // nested in the forwarding write of the one before.
    std::vector<uint32_t> slaves;
};

// The VU9P: its master's ID code, and its slave SLRs' in stream order.
constexpr uint32_t kVu9pIdcode = 0x04B31093;
std::vector<uint32_t> vu9p_slaves();

// A stream in the family's packets and word size: dummy words (and, in
// 32-bit families, bus width), sync, RCRC, the ID code write, frame data
// (type-1 FDRI and a type-2 count) with the family's auto-CRC words, a
// CRC write, START, another CRC write, DESYNC and no-ops. Spartan-6 and -3A
// use 16-bit words; Spartan-3A syncs on the one word 0xAA99.
// UltraScale and UltraScale+ streams are laid out as the vendor's
// compressed ones: padding, bus width, sync; TIMER, WBSTAR, NULL, RCRC;
// FAR, register 0x13, COR0, COR1, IDCODE, SWITCH, CTL0 and CTL1 through
// MASK; groups of [FAR, WCFG, FDRI (type-2, then type-1), MFW, FAR and
// MFWR pairs]; NULL, CRC, GRESTORE, DGHIGH, CTL1, START, FAR, CTL0, CRC,
// DESYNC and no-ops. A stacked part's master then syncs again and, after
// SHUTDOWN and RCRC, writes the next SLR's stream to register 0x1E (a
// type-1 write of no words, then a type-2 write), and desynchronises; no
// CRC covers that write, each SLR checks its own.
Bytes family_stream(const StreamPlan &plan);

// Inverts one bit, counted as StreamPlan::flip_bit counts it.
void flip_bit(Bytes &stream, uint64_t bit);

// Every byte with its bit order reversed.
Bytes mirrored(const Bytes &bytes);

// Writes bytes to path; false on failure.
bool write_file(const std::string &path, const Bytes &bytes);

} // namespace bitgen

#endif
