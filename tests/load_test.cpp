// The load command: what goes on the wire around and between the chunks,
// what the FPGA receives, and that bad input sends nothing.
#include "tool_fixture.h"

#include <unistd.h>

#include "bitfile_writer.h"
#include "bitstream/loader.h"

using tapsim::Scenario;
using tapsim::TapState;

namespace {

const uint32_t chunk = 65532;

// Clear, configuration-in, then on to Shift-DR.
Writes prepare_writes()
{
    return concat({reset_writes(), ir_writes(0x0B), ir_writes(0x05),
                   to_shift_dr_writes()});
}

// Out of Shift-DR, start-up, 32 idle clocks, reset.
Writes start_writes()
{
    return concat({{tms(1), tms(1), tms(0)},
                   ir_writes(0x0C),
                   Writes(32, tms(0)),
                   reset_writes()});
}

class TempFile {
  public:
    explicit TempFile(const Bytes &bytes)
    {
        char name[] = "/tmp/tapline-load-XXXXXX.bit";
        int fd = mkstemps(name, 4);
        if (fd >= 0)
            close(fd);
        path_ = name;
        EXPECT_TRUE(bitgen::write_file(path_, bytes));
    }
    ~TempFile() { unlink(path_.c_str()); }
    const char *path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// A bitstream of exactly n bytes, starting with the sync word when there
// is room for it.
Bytes stream_of(size_t n)
{
    Bytes s = bitgen::config_stream(64);
    s.resize(n);
    for (size_t i = 64; i < n; i++)
        s[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return s;
}

} // namespace

class LoadTest : public ToolTest {
  protected:
    Captured load(const char *path, int argc = 3)
    {
        return capture([&] { return load_command(&ftdi_, buf_, argc, path); });
    }
};

TEST_F(LoadTest, ChunksAreFramedAtEveryBoundary)
{
    for (uint32_t length : {1u, 100u, chunk - 1, chunk, chunk + 1, 2 * chunk}) {
        start(Scenario());
        open_adapter();
        Bytes stream = stream_of(length);
        TempFile file(bitgen::make_bitfile({}, stream));
        Captured c = load(file.path());
        ASSERT_EQ(c.result, 0) << length << c.err;

        std::vector<Bytes> w = written();
        std::vector<Bytes> before = prepare_writes(), after = start_writes();
        uint32_t full = length / chunk, last = length % chunk;
        size_t chunks = full + (last ? 1 : 0);
        ASSERT_EQ(w.size(), before.size() + chunks + after.size()) << length;
        EXPECT_EQ(std::vector<Bytes>(w.begin(), w.begin() + before.size()),
                  before);
        EXPECT_EQ(std::vector<Bytes>(w.end() - after.size(), w.end()), after);

        Bytes mirrored = bitgen::mirrored(stream);
        for (size_t i = 0; i < chunks; i++) {
            const Bytes &cmd = w[before.size() + i];
            uint32_t n = i < full ? chunk : last;
            ASSERT_EQ(cmd.size(), n + 3) << length << " chunk " << i;
            EXPECT_EQ(cmd[0], 0x19);
            EXPECT_EQ(cmd[1], (n - 1) & 0xFF);
            EXPECT_EQ(cmd[2], (n - 1) >> 8);
            EXPECT_TRUE(std::equal(cmd.begin() + 3, cmd.end(),
                                   mirrored.begin() + i * chunk))
                << length << " chunk " << i;
        }
        // The FPGA saw the file's bytes, MSB first, and one 0 bit from the
        // clock that leaves Shift-DR.
        EXPECT_EQ(rec().config_bits, 8ull * length + 1) << length;
        Bytes expect = stream;
        expect.push_back(0);
        EXPECT_EQ(rec().config_data, expect) << length;
        EXPECT_EQ(final_state(), TapState::RunTestIdle);
    }
}

TEST_F(LoadTest, SendsMirroredBytes)
{
    open_adapter();
    Bytes stream = {0x01, 0xB0};
    TempFile file(bitgen::make_bitfile({}, stream));
    ASSERT_EQ(load(file.path()).result, 0);
    EXPECT_EQ(written()[prepare_writes().size()],
              Bytes({0x19, 0x01, 0x00, 0x80, 0x0D}));
}

TEST_F(LoadTest, PrintsTheHeaderAndStartsTheFpga)
{
    open_adapter();
    bitgen::Header h;
    TempFile file(bitgen::make_bitfile(h, bitgen::config_stream(100000)));
    Captured c = load(file.path());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out, "Bitstream information:\n"
                     "\tDesign: " +
                         h.design +
                         "\n"
                         "\tPart name: " +
                         h.part +
                         "\n"
                         "\tDate: " +
                         h.date +
                         "\n"
                         "\tTime: " +
                         h.time +
                         "\n"
                         "\tBitstream length: 100000\n");
    EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x0B, 0x05, 0x0C}));
    EXPECT_TRUE(rec().sync_seen);
    EXPECT_TRUE(rec().done);
}

TEST_F(LoadTest, ABitMirroredFileLeavesTheFpgaUnstarted)
{
    open_adapter();
    Bytes stream = bitgen::mirrored(bitgen::config_stream(100000));
    TempFile file(bitgen::make_bitfile({}, stream));
    EXPECT_EQ(load(file.path()).result, 0);
    EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x0B, 0x05, 0x0C}));
    EXPECT_FALSE(rec().sync_seen);
    EXPECT_FALSE(rec().done);
}

TEST_F(LoadTest, MissingTextsPrintEmpty)
{
    open_adapter();
    Bytes bytes = bitgen::magic();
    bitgen::put_text(bytes, 'b', "7a35t");
    bitgen::put_field(bytes, 'e', {0xAA, 0x99, 0x55, 0x66});
    TempFile file(bytes);
    Captured c = load(file.path());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Bitstream information:\n\tDesign: \n\tPart name: 7a35t\n"
                     "\tDate: \n\tTime: \n\tBitstream length: 4\n");
}

TEST_F(LoadTest, AFailedChunkStopsBeforeStartUp)
{
    // Bulk writes: set-up, probe, 25 TAP writes, then 16 per full chunk
    // (libftdi sends 4096 bytes at a time); the 60th is in chunk 2.
    Scenario s;
    s.faults.short_write = 60;
    start(s);
    open_adapter();
    TempFile file(bitgen::make_bitfile({}, stream_of(3 * chunk + 10)));
    Captured c = load(file.path());
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Ftdi write failed 2\n");
    EXPECT_EQ(write_log().size(), prepare_writes().size() + 3);
    EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x0B, 0x05}));
    EXPECT_EQ(final_state(), TapState::ShiftDR);
    EXPECT_FALSE(rec().done);

    Scenario last;
    last.faults.error_write = 2 + 25 + 16 + 1; // the final chunk
    start(last);
    open_adapter();
    TempFile small(bitgen::make_bitfile({}, stream_of(chunk + 5)));
    c = load(small.path());
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Ftdi write failed last\n");
    EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x0B, 0x05}));
}

TEST_F(LoadTest, BadInputSendsNothing)
{
    Bytes bad_magic = bitgen::make_bitfile({}, stream_of(100));
    bad_magic[5] ^= 0x10;
    Bytes truncated = bitgen::make_bitfile({}, stream_of(100));
    truncated.resize(truncated.size() - 1);
    Bytes empty = bitgen::magic();
    bitgen::put_field(empty, 'e', {});
    struct Case {
        const char *name;
        Bytes bytes;
    } cases[] = {
        {"bad magic", bad_magic}, {"truncated", truncated}, {"empty", empty}};
    for (const Case &k : cases) {
        start(Scenario());
        open_adapter();
        TempFile file(k.bytes);
        Captured c = load(file.path());
        EXPECT_EQ(c.result, -1) << k.name;
        EXPECT_EQ(c.out, "") << k.name;
        EXPECT_EQ(c.err,
                  std::string(file.path()) + " is not a valid bit file\n")
            << k.name;
        EXPECT_TRUE(write_log().empty()) << k.name;
    }

    start(Scenario());
    open_adapter();
    Captured c = load("/nonexistent/design.bit");
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(
        c.err,
        "Can't open /nonexistent/design.bit: No such file or directory\n");
    c = load("/tmp");
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Can't read /tmp: Is a directory\n");
    EXPECT_TRUE(write_log().empty());
    c = load(nullptr, 2);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.out, "./tapline [idcode/reset/load <bitstream.bit>] \n");
    EXPECT_TRUE(write_log().empty());
}
