// What the load asks the FPGA, against a bench as strict as silicon: the
// part before anything is cleared, INIT before the bitstream, DONE after.
#include "tool_fixture.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <unistd.h>

#include "bitfile_writer.h"
#include "cli/detect_command.h"
#include "cli/load_command.h"
#include "jtag/chain.h"
#include "temp_bit.h"

using bitgen::Family;
using tapsim::Scenario;

namespace {

Bytes file_for(Family family, uint32_t idcode, bool cut = false)
{
    bitgen::StreamPlan plan;
    plan.family = family;
    plan.idcode = idcode;
    plan.cut_before_start = cut;
    bitgen::Header h;
    h.part = bitgen::example_part(family);
    return bitgen::make_bitfile(h, bitgen::family_stream(plan));
}

bool any_chunk(const std::vector<Bytes> &writes)
{
    for (const Bytes &w : writes)
        if (w.size() > 3 && w[0] == 0x19)
            return true;
    return false;
}

class LoadChecks : public ToolTest {
  protected:
    Captured load(const Scenario &s, const Bytes &bytes)
    {
        start(s);
        open_adapter();
        file_ = std::make_unique<TempBit>(bytes);
        std::vector<std::string> args = {"load", file_->path};
        std::vector<char *> argv;
        ToolRun run = tool_run(args, argv);
        return capture([&] { return command_load(&run, nullptr); });
    }
    std::string path() const { return file_->path; }
    // How often the start-up instruction was loaded.
    long jstarts()
    {
        const std::vector<uint8_t> insns = instructions();
        return std::count(insns.begin(), insns.end(), 0x0C);
    }
    std::unique_ptr<TempBit> file_;
};

std::string hex8(uint32_t v)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

struct PartCase {
    const char *name;
    Family family;
    uint32_t device;
    uint32_t file; // the code the stream writes
    bool match;
};

class PartCheck : public LoadChecks,
                  public ::testing::WithParamInterface<PartCase> {};

} // namespace

TEST_P(PartCheck, OnlyAFileForThisPartClearsTheDevice)
{
    const PartCase &c = GetParam();
    Scenario s;
    s.idcode = c.device;
    Captured got = load(s, file_for(c.family, c.file));
    if (c.match) {
        EXPECT_EQ(got.result, 0) << got.err;
        EXPECT_EQ(got.err, "");
        EXPECT_TRUE(rec().done);
        EXPECT_EQ(rec().config_error, tapsim::ConfigError::None);
        return;
    }
    EXPECT_EQ(got.result, -1);
    EXPECT_EQ(got.err, path() + " is for ID code " + hex8(c.file) +
                           ", the FPGA is " + hex8(c.device) +
                           "; nothing was sent\n");
    // Nothing after the detection; the running design is untouched.
    EXPECT_EQ(written(), Writes{detect_write()});
    EXPECT_EQ(rec().instructions, std::vector<uint8_t>{0x3F});
    EXPECT_TRUE(rec().done);
}

INSTANTIATE_TEST_SUITE_P(
    Families, PartCheck,
    ::testing::Values(
        PartCase{"spartan3e", Family::Spartan3E, 0x01C22093, 0x01C22093, true},
        // Real chips report a revision the file does not carry.
        PartCase{"spartan3e_revision", Family::Spartan3E, 0x41C22093,
                 0x01C22093, true},
        PartCase{"spartan3e_other", Family::Spartan3E, 0x01C22093, 0x01C1A093,
                 false},
        PartCase{"spartan3a", Family::Spartan3A, 0x02218093, 0x02218093, true},
        PartCase{"spartan3a_other", Family::Spartan3A, 0x02218093, 0x02210093,
                 false},
        PartCase{"spartan6", Family::Spartan6, 0x24001093, 0x04001093, true},
        PartCase{"spartan6_other", Family::Spartan6, 0x04001093, 0x04002093,
                 false},
        PartCase{"series7", Family::Series7, 0x0362D093, 0x0362D093, true},
        PartCase{"series7_other", Family::Series7, 0x0362D093, 0x03631093,
                 false},
        PartCase{"ultrascale", Family::UltraScale, 0x13822093, 0x03822093,
                 true},
        PartCase{"ultrascale_other", Family::UltraScale, 0x03822093, 0x03823093,
                 false},
        PartCase{"ultrascale_plus", Family::UltraScalePlus, 0x04A63093,
                 0x04A63093, true},
        PartCase{"artix_ultrascale_plus", Family::UltraScalePlus, 0x04AC2093,
                 0x04AC2093, true},
        PartCase{"ultrascale_plus_other", Family::UltraScalePlus, 0x04A63093,
                 0x04A62093, false}),
    [](const auto &info) { return info.param.name; });

// Parts no bit file configures here: refused after the detection, before
// anything is cleared, whatever the file.
TEST_F(LoadChecks, PartsItCannotLoadAreRefusedBeforeClearing)
{
    struct Case {
        uint32_t device;
        Family family;
        uint32_t file; // the code the stream writes
        const char *err;
    } cases[] = {
        // A lone part: whatever stream comes, it takes none.
        {0x04E81093, Family::UltraScalePlus, 0x04A63093,
         "XCSU10P takes PDI images, not bit files\n"},
        // Stacked parts whose master die no table gives.
        {0x04B51093, Family::UltraScalePlus, 0x04B51093,
         "XCVU13P: loading its SLRs is not supported\n"},
        {0x0390D093, Family::UltraScale, 0x0390D093,
         "XCKU115: loading its SLRs is not supported\n"},
        {0x036D5093, Family::Series7, 0x036D5093,
         "XC7VX1140T: loading its SLRs is not supported\n"},
    };
    for (const Case &c : cases) {
        Scenario s;
        s.idcode = c.device;
        Captured got = load(s, file_for(c.family, c.file));
        EXPECT_EQ(got.result, -1) << c.err;
        EXPECT_EQ(got.err, c.err);
        EXPECT_EQ(written(), Writes{detect_write()}) << c.err;
        EXPECT_EQ(rec().instructions, std::vector<uint8_t>{0x3F}) << c.err;
        EXPECT_TRUE(rec().done) << c.err;
    }
}

// A VU9P: 18 IR bits, the whole stream through the master's field, each
// SLR checking its own part of it; a slave's error is named by its field,
// and the record's line of that SLR alone shows it.
TEST_F(LoadChecks, StackedPartLoadsThroughItsMaster)
{
    struct Case {
        const char *name;
        int64_t flip; // bit of the stream, -1: none
        int bad_slr;  // the SLR it falls in, master 0
        const char *err;
    } cases[] = {
        {"good", -1, -1, ""},
        // Past the master's 4 KiB, inside the first slave's frames.
        {"slave_crc", 8 * 6144 + 5, 1,
         "FPGA did not start: DONE low, INIT high (IR capture 51)\n"
         "Cause: CRC error: the bitstream arrived corrupted (SLR at IR field "
         "1, status register 02001d0d)\n"},
        {"master_crc", 8 * 2048 + 5, 0,
         "FPGA did not start: DONE low, INIT high (IR capture 51)\n"
         "Cause: CRC error: the bitstream arrived corrupted (status register "
         "02001d0d)\n"},
    };
    const uint32_t ids[] = {bitgen::kVu9pIdcode, bitgen::vu9p_slaves()[0],
                            bitgen::vu9p_slaves()[1]};
    for (const Case &c : cases) {
        bitgen::StreamPlan plan;
        plan.family = Family::UltraScalePlus;
        plan.idcode = bitgen::kVu9pIdcode;
        plan.slaves = bitgen::vu9p_slaves();
        plan.flip_bit = c.flip;
        bitgen::Header h;
        h.part = "xcvu9p-flga2104";
        Scenario s;
        s.idcode = bitgen::kVu9pIdcode;
        Captured got =
            load(s, bitgen::make_bitfile(h, bitgen::family_stream(plan)));
        EXPECT_EQ(got.result, c.flip < 0 ? 0 : -1) << c.name;
        EXPECT_EQ(got.err, c.err) << c.name;
        EXPECT_EQ(rec().done, c.flip < 0) << c.name;
        EXPECT_EQ(rec().config_error, c.flip < 0 ? tapsim::ConfigError::None
                                                 : tapsim::ConfigError::Crc)
            << c.name;
        std::ostringstream text, again;
        tapsim::write_record(text, rec());
        tapsim::Record back;
        std::istringstream in(text.str());
        ASSERT_TRUE(tapsim::parse_record(in, back)) << c.name;
        tapsim::write_record(again, back);
        EXPECT_EQ(again.str(), text.str()) << c.name;
        ASSERT_EQ(back.slrs.size(), 3u) << c.name;
        for (int i = 0; i < 3; ++i) {
            using tapsim::CheckResult;
            const tapsim::SlrConfigRecord &slr = back.slrs[i];
            const bool bad = i == c.bad_slr;
            EXPECT_EQ(slr.idcode, ids[i]) << c.name << i;
            EXPECT_EQ(slr.config_error, bad ? tapsim::ConfigError::Crc
                                            : tapsim::ConfigError::None)
                << c.name << i;
            EXPECT_EQ(slr.crc, bad ? CheckResult::Bad : CheckResult::Ok)
                << c.name << i;
            EXPECT_EQ(slr.started, !bad) << c.name << i;
        }
    }
}

// A Zynq UltraScale+ shows its processing system's TAP alone until
// JTAG_CTRL; then the logic's half of the 12-bit IR takes the load.
TEST_F(LoadChecks, MpsocLogicIsEnabledThenDetectedAndLoaded)
{
    Scenario s;
    tapsim::ChainEntry ps, dap;
    ps.kind = dap.kind = tapsim::ChainEntry::Kind::Device;
    ps.idcode = 0x04711093;
    ps.ir_length = 12;
    dap.idcode = 0x5BA00477;
    dap.ir_length = 4;
    dap.hidden = true;
    s.chain = {ps, dap};
    start(s);
    open_adapter();
    ChainScan scan;
    ASSERT_EQ(chain_scan(&jtag_, &scan), CHAIN_SCAN_OK);
    EXPECT_EQ(scan.count, 1u);
    EXPECT_EQ(scan.ir_total, 12u);
    std::vector<std::string> args = {"detect"};
    std::vector<char *> argv;
    ToolRun run = tool_run(args, argv);
    Captured detected = capture([&] { return command_detect(&run, nullptr); });
    EXPECT_EQ(detected.result, 0) << detected.err;
    EXPECT_EQ(detected.out, "0: ID code 04711093, IR length 12, XCZU2\n"
                            "1: ID code 5ba00477, IR length 4, ARM debug "
                            "access port\n");
    Captured got = load(s, file_for(Family::UltraScalePlus, 0x04711093));
    EXPECT_EQ(got.result, 0) << got.err;
    EXPECT_TRUE(rec().done);
    EXPECT_EQ(rec().config_error, tapsim::ConfigError::None);
}

TEST_F(LoadChecks, WaitsForInitHoweverLongClearingTakesUpToASecond)
{
    struct Case {
        tapsim::Variant variant;
        uint32_t clear_us;
        size_t min_polls;
    } cases[] = {{tapsim::Variant::FullSpeed, 5000, 2},
                 {tapsim::Variant::HighSpeed, 5000, 10},
                 {tapsim::Variant::FullSpeed, 60000, 20}};
    for (const Case &k : cases) {
        Scenario s;
        s.variant = k.variant;
        s.clear_us = k.clear_us;
        Captured c =
            load(s, bitgen::make_bitfile({}, bitgen::config_stream(10000)));
        EXPECT_EQ(c.result, 0) << k.clear_us << c.err;
        size_t polls = 0;
        for (const Bytes &w : written())
            polls += w == capture_write(0x05);
        EXPECT_GE(polls, k.min_polls) << k.clear_us;
        EXPECT_EQ(rec().dropped_config_bits, 0u);
        EXPECT_TRUE(rec().done);
    }

    Scenario never;
    never.clear_us = 0xFFFFFFFFu;
    Captured c =
        load(never, bitgen::make_bitfile({}, bitgen::config_stream(10000)));
    const double seconds = rec().time_us * 1e-6;
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "FPGA did not clear its configuration (IR capture 01)\n");
    EXPECT_FALSE(any_chunk(written())) << "no bitstream after a failed wait";
    EXPECT_LT(seconds, 3.0);
    EXPECT_GE(seconds, 0.9);
}

TEST_F(LoadChecks, DoneDecidesTheOutcomeWithOneLongerStartUp)
{
    const char *const lock_wait =
        "FPGA did not start: DONE low, INIT high (IR capture 11)\n"
        "Cause: start-up waits for a clock to lock (status register "
        "00081508)\n";
    // Idle clocks after JSTART, then the retry's: 32 and 2,000 at 6 MHz
    // and below, 160 and 10,000 at 30 MHz, where they last as long.
    struct Case {
        const char *name;
        uint32_t startup_clocks;
        bool cut;
        int result;
        bool retried;
        const char *err;
        uint32_t tck_hz = 6000000;
    } cases[] = {
        {"done at once", 12, false, 0, false, ""},
        {"needs clock lock", 500, false, 0, true, ""},
        // Start-up state 2 with MMCM_LOCK low; a cut stream leaves no trace
        // in STAT but an absent START.
        {"longer than the retry", 3000, false, -1, true, lock_wait},
        {"30 MHz: within 160", 150, false, 0, false, "", 30000000},
        {"30 MHz: past 160", 170, false, 0, true, "", 30000000},
        {"30 MHz: within the retry", 10000, false, 0, true, "", 30000000},
        {"30 MHz: past the retry", 10200, false, -1, true, lock_wait, 30000000},
        {"1 MHz: no fewer clocks", 2000, false, 0, true, "", 1000000},
        {"cut before START", 12, true, -1, true,
         "FPGA did not start: DONE low, INIT high (IR capture 11)\n"
         "Cause: no bitstream was received since it was cleared (status "
         "register 0000150c)\n"},
    };
    for (const Case &k : cases) {
        Scenario s;
        s.idcode = 0x0362D093;
        s.startup_clocks = k.startup_clocks;
        // Only the high-speed chip goes past 6 MHz.
        if (k.tck_hz > 6000000)
            s.variant = tapsim::Variant::HighSpeed;
        tck_hz_ = k.tck_hz;
        Captured c = load(s, file_for(Family::Series7, 0x0362D093, k.cut));
        EXPECT_EQ(c.result, k.result) << k.name;
        EXPECT_EQ(c.err, k.err) << k.name;
        EXPECT_EQ(jstarts(), k.retried ? 2 : 1) << k.name;
        EXPECT_EQ(rec().done, k.result == 0) << k.name;
        EXPECT_TRUE(rec().init) << k.name;
    }
}

TEST_F(LoadChecks, AnErrorTheDeviceFindsItselfGetsNoRetry)
{
    // The tool checks the first ID code write; a second one after frame
    // data, for another part, only the device checks.
    const uint32_t sync[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x30018001,
                             0x0362D093};
    const uint32_t body[] = {0x30004002, 0x12345678, 0x9ABCDEF0, 0x30018001,
                             0x03631093, 0x30008001, 0x00000005, 0x30008001,
                             0x0000000D, 0x20000000, 0x20000000};
    Bytes stream;
    for (uint32_t w : sync)
        for (int i = 3; i >= 0; i--)
            stream.push_back(static_cast<uint8_t>(w >> (8 * i)));
    for (uint32_t w : body)
        for (int i = 3; i >= 0; i--)
            stream.push_back(static_cast<uint8_t>(w >> (8 * i)));
    Scenario s;
    s.idcode = 0x0362D093;
    Captured c = load(s, bitgen::make_bitfile({}, stream));
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "FPGA did not start: DONE low, INIT low (CRC or ID code "
                     "error) (IR capture 01)\n"
                     "Cause: ID code error: the bitstream is for another part "
                     "(status register 0000850c)\n");
    EXPECT_EQ(rec().config_error, tapsim::ConfigError::Id);
    EXPECT_EQ(jstarts(), 1);
}

TEST_F(LoadChecks, StuckTdoStopsTheLoadBeforeJprogram)
{
    struct Case {
        int level;
        const char *err;
    } cases[] = {{1, "No FPGA answers on JTAG (ID code ffffffff)\n"},
                 {0, "No FPGA answers on JTAG (ID code 00000000)\n"}};
    for (const Case &k : cases) {
        Scenario s;
        s.tdo_stuck = k.level;
        Captured c =
            load(s, bitgen::make_bitfile({}, bitgen::config_stream(1000)));
        EXPECT_EQ(c.result, -1);
        EXPECT_EQ(c.err, k.err);
        // The detection's BYPASS, and nothing after it.
        EXPECT_EQ(rec().instructions, std::vector<uint8_t>{0x3F});
        EXPECT_TRUE(rec().done);
    }
}
