// The real binary, linked to the system libftdi, over the preloaded
// simulated adapter: exit statuses, texts, and what reached the target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <unistd.h>

#include <cstdio>

#include "bitfile_writer.h"
#include "run_tool.h"
#include "temp_bit.h"
#include "wire.h"

using tapsim::TapState;

namespace {

const std::string usage = "./tapline [idcode/reset/load <bitstream.bit>] \n";
const std::string no_device = "Can't open device 2a5e:0c41\n";
const std::string no_vref = "Vref not detected. Please power on target board\n";
const std::vector<std::string> all_words = {
    "idcode", "reset", "load",   "user1",        "user2", "user3",
    "user4",  "user5", "IDCODE", "--frobnicate", "",      "status"};

// Bulk writes to the adapter after set-up, probe and the chain detection
// (checked here byte for byte), whole.
std::vector<Bytes> command_writes(const ToolRun &run)
{
    std::vector<Bytes> out;
    size_t adapter = run.record.adapter_index();
    for (const auto &b : run.record.bulk) {
        if (!b.in && b.device == adapter) {
            EXPECT_TRUE(b.data.complete());
            out.push_back(b.data.head);
        }
    }
    if (out.size() >= 3) {
        EXPECT_EQ(out[2], detect_write());
        out.erase(out.begin(), out.begin() + 3);
    } else {
        out.clear();
    }
    return out;
}

// Instructions after the detection's BYPASS.
std::vector<uint8_t> command_instructions(const ToolRun &run)
{
    std::vector<uint8_t> insns = run.record.instructions;
    EXPECT_FALSE(insns.empty());
    if (!insns.empty()) {
        EXPECT_EQ(insns[0], 0x3F);
        insns.erase(insns.begin());
    }
    return insns;
}

// Every bulk write to the adapter as its length and hash, large ones too.
std::vector<std::pair<uint64_t, uint64_t>> wire_digest(const ToolRun &run)
{
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const auto &b : run.record.bulk)
        if (!b.in && b.device == run.record.adapter_index())
            out.push_back({b.data.size, b.data.hash});
    return out;
}

const tapsim::DeviceRecord &adapter(const ToolRun &run)
{
    return run.record.devices.at(run.record.adapter_index());
}

TapState last_state(const ToolRun &run)
{
    return run.record.states.empty() ? TapState::TestLogicReset
                                     : run.record.states.back().state;
}

} // namespace

TEST(Cli, NoCommandWordPrintsUsageWithoutTouchingUsb)
{
    for (const EnvList &env : {EnvList{}, EnvList{{"TAPSIM_ADAPTER", "0"}}}) {
        ToolRun run = run_tool({}, env);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, usage);
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(run.has_record) << "USB was used";
    }
}

TEST(Cli, HelpAndVersionAnswerWithoutTouchingUsb)
{
    struct Case {
        const char *word;
        bool version;
    } cases[] = {
        {"-h", false}, {"--help", false}, {"-V", true}, {"--version", true}};
    for (const Case &c : cases) {
        for (const EnvList &env :
             {EnvList{}, EnvList{{"TAPSIM_ADAPTER", "0"}}}) {
            ToolRun run = run_tool({c.word, "idcode"}, env);
            EXPECT_EQ(run.status, 0) << c.word;
            EXPECT_EQ(run.err, "") << c.word;
            EXPECT_FALSE(run.has_record) << c.word << ": USB was used";
            if (c.version) {
                EXPECT_EQ(run.out,
                          "tapline " TAPLINE_VERSION "\nTCK 6000000 Hz\n");
                continue;
            }
            EXPECT_EQ(
                run.out.rfind(
                    "Usage: tapline [-d N] [-s SERIAL] COMMAND [FILE]\n", 0),
                0u);
            for (const char *command :
                 {"idcode", "reset", "load FILE", "user1", "user2", "user3",
                  "user4", "status", "detect"})
                EXPECT_NE(run.out.find(std::string("\n  ") + command + " "),
                          std::string::npos)
                    << command;
            EXPECT_NE(run.out.find("man tapline"), std::string::npos);
        }
    }
}

TEST(Cli, EveryWordStopsWhenTheAdapterCannotBeOpenedOrTheTargetIsUnpowered)
{
    for (const std::string &word : all_words) {
        ToolRun missing =
            run_tool({word}, {{"TAPSIM_ADAPTER", "0"},
                              {"TAPSIM_EXTRA_DEVICES", "0403:6010"}});
        EXPECT_EQ(missing.status, 1) << word;
        EXPECT_EQ(missing.out, "") << word;
        EXPECT_EQ(missing.err, no_device) << word;
        ASSERT_TRUE(missing.has_record);
        for (const auto &d : missing.record.devices)
            EXPECT_EQ(d.opened, 0u) << word;

        ToolRun unpowered = run_tool({word}, {{"TAPSIM_POWER", "0"}});
        EXPECT_EQ(unpowered.status, 1) << word;
        EXPECT_EQ(unpowered.out, "") << word;
        EXPECT_EQ(unpowered.err, no_vref) << word;
        ASSERT_TRUE(unpowered.has_record);
        EXPECT_EQ(unpowered.record.tck_cycles, 0u) << word;
        EXPECT_TRUE(command_writes(unpowered).empty()) << word;
        // Left open for the process exit, not released.
        EXPECT_GT(adapter(unpowered).opened, adapter(unpowered).closed) << word;
    }
}

TEST(Cli, ShortSetUpAndProbeWritesFailTheOpen)
{
    struct Case {
        const char *write;
        std::string err;
    } cases[] = {{"1", "Can't configure device 2a5e:0c41\n"},
                 {"2", "Can't send command to device\n"}};
    for (const Case &c : cases) {
        for (const char *fault : {"TAPSIM_SHORT_WRITE", "TAPSIM_ERROR_WRITE"}) {
            ToolRun run = run_tool({"idcode"}, {{fault, c.write}});
            EXPECT_EQ(run.status, 1) << fault << c.write;
            EXPECT_EQ(run.err, c.err) << fault << c.write;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.record.tck_cycles, 0u);
        }
    }
}

TEST(Cli, IdcodeWritesTheQueryAndPrintsTheTargetsCode)
{
    ToolRun run = run_tool({"idcode", "extra", "args"},
                           {{"TAPSIM_IDCODE", "0x34008093"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "34 00 80 93\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(command_writes(run), concat({reset_writes(),
                                           to_shift_dr_writes(),
                                           {{0x39, 0x03, 0x00, 0, 0, 0, 0}}}));
    EXPECT_EQ(last_state(run), TapState::ShiftDR);
    // IDCODE from Test-Logic-Reset
    EXPECT_TRUE(command_instructions(run).empty());
    EXPECT_EQ(adapter(run).opened, adapter(run).closed);
}

TEST(Cli, UserWordsPrintTheirRegistersLowByte)
{
    struct Case {
        const char *word;
        uint8_t code;
        const char *value;
        std::string line;
    } cases[] = {{"user1", 0x02, "0x55530031", "31:1\n"},
                 {"user2", 0x03, "0x41", "41:A\n"},
                 {"user3", 0x1A, "0x7A", "7a:z\n"},
                 {"user4", 0x1B, "0x00", std::string("00:\0\n", 5)}};
    for (const Case &c : cases) {
        // The other registers hold a value that would show if read. A
        // Spartan-6: its USER3 and USER4 are 0x1A and 0x1B.
        EnvList env = {{"TAPSIM_IDCODE", "0x04001093"}};
        for (char n : {'1', '2', '3', '4'})
            env.push_back({std::string("TAPSIM_USER") + n,
                           n == c.word[4] ? c.value : "0xEE"});
        ToolRun run = run_tool({c.word, "ignored"}, env);
        EXPECT_EQ(run.status, 0) << c.word;
        EXPECT_EQ(run.out, c.line) << c.word;
        // DONE read first: a user register needs a running design.
        EXPECT_EQ(command_writes(run), concat({{capture_write(0x09)},
                                               reset_writes(),
                                               ir_writes(c.code),
                                               to_shift_dr_writes(),
                                               {{0x39, 0x00, 0x00, 0x00}}}))
            << c.word;
        EXPECT_EQ(command_instructions(run),
                  (std::vector<uint8_t>{0x09, c.code}))
            << c.word;
        EXPECT_EQ(last_state(run), TapState::ShiftDR) << c.word;
    }
}

TEST(Cli, ResetClearsAStartedConfiguration)
{
    ToolRun run = run_tool({"reset"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(command_writes(run),
              concat({reset_writes(), ir_writes(0x0B), reset_writes()}));
    EXPECT_EQ(command_instructions(run), std::vector<uint8_t>{0x0B});
    EXPECT_FALSE(run.record.done);
    EXPECT_EQ(run.record.config_bits, 0u);
    EXPECT_EQ(last_state(run), TapState::RunTestIdle);
}

TEST(Cli, StatusExitsTwoWhenTheFpgaAnswersUnconfigured)
{
    struct Case {
        EnvList env;
        int status;
        std::string last; // last line of standard output, or the message
    } cases[] = {
        {{}, 0, "Configured\n"},
        {{{"TAPSIM_CONFIGURED", "0"}},
         2,
         "Not configured: no bitstream was received since it was cleared\n"},
        {{{"TAPSIM_TDO", "1"}},
         1,
         "No FPGA answers on JTAG (ID code ffffffff)\n"},
    };
    for (const Case &c : cases) {
        ToolRun run = run_tool({"status"}, c.env);
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string &text = c.status == 1 ? run.err : run.out;
        EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), c.last)
            << text;
        EXPECT_EQ(adapter(run).opened, adapter(run).closed);
    }
}

TEST(Cli, UnknownWordsAndLoadWithoutFileShowUsageAndFail)
{
    for (const char *word :
         {"user5", "IDCODE", "", "load", "--frobnicate", "-v", "--HELP"}) {
        ToolRun run = run_tool({word});
        EXPECT_EQ(run.status, 1) << word;
        EXPECT_EQ(run.out, usage) << word;
        EXPECT_EQ(run.err, "") << word;
        EXPECT_TRUE(command_writes(run).empty()) << word;
        EXPECT_EQ(adapter(run).opened, adapter(run).closed)
            << word << ": not released";
    }
}

TEST(Cli, FailuresInsideACommandReleaseTheAdapterAndExitOne)
{
    struct Case {
        const char *word;
        EnvList env;
        std::string out, err;
    } cases[] = {
        {"reset",
         {{"TAPSIM_SHORT_WRITE", "3"}},
         "",
         "Can't detect the JTAG chain: write failed\n"},
        {"reset",
         {{"TAPSIM_SHORT_WRITE", "4"}},
         "",
         "Can't reset TAP: write failed\n"},
        {"reset",
         {{"TAPSIM_SHORT_WRITE", "14"}},
         "Write loop failed\n",
         "Write loop failed\n"},
        {"idcode", {{"TAPSIM_ERROR_READ", "2"}}, "", "Ftdi read failed\n"},
        {"idcode", {{"TAPSIM_ERROR_READ", "3"}}, "", "Ftdi read failed\n"},
        {"user1", {{"TAPSIM_ERROR_WRITE", "22"}}, "", "Ftdi write failed\n"},
    };
    for (const Case &c : cases) {
        ToolRun run = run_tool({c.word}, c.env);
        EXPECT_EQ(run.status, 1) << c.word << " " << c.env[0].second;
        EXPECT_EQ(run.out, c.out) << c.word << " " << c.env[0].second;
        EXPECT_EQ(run.err, c.err) << c.word << " " << c.env[0].second;
        EXPECT_EQ(adapter(run).opened, adapter(run).closed);
    }
}

TEST(Cli, LoadProgramsTheFpgaOnlyFromAValidFile)
{
    bitgen::Bytes stream = bitgen::config_stream(200000);
    TempBit good(bitgen::make_bitfile({}, stream));
    ToolRun run = run_tool({"load", good.path, "extra"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Bitstream information:\n\tDesign: ", 0), 0u);
    EXPECT_NE(run.out.find("\tBitstream length: 200000\n"), std::string::npos);
    EXPECT_TRUE(run.record.done);
    // Clear, CFG_IN while polling INIT and for the data, start-up, DONE read.
    const std::vector<uint8_t> &insns = run.record.instructions;
    ASSERT_GE(insns.size(), 6u);
    EXPECT_EQ(insns[0], 0x3F); // the detection's BYPASS
    EXPECT_EQ(insns[1], 0x0B);
    EXPECT_EQ(std::vector<uint8_t>(insns.end() - 2, insns.end()),
              (std::vector<uint8_t>{0x0C, 0x09}));
    for (size_t i = 2; i + 2 < insns.size(); i++)
        EXPECT_EQ(insns[i], 0x05);
    bitgen::Bytes expect = stream;
    expect.push_back(0); // the bit shifted by the clock that leaves Shift-DR
    EXPECT_EQ(run.record.config_bits, 8ull * stream.size() + 1);
    EXPECT_EQ(run.record.config_hash,
              tapsim::fnv1a(tapsim::kFnvOffset, expect.data(), expect.size()));

    TempBit twin(bitgen::make_bitfile({}, bitgen::mirrored(stream)));
    ToolRun mirrored = run_tool({"load", twin.path});
    EXPECT_EQ(mirrored.status, 1);
    // No ID code in any family's packets: refused before the adapter is
    // asked anything, the running design untouched.
    EXPECT_EQ(mirrored.err, twin.path + " writes no ID code before its frame "
                                        "data; nothing was sent\n");
    EXPECT_TRUE(command_writes(mirrored).empty());
    EXPECT_TRUE(mirrored.record.done);

    bitgen::Bytes bad = bitgen::make_bitfile({}, stream);
    bad[0] = 0x01;
    TempBit invalid(bad);
    ToolRun refused = run_tool({"load", invalid.path});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, invalid.path + " is not a valid bit file\n");
    EXPECT_TRUE(command_writes(refused).empty());
    EXPECT_EQ(adapter(refused).opened, adapter(refused).closed);
}

TEST(Cli, AStuckTdoLineIsNoDevice)
{
    TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(1000)));
    struct Case {
        const char *level, *line, *code;
    } cases[] = {{"1", "ff ff ff ff\n", "ffffffff"},
                 {"0", "00 00 00 00\n", "00000000"}};
    for (const Case &c : cases) {
        ToolRun id = run_tool({"idcode"}, {{"TAPSIM_TDO", c.level}});
        EXPECT_EQ(id.status, 1) << c.level;
        EXPECT_EQ(id.out, c.line) << c.level;
        EXPECT_EQ(id.err, "No device answers on JTAG\n") << c.level;

        ToolRun load = run_tool({"load", file.path}, {{"TAPSIM_TDO", c.level}});
        EXPECT_EQ(load.status, 1) << c.level;
        EXPECT_EQ(load.err, std::string("No FPGA answers on JTAG (ID code ") +
                                c.code + ")\n")
            << c.level;
        EXPECT_EQ(load.record.instructions, std::vector<uint8_t>{0x3F})
            << "no JPROGRAM";
        EXPECT_TRUE(load.record.done);
        EXPECT_EQ(adapter(load).opened, adapter(load).closed);
    }
}

// Loads against a device as strict as silicon: the family's packets, the
// ID check, START, and the time the device takes to clear after JPROGRAM.
struct StrictLoad {
    const char *name;
    const char *variant;
    bitgen::Family family;
    uint32_t device; // TAPSIM_IDCODE
    uint32_t file;   // ID code the stream writes
    bool cut_before_start;
    int status;
    const char *err; // %s: the file's path
    bool done, init;
    tapsim::ConfigError error;
};

class CliStrictLoad : public ::testing::TestWithParam<StrictLoad> {};

TEST_P(CliStrictLoad, RecordShowsWhatTheDeviceMadeOfIt)
{
    const StrictLoad &c = GetParam();
    bitgen::StreamPlan plan;
    plan.family = c.family;
    plan.idcode = c.file;
    plan.cut_before_start = c.cut_before_start;
    plan.size = 100000;
    bitgen::Header header;
    header.part = bitgen::example_part(c.family);
    TempBit bit(bitgen::make_bitfile(header, bitgen::family_stream(plan)));
    char device[16];
    std::snprintf(device, sizeof device, "0x%08X", c.device);
    ToolRun run = run_tool({"load", bit.path}, {{"TAPSIM_VARIANT", c.variant},
                                                {"TAPSIM_IDCODE", device}});
    EXPECT_EQ(run.status, c.status) << run.err;
    std::string err = c.err;
    if (err.find("%s") != std::string::npos)
        err.replace(err.find("%s"), 2, bit.path);
    EXPECT_EQ(run.err, err);
    ASSERT_TRUE(run.has_record);
    EXPECT_EQ(run.record.done, c.done);
    EXPECT_EQ(run.record.init, c.init);
    EXPECT_EQ(run.record.config_error, c.error);
    // The tool waits for the clearing, however fast its adapter.
    EXPECT_EQ(run.record.dropped_config_bits, 0u);
    EXPECT_GT(run.record.time_us, 0u);
    EXPECT_EQ(adapter(run).opened, adapter(run).closed);
}

using bitgen::Family;
constexpr tapsim::ConfigError kNone = tapsim::ConfigError::None;
constexpr tapsim::ConfigError kId = tapsim::ConfigError::Id;

INSTANTIATE_TEST_SUITE_P(
    Loads, CliStrictLoad,
    ::testing::Values(
        StrictLoad{"series7_fs", "fs", Family::Series7, 0x0362D093, 0x0362D093,
                   false, 0, "", true, true, kNone},
        // Without the wait for INIT the sync word would be lost here.
        StrictLoad{"series7_hs", "hs", Family::Series7, 0x0362D093, 0x0362D093,
                   false, 0, "", true, true, kNone},
        StrictLoad{"other_revision", "fs", Family::Series7, 0x0362D093,
                   0x5362D093, false, 0, "", true, true, kNone},
        // Refused before JPROGRAM: the running design stays.
        StrictLoad{"other_part", "hs", Family::Series7, 0x03631093, 0x0362D093,
                   false, 1,
                   "%s is for ID code 0362d093, the FPGA is 03631093; nothing "
                   "was sent\n",
                   true, true, kNone},
        StrictLoad{"cut_before_start", "fs", Family::Series7, 0x0362D093,
                   0x0362D093, true, 1,
                   "FPGA did not start: DONE low, INIT high (IR capture 11)\n"
                   "Cause: no bitstream was received since it was cleared "
                   "(status register 0000150c)\n",
                   false, true, kNone},
        StrictLoad{"spartan6_other_part", "fs", Family::Spartan6, 0x04001093,
                   0x04002093, false, 1,
                   "%s is for ID code 04002093, the FPGA is 04001093; nothing "
                   "was sent\n",
                   true, true, kNone},
        StrictLoad{"ultrascale_fs", "fs", Family::UltraScale, 0x03822093,
                   0x03822093, false, 0, "", true, true, kNone},
        StrictLoad{"ultrascale_plus_hs", "hs", Family::UltraScalePlus,
                   0x04AC2093, 0x04AC2093, false, 0, "", true, true, kNone},
        StrictLoad{"ultrascale_plus_cut_before_start", "hs",
                   Family::UltraScalePlus, 0x04A63093, 0x04A63093, true, 1,
                   "FPGA did not start: DONE low, INIT high (IR capture 11)\n"
                   "Cause: no bitstream was received since it was cleared "
                   "(status register 02001d0c)\n",
                   false, true, kNone}),
    [](const ::testing::TestParamInfo<StrictLoad> &i) {
        return std::string(i.param.name);
    });

TEST(Cli, LoadFromStandardInputSendsWhatLoadingByNameSends)
{
    bitgen::Bytes stream = bitgen::config_stream(150000);
    bitgen::Bytes bytes = bitgen::make_bitfile({}, stream);
    TempBit file(bytes);
    ToolRun by_name = run_tool({"load", file.path});
    ToolRun piped =
        run_tool({"load", "-"}, {}, {std::string(bytes.begin(), bytes.end())});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, by_name.out);
    EXPECT_NE(piped.out.find("\tBitstream length: 150000\n"),
              std::string::npos);
    EXPECT_EQ(wire_digest(piped), wire_digest(by_name));
    EXPECT_GT(wire_digest(piped).size(), 3u);
    EXPECT_TRUE(piped.record.done);
}

TEST(Cli, LoadRefusesABadStandardInputBeforeSendingAnything)
{
    bitgen::Bytes bad = bitgen::make_bitfile({}, bitgen::config_stream(1000));
    bad[0] = 0x01;
    bitgen::Bytes cut = bitgen::make_bitfile({}, bitgen::config_stream(1000));
    cut.resize(cut.size() - 1);
    for (const bitgen::Bytes &input : {bad, cut, bitgen::Bytes()}) {
        ToolRun run = run_tool({"load", "-"}, {},
                               {std::string(input.begin(), input.end())});
        EXPECT_EQ(run.status, 1) << input.size();
        EXPECT_EQ(run.out, "") << input.size();
        EXPECT_EQ(run.err, "standard input is not a valid bit file\n")
            << input.size();
        EXPECT_TRUE(command_writes(run).empty()) << input.size();
        EXPECT_EQ(adapter(run).opened, adapter(run).closed);
    }
}

namespace {

// Ordinals (from 1) of the bulk writes that start each full chunk.
std::vector<size_t> full_chunk_writes(const ToolRun &run)
{
    std::vector<size_t> out;
    size_t n = 0;
    for (const auto &b : run.record.bulk) {
        if (b.in)
            continue;
        n++;
        const auto &h = b.data.head;
        if (h.size() >= 3 && h[0] == 0x19 && h[1] == 0xFB && h[2] == 0xFF)
            out.push_back(n);
    }
    return out;
}

// The rate varies from run to run, and so does the padding after it:
// "  <digits> kB/s" and any blanks after it become "  R kB/s".
std::string without_rates(const std::string &err)
{
    std::string out;
    size_t i = 0;
    while (i < err.size()) {
        size_t unit = err.find(" kB/s", i);
        size_t digits = unit;
        while (digits != std::string::npos && digits > i &&
               std::isdigit((unsigned char)err[digits - 1]))
            digits--;
        if (unit == std::string::npos || digits == unit || digits < i + 2 ||
            err.compare(digits - 2, 2, "  ") != 0) {
            size_t end = unit == std::string::npos ? err.size() : unit + 5;
            out += err.substr(i, end - i);
            i = end;
            continue;
        }
        out += err.substr(i, digits - i) + "R kB/s";
        i = unit + 5;
        while (i < err.size() && err[i] == ' ')
            i++;
    }
    return out;
}

} // namespace

TEST(Cli, LoadShowsProgressOnlyOnATerminal)
{
    TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(200000)));
    ToolRun plain = run_tool({"load", file.path});
    ASSERT_EQ(plain.err, "");
    std::vector<size_t> chunks = full_chunk_writes(plain);
    ASSERT_EQ(chunks.size(), 3u);
    const EnvList fail_chunk_2 = {
        {"TAPSIM_SHORT_WRITE", std::to_string(chunks[2])}};
    const std::string cut =
        "Cause: the bitstream was cut after 131064 of 200000 bytes\n";
    const std::string first_two = "\rLoading  32%  65.5 of 200.0 kB  R kB/s"
                                  "\rLoading  65%  131.0 of 200.0 kB  R kB/s";
    struct Case {
        EnvList env;
        bool tty;
        std::string err;
    } cases[] = {
        {{},
         true,
         first_two + "\rLoading  98%  196.5 of 200.0 kB  R kB/s"
                     "\rLoading 100%  200.0 of 200.0 kB  R kB/s\n"},
        {fail_chunk_2, true, first_two + "\nFtdi write failed 2\n" + cut},
        {fail_chunk_2, false, "Ftdi write failed 2\n" + cut},
    };
    for (const Case &c : cases) {
        ToolRun run = run_tool({"load", file.path}, c.env, {{}, c.tty});
        EXPECT_EQ(without_rates(run.err), c.err) << c.tty;
        EXPECT_EQ(run.out, plain.out) << c.tty;
        EXPECT_EQ(run.record.done, c.env.empty()) << c.tty;
    }

    TempBit big(bitgen::make_bitfile({}, bitgen::config_stream(1100000)));
    ToolRun run = run_tool({"load", big.path}, {}, {{}, true});
    std::string err = without_rates(run.err);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\r'), 17);
    const std::string end = "\rLoading 100%  1.1 of 1.1 MB  R kB/s\n";
    ASSERT_GE(err.size(), end.size());
    EXPECT_EQ(err.substr(err.size() - end.size()), end);
}

TEST(Cli, AnAnswerStandardOutputCannotTakeIsAFailure)
{
    TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(1000)));
    const char *const outputs[][2] = {{"/dev/full", "No space left on device"},
                                      {"", "Bad file descriptor"}}; // closed
    for (const auto &o : outputs) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"idcode"},
              {"status"},
              {"user1"},
              {"user2"},
              {"--version"},
              {"--help"},
              {"load", file.path}}) {
            ToolRun run = run_tool(args, {}, {{}, false, o[0]});
            EXPECT_EQ(run.status, 1) << args[0] << o[1];
            EXPECT_EQ(run.err, std::string("Can't write standard output: ") +
                                   o[1] + "\n");
            // The load stops at its header: the running design stays.
            EXPECT_TRUE(run.record.instructions.empty() || args[0] != "load");
        }
        // Nothing to say, nothing lost.
        EXPECT_EQ(run_tool({"reset"}, {}, {{}, false, o[0]}).status, 0);
    }
}

TEST(Cli, LoadRefusesTheLargestDeclaredLengthsBeforeSendingAnything)
{
    const bitgen::Bytes stream = bitgen::config_stream(1000);
    bitgen::Bytes bytes = bitgen::make_bitfile({}, stream);
    const size_t at = bytes.size() - stream.size() - 4; // e's length
    for (uint32_t length :
         {0xFFFFFFFCu, 0xFFFFFFFDu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        for (int i = 0; i < 4; i++)
            bytes[at + i] = (uint8_t)(length >> (24 - 8 * i));
        // Sparse: the file holds all the length claims.
        TempBit file(bytes);
        ASSERT_EQ(truncate(file.path.c_str(), (off_t)(at + 4) + length), 0);
        ToolRun run = run_tool({"load", file.path});
        EXPECT_EQ(run.status, 1) << length;
        EXPECT_EQ(run.out, "") << length;
        EXPECT_EQ(run.err,
                  file.path + " declares a bitstream longer than 1 GiB\n");
        EXPECT_TRUE(command_writes(run).empty()) << length;
        EXPECT_EQ(run.record.tck_cycles, 0u) << length;
    }
}

TEST(Cli, ASignalMidLoadStopsAtTheNextChunkAndEndsTheProcessByIt)
{
    TempBit file(bitgen::make_bitfile({}, bitgen::config_stream(200000)));
    const std::vector<size_t> chunks =
        full_chunk_writes(run_tool({"load", file.path}));
    ASSERT_EQ(chunks.size(), 3u);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // Raised while the second chunk goes out.
        ToolRun run =
            run_tool({"load", file.path},
                     {{"TAPSIM_SIGNAL_AT",
                       std::to_string(chunks[1]) + ":" + std::to_string(sig)}});
        EXPECT_EQ(run.status, 128 + sig);
        EXPECT_EQ(run.signal, sig);
        EXPECT_EQ(run.err, "Interrupted: the FPGA is not configured\n"
                           "Cause: the bitstream was cut after 131064 of "
                           "200000 bytes\n");
        // Two chunks went in, then the half-fed device was cleared; no data
        // command after the signal.
        EXPECT_EQ(run.record.instructions.back(), 0x0B) << sig;
        EXPECT_EQ(run.record.config_bits, 0u) << sig;
        size_t n = 0;
        for (const auto &b : run.record.bulk)
            EXPECT_TRUE(b.in || ++n <= chunks[1] || b.data.head.at(0) != 0x19);
        EXPECT_FALSE(run.record.done);
        EXPECT_TRUE(last_state(run) == TapState::RunTestIdle ||
                    last_state(run) == TapState::TestLogicReset);
        EXPECT_EQ(adapter(run).opened, adapter(run).closed);
    }
}

// A pipe cannot be checked to its end before the device is cleared: input
// that ends early stops the load at the chunk it ends in, nothing made up.
TEST(Cli, StandardInputThatEndsEarlyStopsTheLoadAndClearsTheDevice)
{
    bitgen::Bytes bytes =
        bitgen::make_bitfile({}, bitgen::config_stream(200000));
    bytes.resize(bytes.size() - 100000);
    ToolRun run =
        run_tool({"load", "-"}, {}, {std::string(bytes.begin(), bytes.end())});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Cause: the bitstream was cut after 65532 of 200000 "
                       "bytes\nstandard input ended after 100000 of 200000 "
                       "bitstream bytes\n");
    EXPECT_FALSE(run.record.done);
    ASSERT_FALSE(run.record.instructions.empty());
    EXPECT_EQ(run.record.instructions.back(), 0x0B);
    // One chunk went out whole; the one the input ended in never did.
    size_t chunks = 0;
    for (const auto &b : run.record.bulk)
        chunks += !b.in && b.data.size == 65535;
    EXPECT_EQ(chunks, 1u);
}
