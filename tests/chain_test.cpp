// Boards as they come: every command on chains of several devices, with
// and without --device, checked through what the bench saw: the output,
// the exit status, and that no device but the target received anything but
// BYPASS and IDCODE, and only the target was configured.
#include "tool_fixture.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "bitfile_writer.h"
#include "cli/commands.h"
#include "temp_bit.h"

using tapsim::ChainEntry;
using tapsim::InstructionName;

namespace {

ChainEntry fpga()
{
    return ChainEntry{};
}

ChainEntry dev(uint32_t idcode, unsigned ir)
{
    return ChainEntry{ChainEntry::Kind::Device, true, idcode, ir};
}

ChainEntry none(unsigned ir)
{
    return ChainEntry{ChainEntry::Kind::Device, false, 0, ir};
}

struct ChainCase {
    const char *name;
    std::vector<ChainEntry> chain;
    uint32_t idcode; // the scenario's FPGA
    bitgen::Family family;
    std::string detect;  // empty: the chain is refused
    std::string refusal; // without --device, for every command but detect
    int target;          // position of the FPGA; -1: none to choose
};

const ChainCase chains[] = {
    {"zynq",
     {dev(0x4BA00477, 4), fpga()},
     0x03727093,
     bitgen::Family::Series7,
     "0: ID code 4ba00477, IR length 4, ARM debug access port\n"
     "1: ID code 03727093, IR length 6, XC7Z020\n",
     "",
     1},
    {"prom_and_cpld",
     {fpga(), dev(0x05046093, 8), dev(0x06E5E093, 8)},
     0x01C22093,
     bitgen::Family::Spartan3E,
     "0: ID code 01c22093, IR length 6, XC3S500E\n"
     "1: ID code 05046093, IR length 8, XCF04S\n"
     "2: ID code 06e5e093, IR length 8, XC2C64A\n",
     "",
     0},
    {"no_idcode_first",
     {none(8), fpga()},
     0x0362D093,
     bitgen::Family::Series7,
     "0: no ID code, IR length 8\n"
     "1: ID code 0362d093, IR length 6, XC7A35T\n",
     "",
     1},
    {"unknown_takes_the_rest",
     {dev(0x1ABCD0DD, 5), fpga()},
     0x04001093,
     bitgen::Family::Spartan6,
     "0: ID code 1abcd0dd, IR length 5, unknown device\n"
     "1: ID code 04001093, IR length 6, XC6SLX9\n",
     "",
     1},
    {"two_fpgas_of_one_part",
     {fpga(), dev(0x0362D093, 6)},
     0x0362D093,
     bitgen::Family::Series7,
     "0: ID code 0362d093, IR length 6, XC7A35T\n"
     "1: ID code 0362d093, IR length 6, XC7A35T\n",
     "2 FPGAs on the chain (positions 0, 1): choose one with --device\n",
     1},
    {"two_unknown",
     {dev(0x1ABCD0DD, 5), fpga(), dev(0x0ABCD093, 7)},
     0x0362D093,
     bitgen::Family::Series7,
     "",
     "Can't tell the JTAG chain apart: the IR lengths of the devices at "
     "positions 0, 2 are unknown (18 IR bits in all)\n",
     -1},
};

void PrintTo(const ChainCase &c, std::ostream *os)
{
    *os << c.name;
}

class Chains : public ToolTest,
               public ::testing::WithParamInterface<ChainCase> {
  protected:
    Captured run(const ChainCase &c, std::vector<std::string> args,
                 const char *device)
    {
        tapsim::Scenario s;
        s.idcode = c.idcode;
        s.chain = c.chain;
        start(s);
        open_adapter();
        std::vector<char *> argv;
        ToolRun r = tool_run(args, argv, device);
        return capture([&] { return dispatch_command(&r); });
    }

    // Every device but the target got BYPASS and IDCODE only; only the
    // target may have been cleared or configured.
    void expect_only_target_touched(const ChainCase &c, int target,
                                    const std::string &what)
    {
        for (uint32_t i = 0; i < c.chain.size(); i++) {
            if ((int)i == target)
                continue;
            for (const auto &load : rec().instructions_of(i))
                EXPECT_TRUE(load.name == InstructionName::Bypass ||
                            load.name == InstructionName::Idcode)
                    << what << ": device " << i << " got "
                    << tapsim::instruction_name(load.name);
            const tapsim::ConfigRecord *other = rec().config_of(i);
            if (other) {
                EXPECT_EQ(other->config_bits, 0u) << what << " device " << i;
            }
        }
    }
};

} // namespace

TEST_P(Chains, EveryCommandTalksToTheTargetAlone)
{
    const ChainCase &c = GetParam();
    Captured d = run(c, {"detect"}, nullptr);
    EXPECT_EQ(d.out, c.detect);
    EXPECT_EQ(d.result, c.detect.empty() ? -1 : 0) << d.err;

    bitgen::StreamPlan plan;
    plan.family = c.family;
    plan.idcode = c.idcode;
    TempBit file(bitgen::make_bitfile({}, bitgen::family_stream(plan)));
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02x %02x %02x %02x\n", c.idcode >> 24,
                  (c.idcode >> 16) & 0xFF, (c.idcode >> 8) & 0xFF,
                  c.idcode & 0xFF);
    const std::string target = std::to_string(c.target);
    struct Command {
        std::vector<std::string> args;
        std::string out; // standard output, or its first line for status
    } commands[] = {
        {{"idcode"}, hex},         {{"user1"}, "31:1\n"}, {{"status"}, ""},
        {{"load", file.path}, ""}, {{"reset"}, ""},
    };
    for (const Command &cmd : commands) {
        for (const char *device : {(const char *)nullptr, target.c_str()}) {
            const std::string what =
                cmd.args[0] + (device ? " --device " + target : "");
            Captured got = run(c, cmd.args, device);
            const bool refused =
                c.target < 0 || (!device && !c.refusal.empty());
            if (refused) {
                EXPECT_EQ(got.result, -1) << what;
                EXPECT_EQ(got.err, c.refusal) << what;
                // Nothing past the detection.
                EXPECT_EQ(written().size(), 1u) << what;
                expect_only_target_touched(c, -1, what);
                continue;
            }
            EXPECT_EQ(got.result, 0) << what << ": " << got.err;
            expect_only_target_touched(c, c.target, what);
            const std::string &out = got.out;
            if (cmd.args[0] == "status") {
                std::string first = out.substr(0, out.find('\n'));
                const std::string where = ", position " + target + " of " +
                                          std::to_string(c.chain.size());
                EXPECT_EQ(first.substr(first.size() - where.size()), where)
                    << first;
            } else if (cmd.args[0] == "load") {
                const tapsim::ConfigRecord *cfg = rec().config_of(c.target);
                ASSERT_NE(cfg, nullptr) << what;
                EXPECT_TRUE(cfg->done) << what;
                EXPECT_EQ(cfg->config_error, tapsim::ConfigError::None);
            } else if (cmd.args[0] == "reset") {
                EXPECT_FALSE(rec().config_of(c.target)->done) << what;
            } else {
                EXPECT_EQ(out, cmd.out) << what;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, Chains, ::testing::ValuesIn(chains),
                         [](const auto &info) { return info.param.name; });

TEST_F(ToolTest, DeviceOutOfRangeOrNotANumberIsRefusedAfterTheDetection)
{
    tapsim::Scenario s;
    s.idcode = 0x03727093;
    s.chain = {dev(0x4BA00477, 4), fpga()};
    for (const char *device : {"2", "x", "-1", "1x"}) {
        start(s);
        open_adapter();
        std::vector<std::string> args = {"idcode"};
        std::vector<char *> argv;
        ToolRun r = tool_run(args, argv, device);
        Captured got = capture([&] { return dispatch_command(&r); });
        EXPECT_EQ(got.result, -1) << device;
        EXPECT_EQ(got.err, std::string("No device at position ") + device +
                               ": the chain has 2 devices (tapline detect "
                               "lists them)\n");
        EXPECT_EQ(written().size(), 1u) << device;
    }
}

// A file for another family is refused before anything is cleared, with
// the ID code the stream really writes, read in its own packets.
TEST_F(ToolTest, ABitFileForAnotherFamilyIsRefusedWithItsOwnIdCode)
{
    const bitgen::Family families[] = {
        bitgen::Family::Spartan3E, bitgen::Family::Spartan3A,
        bitgen::Family::Spartan6, bitgen::Family::Series7};
    for (bitgen::Family device : families) {
        for (bitgen::Family file : families) {
            if (device == file)
                continue;
            tapsim::Scenario s;
            s.idcode = bitgen::example_idcode(device);
            start(s);
            open_adapter();
            bitgen::StreamPlan plan;
            plan.family = file;
            plan.idcode = bitgen::example_idcode(file);
            TempBit bit(bitgen::make_bitfile({}, bitgen::family_stream(plan)));
            std::vector<std::string> args = {"load", bit.path};
            std::vector<char *> argv;
            ToolRun r = tool_run(args, argv);
            Captured got = capture([&] { return dispatch_command(&r); });
            char expected[160];
            std::snprintf(expected, sizeof expected,
                          "%s is for ID code %08x, the FPGA is %08x; nothing "
                          "was sent\n",
                          bit.path.c_str(), bitgen::example_idcode(file),
                          bitgen::example_idcode(device));
            EXPECT_EQ(got.result, -1);
            EXPECT_EQ(got.err, expected);
            EXPECT_EQ(instructions(), std::vector<uint8_t>{0x3F});
            EXPECT_TRUE(rec().done);
        }
    }
}
