// Two commands on one board: the real binary run after run on one
// TAPSIM_STATE file, as a powered board keeps its FPGA between commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "bitfile_writer.h"
#include "run_tool.h"
#include "temp_bit.h"

namespace {

constexpr const char *kA35t = "0x0362D093";
const std::string no_device = "Can't open device 2a5e:0c41\n";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A directory of its own for the state file and its lock.
struct Board {
    std::string dir, path;
    Board()
    {
        char name[] = "/tmp/tapline-state-XXXXXX";
        dir = mkdtemp(name);
        path = dir + "/board";
    }
    ~Board()
    {
        for (const char *f : {"", ".lock", ".tmp"})
            unlink((path + f).c_str());
        rmdir(dir.c_str());
    }
    ToolRun run(std::vector<std::string> args, EnvList env = {}) const
    {
        env.emplace_back("TAPSIM_STATE", path);
        return run_tool(args, env);
    }
};

bitgen::Bytes a35t_stream(bool cut_before_start)
{
    bitgen::StreamPlan plan;
    plan.family = bitgen::Family::Series7;
    plan.idcode = 0x0362D093;
    plan.size = 16384;
    plan.cut_before_start = cut_before_start;
    return bitgen::family_stream(plan);
}

struct Step {
    std::vector<std::string> args; // "BIT" stands for the case's bit file
    EnvList env;
    int status;
    std::vector<std::string> says; // parts of standard output and error
    bool done;                     // in the record, at the run's end
};

struct Pairing {
    const char *name;
    bool cut_before_start; // the bit file's stream ends before START
    std::vector<Step> steps;
};

const EnvList blank_a35t = {{"TAPSIM_IDCODE", kA35t},
                            {"TAPSIM_CONFIGURED", "0"}};

const Pairing kPairings[] = {
    {"LoadThenStatus",
     false,
     {{{"load", "BIT"}, blank_a35t, 0, {}, true},
      {{"status"},
       {},
       0,
       {"FPGA: XC7A35T (ID code 0362d093)\n",
        "DONE high, INIT high (IR capture 35)\n", "Configured\n"},
       true}}},
    // The first chunk of the stream fails: the load names its cut and
    // clears the device, and the next command finds it cleared.
    {"LoadCutByAFailedWriteThenStatus",
     false,
     {{{"load", "BIT"},
       {{"TAPSIM_IDCODE", kA35t}, {"TAPSIM_ERROR_WRITE", "32"}},
       1,
       {"Cause: the bitstream was cut after 0 of "},
       false},
      {{"status"},
       {},
       2,
       {"DONE low, INIT high (IR capture 11)\n", "Not configured: "},
       false}}},
    {"StreamWithoutDesyncThenStatusTwice",
     true,
     {{{"load", "BIT"}, blank_a35t, 1, {"FPGA did not start"}, false},
      {{"status"}, {}, 2, {"Status register: 0000150c"}, false},
      {{"status"}, {}, 2, {"Status register: 0000150c"}, false}}},
    {"ResetThenUser1",
     false,
     {{{"reset"}, {}, 0, {}, false},
      {{"user1"}, {}, 1, {"it has no user registers"}, false}}},
    {"ChainLoadThenDetect",
     false,
     {{{"load", "BIT"},
       {{"TAPSIM_IDCODE", kA35t}, {"TAPSIM_CHAIN", "4ba00477:4,fpga"}},
       0,
       {},
       true},
      // Another chain in the environment loses to the board's own.
      {{"detect"},
       {{"TAPSIM_CHAIN", "fpga"}},
       0,
       {"0: ID code 4ba00477, IR length 4", "1: ID code 0362d093, IR length 6",
        "TAPSIM_CHAIN=fpga is not the board in "},
       true}}},
};

class StatePairs : public testing::TestWithParam<Pairing> {};

TEST_P(StatePairs, TheSecondCommandFindsTheBoardTheFirstLeft)
{
    const Pairing &p = GetParam();
    Board board;
    TempBit bit(bitgen::make_bitfile({}, a35t_stream(p.cut_before_start)));
    std::vector<ToolRun> runs;
    for (const Step &s : p.steps) {
        std::vector<std::string> args = s.args;
        for (std::string &a : args)
            if (a == "BIT")
                a = bit.path;
        runs.push_back(board.run(args, s.env));
        const ToolRun &r = runs.back();
        const std::string said = r.out + r.err;
        EXPECT_EQ(r.status, s.status) << said;
        for (const std::string &part : s.says)
            EXPECT_TRUE(contains(said, part)) << part << " in\n" << said;
        ASSERT_TRUE(r.has_record);
        EXPECT_EQ(r.record.done, s.done);
    }
    // The configuration input the load left is still there, with what
    // later reads of STAT shifted in after it.
    const tapsim::Record &first = runs.front().record;
    const tapsim::Record &last = runs.back().record;
    if (p.steps.front().args.front() == "load") {
        const size_t whole = static_cast<size_t>(first.config_bits / 8);
        EXPECT_GE(last.config_bits, first.config_bits);
        ASSERT_GE(last.config_data.size(), whole);
        EXPECT_TRUE(std::equal(first.config_data.begin(),
                               first.config_data.begin() + whole,
                               last.config_data.begin()));
    }
    // Reading STAT leaves it, and the logic, as they were.
    if (runs.size() > 2) {
        EXPECT_EQ(runs[1].out, runs[2].out);
        EXPECT_EQ(runs[1].record.stat, runs[2].record.stat);
        EXPECT_EQ(runs[1].record.sync_seen, runs[2].record.sync_seen);
        EXPECT_EQ(runs[1].record.stat, first.stat);
    }
}

INSTANTIATE_TEST_SUITE_P(Bench, StatePairs, testing::ValuesIn(kPairings),
                         [](const auto &info) { return info.param.name; });

struct Refusal {
    const char *name;
    std::string (*file)(const std::string &good);
    const char *why;
};

const Refusal kRefusals[] = {
    {"OneCharacterChanged",
     [](const std::string &good) {
         std::string bad = good;
         const size_t at = bad.find("crc=0x");
         bad[at + 6] = bad[at + 6] == '1' ? '2' : '1';
         return bad;
     },
     "damaged: its lines do not match their check"},
    {"CutShort",
     [](const std::string &good) { return good.substr(0, good.size() / 2); },
     "damaged"},
    {"AnotherVersion",
     [](const std::string &good) {
         return "tapsim-state 2" + good.substr(good.find('\n'));
     },
     "format version 2, this bench reads 1"},
    {"ARecordFile",
     [](const std::string &) { return std::string("tapsim-record 3\nend\n"); },
     "not a tapsim state file"},
};

TEST(State, ADamagedOrForeignFileIsRefusedAndLeftAsItWas)
{
    Board board;
    ASSERT_EQ(board.run({"reset"}).status, 0);
    const std::string good = slurp(board.path);
    for (const Refusal &r : kRefusals) {
        const std::string bad = r.file(good);
        ASSERT_TRUE(bitgen::write_file(board.path,
                                       bitgen::Bytes(bad.begin(), bad.end())));
        ToolRun run = board.run({"status"});
        EXPECT_EQ(run.status, 1) << r.name;
        EXPECT_EQ(run.out, "") << r.name;
        EXPECT_TRUE(contains(run.err, "tapsim: refusing state file " +
                                          board.path + ": " + r.why))
            << r.name << ": " << run.err;
        EXPECT_TRUE(contains(run.err, no_device)) << r.name;
        EXPECT_TRUE(run.record.devices.empty()) << r.name;
        EXPECT_EQ(slurp(board.path), bad) << r.name;
    }
}

// Another program holds the adapter: a run is refused at once and leaves
// the board alone; once it lets go, runs go ahead.
TEST(State, ASecondRunOnTheBoardIsRefusedWhileTheFirstHoldsIt)
{
    Board board;
    const int fd = open((board.path + ".lock").c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const ToolRun refused = board.run({"reset"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Adapter TL2A5E0C41 is in use by another program\n");
    EXPECT_TRUE(refused.record.bulk.empty());
    EXPECT_NE(access(board.path.c_str(), F_OK), 0);
    EXPECT_EQ(board.run({"adapters"}).status, 0); // a listing claims nothing
    close(fd);
    EXPECT_EQ(board.run({"reset"}).status, 0);
    EXPECT_TRUE(contains(slurp(board.path), "\nend\n"));
}

} // namespace
