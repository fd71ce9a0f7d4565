// The load command: what goes on the wire around and between the chunks,
// what the FPGA receives, and that bad input sends nothing.
#include "tool_fixture.h"

#include <signal.h>
#include <unistd.h>

#include "bitfile_writer.h"
#include "bitstream/bitfile.h"
#include "cli/load_command.h"
#include "temp_bit.h"

using tapsim::Scenario;
using tapsim::TapState;

namespace {

const uint32_t chunk = 65532;

// The ID code read that comes before anything is cleared.
Writes idcode_writes()
{
    return {detect_write()};
}

// Out of Shift-DR, start-up, 32 idle clocks, reset.
Writes start_writes()
{
    return concat({{tms(1), tms(1), tms(0)},
                   ir_writes(0x0C),
                   Writes(32, tms(0)),
                   reset_writes()});
}

// JSTART again, 2,000 idle clocks and reset in one write, DONE read again.
Writes retry_writes()
{
    Bytes retry = {0x4B, 0x03, 0x03, 0x1B, 0x04, 0x0C,
                   0x4B, 0x02, 0x03, 0x19, 0xF9, 0x00};
    retry.resize(retry.size() + 250, 0x00);
    retry.insert(retry.end(), {0x4B, 0x05, 0x1F});
    return {retry, capture_write(0x09)};
}

// A load's writes taken apart: every fixed step checked byte for byte,
// the INIT polls counted, the chunk commands handed back.
struct LoadWrites {
    size_t polls = 0;
    Writes chunks;
};

// retry: DONE stayed low, and the status read follows (stat_writes).
LoadWrites split_load(const Writes &w, bool retry,
                      const Writes &stat_writes = {})
{
    LoadWrites out;
    size_t at = 0;
    auto expect_run = [&](const Writes &part, const char *what) {
        EXPECT_LE(at + part.size(), w.size()) << what;
        if (at + part.size() > w.size())
            return;
        EXPECT_EQ(Writes(w.begin() + at, w.begin() + at + part.size()), part)
            << what;
        at += part.size();
    };
    expect_run(concat({idcode_writes(), reset_writes(), ir_writes(0x0B)}),
               "ID code read, clear");
    while (at < w.size() && w[at] == capture_write(0x05)) {
        ++out.polls;
        ++at;
    }
    expect_run(concat({ir_writes(0x05), to_shift_dr_writes()}),
               "configuration in");
    Writes tail = concat({start_writes(), {capture_write(0x09)}});
    // A device that did not start gets its status register read.
    if (retry)
        tail = concat({tail, retry_writes(), stat_writes});
    size_t chunks =
        w.size() >= at + tail.size() ? w.size() - at - tail.size() : 0;
    out.chunks.assign(w.begin() + at, w.begin() + at + chunks);
    at += chunks;
    expect_run(tail, "start-up and DONE check");
    return out;
}

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
        std::vector<std::string> args = {"load"};
        if (argc > 2)
            args.push_back(path);
        std::vector<char *> argv;
        ToolRun run = tool_run(args, argv);
        return capture([&] { return command_load(&run, nullptr); });
    }
};

TEST_F(LoadTest, ChunksAreFramedAtEveryBoundary)
{
    for (uint32_t length : {100u, chunk - 1, chunk, chunk + 1, 2 * chunk}) {
        start(Scenario());
        open_adapter();
        Bytes stream = bitgen::config_stream(length);
        ASSERT_EQ(stream.size(), length);
        TempBit file(bitgen::make_bitfile({}, stream));
        Captured c = load(file.path.c_str());
        ASSERT_EQ(c.result, 0) << length << c.err;

        LoadWrites w = split_load(written(), false);
        EXPECT_GE(w.polls, 1u) << length;
        uint32_t full = length / chunk, last = length % chunk;
        ASSERT_EQ(w.chunks.size(), full + (last ? 1 : 0)) << length;
        Bytes mirrored = bitgen::mirrored(stream);
        for (size_t i = 0; i < w.chunks.size(); i++) {
            const Bytes &cmd = w.chunks[i];
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
        // clock that leaves Shift-DR; nothing came while it cleared.
        EXPECT_EQ(rec().config_bits, 8ull * length + 1) << length;
        Bytes expect = stream;
        expect.push_back(0);
        EXPECT_EQ(rec().config_data, expect) << length;
        EXPECT_EQ(rec().dropped_config_bits, 0u);
        EXPECT_TRUE(rec().done);
        EXPECT_EQ(final_state(), TapState::RunTestIdle);
    }
}

TEST_F(LoadTest, SendsMirroredBytesAndReportsAStreamThatNeverStarts)
{
    open_adapter();
    bitgen::StreamPlan plan;
    plan.cut_before_start = true;
    plan.size = 200;
    const Bytes stream = bitgen::family_stream(plan);
    TempBit file(bitgen::make_bitfile({}, stream));
    Captured c = load(file.path.c_str());
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "FPGA did not start: DONE low, INIT high (IR capture "
                     "11)\nCause: no bitstream was received since it was "
                     "cleared (status register 00000d0c)\n");
    // The stream ends without its DESYNC: the load sends one after it, so
    // the logic is left unsynchronised. Its words end on a word boundary;
    // the clock out of Shift-DR adds one bit, and 31 zeros finish that word
    // ahead of the first read, which the logic ignores; then the whole one.
    LoadWrites w = split_load(
        written(), true,
        {stat_probe_write(true, 31), stat_read_write(stat_request32, true)});
    Bytes chunk = {0x19, uint8_t((stream.size() - 1) & 0xFF),
                   uint8_t((stream.size() - 1) >> 8)};
    const Bytes mirrored = bitgen::mirrored(stream);
    chunk.insert(chunk.end(), mirrored.begin(), mirrored.end());
    const Bytes desync = {0x19, 0x0F, 0x00, 0x0C, 0x00, 0x01, 0x80,
                          0x00, 0x00, 0x00, 0xB0, 0x04, 0x00, 0x00,
                          0x00, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(w.chunks, Writes({chunk, desync}));
}

TEST_F(LoadTest, PrintsTheHeaderAndStartsTheFpga)
{
    open_adapter();
    bitgen::Header h;
    TempBit file(bitgen::make_bitfile(h, bitgen::config_stream(100000)));
    Captured c = load(file.path.c_str());
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
    // Clear; CFG_IN in every poll and once more; start-up; DONE read.
    LoadWrites w = split_load(written(), false);
    std::vector<uint8_t> insns = {0x3F, 0x0B};
    insns.insert(insns.end(), w.polls + 1, 0x05);
    insns.insert(insns.end(), {0x0C, 0x09});
    EXPECT_EQ(instructions(), insns);
    EXPECT_TRUE(rec().sync_seen);
    EXPECT_TRUE(rec().done);
}

TEST_F(LoadTest, MissingTextsPrintEmpty)
{
    open_adapter();
    Bytes bytes = bitgen::magic();
    bitgen::put_text(bytes, 'b', "7a35t");
    bitgen::put_field(bytes, 'e', bitgen::config_stream(100));
    TempBit file(bytes);
    Captured c = load(file.path.c_str());
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "Bitstream information:\n\tDesign: \n\tPart name: 7a35t\n"
                     "\tDate: \n\tTime: \n\tBitstream length: 100\n");
}

TEST(LoadHeader, TextsShowBytesOutsidePrintableAsciiEscaped)
{
    // Each text, as the file has it and as shown; a backslash stays.
    const char *const cases[][2] = {
        {" ~az09", " ~az09"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"a\nb\rc\td", "a\\x0ab\\x0dc\\x09d"},
        {"\x01\x1f\x7f\x80\xff", "\\x01\\x1f\\x7f\\x80\\xff"},
        {"C:\\top\\x41", "C:\\top\\x41"}};
    for (const auto &c : cases) {
        BitstreamInfo info = {};
        info.design = info.part_name = info.date = info.time =
            const_cast<char *>(c[0]);
        const std::string s = c[1];
        EXPECT_EQ(capture([&] { return load_print_header(&info); }).out,
                  "Bitstream information:\n\tDesign: " + s +
                      "\n\tPart name: " + s + "\n\tDate: " + s +
                      "\n\tTime: " + s + "\n\tBitstream length: 0\n");
    }
}

TEST_F(LoadTest, EachWriteIsOneBulkTransfer)
{
    // libftdi would cut a chunk into 4 KiB transfers, a USB frame each on a
    // full-speed chip; the record shows each write whole.
    open_adapter();
    TempBit file(
        bitgen::make_bitfile({}, bitgen::config_stream(2 * chunk + 7)));
    ASSERT_EQ(load(file.path.c_str()).result, 0);
    std::vector<int32_t> chunk_transfers;
    size_t out_transfers = 0;
    for (const auto &b : rec().bulk) {
        if (b.in)
            continue;
        out_transfers++;
        if (b.data.size > 3 && b.data.head[0] == 0x19)
            chunk_transfers.push_back(b.result);
    }
    EXPECT_EQ(chunk_transfers, std::vector<int32_t>({65535, 65535, 10}));
    // Set-up and probe, then one transfer per write call of the load.
    EXPECT_EQ(out_transfers, 2 + written().size());
}

TEST_F(LoadTest, AFailedChunkStopsBeforeStartUp)
{
    // The fault goes to the bulk write that carries the chunk, counted from
    // a clean run: set-up and probe, then one bulk write per write call.
    // A part that clears at once: one INIT poll in every run, whatever the
    // model clock's phase, so the chunk's write keeps its number.
    Scenario quick;
    quick.clear_us = 100;
    auto bulk_write_of_chunk = [&](size_t length, size_t index) {
        start(quick);
        open_adapter();
        TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(length)));
        EXPECT_EQ(load(file.path.c_str()).result, 0);
        uint64_t ordinal = 2;
        for (const WriteCall &call : write_log()) {
            if (call.bytes[0] == 0x19 && index-- == 0)
                return ordinal + 1;
            ordinal++;
        }
        ADD_FAILURE() << "no such chunk";
        return ordinal;
    };
    struct Case {
        size_t length, index;
        bool error;
        const char *err;
    } cases[] = {{3 * chunk + 10, 2, false,
                  "Ftdi write failed 2\nCause: the bitstream was cut after "
                  "131064 of 196606 bytes\n"},
                 {chunk + 5, 1, true,
                  "Ftdi write failed last\nCause: the bitstream was cut "
                  "after 65532 of 65537 bytes\n"}};
    for (const Case &k : cases) {
        Scenario s = quick;
        (k.error ? s.faults.error_write : s.faults.short_write) =
            bulk_write_of_chunk(k.length, k.index);
        start(s);
        open_adapter();
        TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(k.length)));
        Captured c = load(file.path.c_str());
        EXPECT_EQ(c.result, -1);
        EXPECT_EQ(c.err, k.err);
        // No start-up: the half-fed device is cleared, the TAP reset.
        const std::vector<uint8_t> insns = instructions();
        EXPECT_EQ(insns.back(), 0x0B);
        EXPECT_EQ(std::count(insns.begin(), insns.end(), 0x0C), 0);
        EXPECT_EQ(final_state(), TapState::RunTestIdle);
        EXPECT_FALSE(rec().done);
    }
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
        TempBit file(k.bytes);
        Captured c = load(file.path.c_str());
        EXPECT_EQ(c.result, -1) << k.name;
        EXPECT_EQ(c.out, "") << k.name;
        EXPECT_EQ(c.err,
                  std::string(file.path.c_str()) + " is not a valid bit file\n")
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

namespace {
std::string shrinking_path;
off_t shrink_to;
void shrink_file(int)
{
    if (truncate(shrinking_path.c_str(), shrink_to) != 0)
        _exit(99);
}
} // namespace

// A named file read a chunk at a time can shrink under the load: what it no
// longer holds is never sent, as zeros or otherwise.
TEST_F(LoadTest, AFileThatShrinksDuringTheLoadStopsItThere)
{
    const Bytes bytes = bitgen::make_bitfile({}, bitgen::config_stream(200000));
    TempBit file(bytes);
    shrinking_path = file.path;
    // 70,000 bytes of bitstream are left behind the header.
    shrink_to = (off_t)(bytes.size() - 200000 + 70000);
    struct sigaction sa = {}, old = {};
    sa.sa_handler = shrink_file;
    sigaction(SIGUSR1, &sa, &old);
    // The bulk write of the first chunk, from a clean run: set-up, probe,
    // then one per write call.
    start(Scenario());
    open_adapter();
    ASSERT_EQ(load(file.path.c_str()).result, 0);
    uint64_t ordinal = 2;
    for (const WriteCall &call : write_log()) {
        ordinal++;
        if (call.bytes.size() == 65535)
            break;
    }
    Scenario s;
    s.faults.signal_number = SIGUSR1;
    s.faults.signal_at = ordinal;
    start(s);
    open_adapter();
    Captured c = load(file.path.c_str());
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Cause: the bitstream was cut after 65532 of 200000 "
                     "bytes\n" +
                         file.path +
                         " ended after 70000 of 200000 bitstream bytes\n");
    EXPECT_FALSE(rec().done);
    EXPECT_EQ(instructions().back(), 0x0B);
}
