// The status register read and the status command against the bench: the
// exact bytes of the read per family, and what the command says about a
// device configured, cleared, fed a corrupted stream, waiting for its
// clock, or left with another part's stream.
#include "tool_fixture.h"

#include <algorithm>
#include <sstream>

#include "bitfile_writer.h"
#include "cli/load_command.h"
#include "cli/status_command.h"
#include "jtag/scan.h"
#include "temp_bit.h"
#include "xilinx/configure.h"
#include "xilinx/stat_read.h"

using bitgen::Family;

namespace {

struct FamilyCase {
    const char *name;
    Family family;
    const XilinxFamily *logic;
    const char *part;
    Bytes request; // all but the request's last byte
    bool wide;     // 32-bit words
};

const FamilyCase families[] = {
    {"spartan3e", Family::Spartan3E, &family_spartan3e, "XC3S500E",
     stat_request32, true},
    {"spartan3a",
     Family::Spartan3A,
     &family_spartan3a,
     "XC3S200A",
     {0x19, 0x0A, 0x00, 0xFF, 0xFF, 0x55, 0x99, 0x04, 0x00, 0x94, 0x80, 0x04,
      0x00, 0x04},
     false},
    {"spartan6",
     Family::Spartan6,
     &family_spartan6,
     "XC6SLX9",
     {0x19, 0x0C, 0x00, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66, 0x04, 0x00, 0x94,
      0x80, 0x04, 0x00, 0x04},
     false},
    {"series7", Family::Series7, &family_series7, "XC7A35T", stat_request32,
     true},
    {"ultrascale", Family::UltraScale, &family_ultrascale, "XCKU040",
     stat_request32, true},
    {"ultrascale_plus", Family::UltraScalePlus, &family_ultrascale_plus,
     "XCKU3P", stat_request32, true},
};

void PrintTo(const FamilyCase &f, std::ostream *os)
{
    *os << f.name;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class StatusTest : public ToolTest {
  protected:
    void begin(const FamilyCase &f, tapsim::Scenario s = {})
    {
        s.idcode = bitgen::example_idcode(f.family);
        start(s);
        open_adapter();
    }
    Captured status()
    {
        std::vector<std::string> args = {"status"};
        std::vector<char *> argv;
        ToolRun run = tool_run(args, argv);
        return capture([&] { return command_status(&run, nullptr); });
    }
    Captured load(const Bytes &stream)
    {
        bitgen::Header h;
        file_ = std::make_unique<TempBit>(bitgen::make_bitfile(h, stream));
        std::vector<std::string> args = {"load", file_->path};
        std::vector<char *> argv;
        ToolRun run = tool_run(args, argv);
        return capture([&] { return command_load(&run, nullptr); });
    }
    // The load's steps without its part check: clear, the stream, start-up.
    void drive(const Bytes &stream)
    {
        Bytes mirrored = bitgen::mirrored(stream);
        const FamilyInstructions *insn = family_instructions(nullptr);
        ASSERT_EQ(configure_begin(&jtag_, &chain_lone_fpga, insn), 0);
        queue_bytes(&jtag_.queue, mirrored.data(),
                    static_cast<uint32_t>(mirrored.size()), nullptr, 0);
        ASSERT_EQ(queue_send(&jtag_.queue), QUEUE_OK);
        jtag_walk(&jtag_, TAP_IDLE);
        jtag_load_ir(&jtag_, &chain_lone_fpga, insn->jstart);
        queue_bytes(&jtag_.queue, nullptr, 250, nullptr, 0);
        ASSERT_EQ(queue_send(&jtag_.queue), QUEUE_OK);
        jtag_reset_to_idle(&jtag_);
    }
    std::unique_ptr<TempBit> file_;
};

class StatusFamily : public StatusTest,
                     public ::testing::WithParamInterface<FamilyCase> {};

} // namespace

// An unsynchronised logic ignores the first request, which has no sync
// word; the whole request follows, and a DESYNC.
TEST_P(StatusFamily, FirstWithoutSyncThenTheFamilysRequestReadAndDesync)
{
    const FamilyCase &f = GetParam();
    begin(f);
    uint32_t value = 0;
    ASSERT_EQ(
        stat_read(&jtag_, &chain_lone_fpga, &f.logic->insn, f.logic, 0, &value),
        QUEUE_OK);
    EXPECT_EQ(written(), (Writes{stat_probe_write(f.wide),
                                 stat_read_write(f.request, f.wide)}));
    EXPECT_EQ(instructions(),
              (std::vector<uint8_t>{0x05, 0x04, 0x05, 0x04, 0x05}));
    EXPECT_EQ(final_state(), tapsim::TapState::RunTestIdle);
}

TEST_P(StatusFamily, StatusOfAConfiguredDeviceChangesNothing)
{
    const FamilyCase &f = GetParam();
    begin(f);
    Captured first = status(), second = status();
    EXPECT_EQ(first.result, 0) << first.err;
    EXPECT_EQ(second.out, first.out) << "the register changed";
    const std::vector<std::string> got = lines(first.out);
    ASSERT_EQ(got.size(), 4u) << first.out;
    char code[32];
    std::snprintf(code, sizeof code, " (ID code %08x)",
                  bitgen::example_idcode(f.family));
    EXPECT_EQ(got[0], std::string("FPGA: ") + f.part + code);
    EXPECT_EQ(got[1], "DONE high, INIT high (IR capture 35)");
    // The value in the family's width, then the set bits by name.
    const size_t width = f.wide ? 8 : 4, names_at = 17 + width + 2;
    EXPECT_EQ(got[2].rfind("Status register: ", 0), 0u) << got[2];
    EXPECT_EQ(got[2].compare(17 + width, 2, " ("), 0) << got[2];
    const std::string names =
        " " + got[2].substr(std::min(names_at, got[2].size()));
    EXPECT_NE(names.find(" DONE "), std::string::npos) << got[2];
    EXPECT_NE(names.find(" GWE "), std::string::npos) << got[2];
    EXPECT_EQ(got[3], "Configured");
    EXPECT_TRUE(rec().done);
    for (uint8_t insn : instructions())
        EXPECT_TRUE(insn == 0x04 || insn == 0x05 || insn == 0x09 ||
                    insn == 0x3F)
            << int(insn);
}

INSTANTIATE_TEST_SUITE_P(Families, StatusFamily, ::testing::ValuesIn(families),
                         [](const auto &info) { return info.param.name; });

namespace {

enum class Left { Cleared, Corrupted, WaitingForClock, OtherPart };

struct CauseCase {
    Left left;
    const char *cause;
};

std::string cause_case_name(
    const ::testing::TestParamInfo<std::tuple<FamilyCase, CauseCase>> &info)
{
    static const char *const left[] = {"cleared", "corrupted",
                                       "waiting_for_clock", "other_part"};
    return std::string(std::get<0>(info.param).name) + "_" +
           left[static_cast<int>(std::get<1>(info.param).left)];
}

void PrintTo(const CauseCase &c, std::ostream *os)
{
    *os << c.cause;
}

class NotConfigured
    : public StatusTest,
      public ::testing::WithParamInterface<std::tuple<FamilyCase, CauseCase>> {
};

} // namespace

TEST_P(NotConfigured, StatusAndTheLoadNameTheCause)
{
    const FamilyCase &f = std::get<0>(GetParam());
    const CauseCase &c = std::get<1>(GetParam());
    tapsim::Scenario s;
    if (c.left == Left::WaitingForClock)
        s.startup_clocks = 5000; // more than the load and its retry give
    begin(f, s);
    bitgen::StreamPlan plan;
    plan.family = f.family;
    plan.idcode = bitgen::example_idcode(f.family);
    Bytes stream = bitgen::family_stream(plan);
    Captured loaded{"", "", 0};
    switch (c.left) {
    case Left::Cleared:
        jtag_reset_to_idle(&jtag_);
        jtag_load_ir(&jtag_, &chain_lone_fpga, 0x0B);
        break;
    case Left::Corrupted:
        plan.flip_bit = 8 * 2048 + 3; // inside the frame data
        loaded = load(bitgen::family_stream(plan));
        break;
    case Left::WaitingForClock:
        loaded = load(stream);
        break;
    case Left::OtherPart:
        plan.idcode ^= 0x00001000; // the next part number
        drive(bitgen::family_stream(plan));
        break;
    }
    if (c.left == Left::Corrupted || c.left == Left::WaitingForClock) {
        EXPECT_EQ(loaded.result, -1);
        const std::vector<std::string> err = lines(loaded.err);
        ASSERT_EQ(err.size(), 2u) << loaded.err;
        EXPECT_EQ(err[1].rfind(std::string("Cause: ") + c.cause +
                                   " (status register ",
                               0),
                  0u)
            << err[1];
    }
    Captured got = status();
    EXPECT_EQ(got.result, STATUS_NOT_CONFIGURED) << got.err;
    const std::vector<std::string> out = lines(got.out);
    ASSERT_EQ(out.size(), 4u) << got.out;
    // Only a CRC error over JTAG from 7-series on leaves INIT high.
    const bool init =
        c.left == Left::Cleared || c.left == Left::WaitingForClock ||
        (c.left == Left::Corrupted && f.logic->idcode_reg == 0x0C);
    EXPECT_EQ(out[1], init ? "DONE low, INIT high (IR capture 11)"
                           : "DONE low, INIT low (IR capture 01)");
    EXPECT_EQ(out[3], std::string("Not configured: ") + c.cause);
}

INSTANTIATE_TEST_SUITE_P(
    Families, NotConfigured,
    ::testing::Combine(
        ::testing::ValuesIn(families),
        ::testing::Values(
            CauseCase{Left::Cleared,
                      "no bitstream was received since it was cleared"},
            CauseCase{Left::Corrupted,
                      "CRC error: the bitstream arrived corrupted"},
            CauseCase{Left::WaitingForClock,
                      "start-up waits for a clock to lock"},
            CauseCase{Left::OtherPart,
                      "ID code error: the bitstream is for another part"})),
    cause_case_name);

TEST_F(StatusTest, AnUnknownFamilyOrAMultiDiePartGetsNoStatusRead)
{
    struct Case {
        uint32_t idcode;
        const char *out;
    } cases[] = {{0x0A001093, "FPGA: unknown part (ID code 0a001093)\n"
                              "DONE high, INIT high (IR capture 35)\n"
                              "Status register: not read (unknown family)\n"
                              "Configured\n"},
                 {0x136D5093, "FPGA: XC7VX1140T (ID code 136d5093)\n"
                              "DONE high, INIT high (IR capture 35)\n"
                              "Status register: not read (multi-die part)\n"
                              "Configured\n"}};
    for (const Case &c : cases) {
        tapsim::Scenario s;
        s.idcode = c.idcode;
        start(s);
        open_adapter();
        Captured got = status();
        EXPECT_EQ(got.result, 0) << got.err;
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(instructions(), (std::vector<uint8_t>{0x3F, 0x09}));
    }
}

// A stacked part is named with its SLRs; its master's register is read
// through the master's field of the 18-bit instruction register.
TEST_F(StatusTest, AStackedPartShowsItsMastersRegister)
{
    tapsim::Scenario s;
    s.idcode = 0x04B31093; // XCVU9P
    start(s);
    open_adapter();
    Captured got = status();
    EXPECT_EQ(got.result, 0) << got.err;
    EXPECT_EQ(got.out,
              "FPGA: XCVU9P, 3 SLRs (ID code 04b31093)\n"
              "DONE high, INIT high (IR capture 75)\n"
              "Status register: 02107dfc (BUS_WIDTH=1 STARTUP_STATE=4 DONE "
              "RELEASE_DONE INIT_B INIT_COMPLETE MODE=5 GHIGH_B GWE GTS_CFG_B "
              "EOS DCI_MATCH MMCM_PLL_LOCKED)\n"
              "Configured\n");
}
