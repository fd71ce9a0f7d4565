// Several adapters on one host: which one a run opens, what adapters lists,
// and two processes on one adapter.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "bitfile_writer.h"
#include "run_tool.h"

namespace {

struct Choice {
    const char *name;
    EnvList env;
    std::vector<std::string> args;
    int status;
    std::string out, err;
    const char *opened; // serial of the adapter the transfers went to
};

// The adapter the run's bulk transfers went to; "" when none.
std::string adapter_used(const tapsim::Record &r)
{
    std::string serial;
    for (const tapsim::BulkTransfer &b : r.bulk) {
        const std::string &s = r.devices.at(b.device).serial;
        if (!serial.empty() && s != serial)
            return "several";
        serial = s;
    }
    return serial;
}

const std::string one_idcode = "01 c2 20 93\n";

} // namespace

TEST(Adapters, TheRunOpensTheAdapterAskedForAndNeverGuesses)
{
    const EnvList two = {{"TAPSIM_ADAPTERS", "A1,B2"}};
    const EnvList three = {{"TAPSIM_ADAPTERS", "A1,B2,C3"}};
    const EnvList none = {{"TAPSIM_ADAPTER", "0"}};
    const EnvList behind_other = {{"TAPSIM_ADAPTERS", "A1,B2"},
                                  {"TAPSIM_EXTRA_DEVICES", "0403:6010"}};
    const Choice cases[] = {
        {"one adapter, none named", {}, {"idcode"}, 0, one_idcode, "", ""},
        {"two, none named",
         two,
         {"idcode"},
         1,
         "",
         "2 adapters 2a5e:0c41 found (serials A1, B2): choose one with "
         "--serial\n",
         ""},
        {"three, none named",
         three,
         {"status"},
         1,
         "",
         "3 adapters 2a5e:0c41 found (serials A1, B2, C3): choose one with "
         "--serial\n",
         ""},
        {"two, the second named",
         two,
         {"-s", "B2", "idcode"},
         0,
         one_idcode,
         "",
         "B2"},
        {"two, the first named",
         two,
         {"--serial=A1", "idcode"},
         0,
         one_idcode,
         "",
         "A1"},
        {"named after --device",
         two,
         {"-d", "0", "--serial", "B2", "idcode"},
         0,
         one_idcode,
         "",
         "B2"},
        {"no such serial",
         two,
         {"-s", "Z9", "idcode"},
         1,
         "",
         "No adapter 2a5e:0c41 with serial Z9\n",
         ""},
        {"a serial is no prefix",
         two,
         {"-s", "B", "idcode"},
         1,
         "",
         "No adapter 2a5e:0c41 with serial B\n",
         ""},
        {"no adapter, one named",
         none,
         {"-s", "A1", "idcode"},
         1,
         "",
         "No adapter 2a5e:0c41 with serial A1\n",
         ""},
        {"list of two",
         two,
         {"adapters"},
         0,
         "A1  bus 001 device 002\nB2  bus 001 device 003\n",
         "",
         ""},
        {"list behind another chip",
         behind_other,
         {"adapters"},
         0,
         "A1  bus 001 device 003\nB2  bus 001 device 004\n",
         "",
         ""},
        {"list of none", none, {"adapters"}, 0, "", "", ""},
        {"list ignores --serial",
         two,
         {"-s", "Z9", "adapters"},
         0,
         "A1  bus 001 device 002\nB2  bus 001 device 003\n",
         "",
         ""},
        {"a serial of 32 characters",
         {{"TAPSIM_ADAPTERS", std::string(32, 'x')}},
         {"adapters"},
         0,
         std::string(32, 'x') + "  bus 001 device 002\n",
         "",
         ""},
    };
    for (const Choice &c : cases) {
        const ToolRun run = run_tool(c.args, c.env);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        if (run.has_record)
            EXPECT_EQ(adapter_used(run.record), c.opened) << c.name;
        else
            EXPECT_STREQ(c.opened, "") << c.name;
    }
    // A list the bench cannot take leaves it the one adapter it always had.
    for (const char *bad :
         {"S1,S1", "S 1", "a,,b", "S1,", "yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy"}) {
        const ToolRun run = run_tool({"adapters"}, {{"TAPSIM_ADAPTERS", bad}});
        EXPECT_EQ(run.out, "TL2A5E0C41  bus 001 device 002\n") << bad;
        EXPECT_NE(run.err.find("ignoring TAPSIM_ADAPTERS"), std::string::npos)
            << bad;
    }
}

// A load holds its adapter from the open to the end: a second run on that
// adapter is refused at once, one on another adapter goes ahead.
TEST(Adapters, ASecondRunOnAnAdapterInUseIsRefused)
{
    char dir_template[] = "/tmp/tapline-adapters-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const std::string fifo = dir + "/design.bit", state = dir + "/board";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const EnvList env = {{"TAPSIM_ADAPTERS", "A1,B2"}, {"TAPSIM_STATE", state}};

    ToolRun first;
    std::thread holder([&] {
        first = run_tool({"-s", "A1", "load", fifo}, env);
    });
    // The load opens its file only once the adapter is open and claimed.
    const int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const ToolRun same = run_tool({"-s", "A1", "idcode"}, env);
    const ToolRun other = run_tool({"-s", "B2", "idcode"}, env);
    close(writer); // the file ends before its header
    holder.join();

    EXPECT_EQ(same.status, 1);
    EXPECT_EQ(same.out, "");
    EXPECT_EQ(same.err, "Adapter A1 is in use by another program\n");
    EXPECT_TRUE(same.record.bulk.empty());
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.out, one_idcode);
    EXPECT_EQ(first.status, 1);
    // Once the load has ended, the adapter is free again; each adapter
    // keeps a board of its own between runs.
    EXPECT_EQ(run_tool({"-s", "A1", "reset"}, env).status, 0);
    EXPECT_EQ(run_tool({"-s", "A1", "status"}, env).status, 2);
    EXPECT_EQ(run_tool({"-s", "B2", "status"}, env).status, 0);
    EXPECT_NE(access(state.c_str(), F_OK), 0); // the files are per adapter
    // An emptied board file is refused, not taken for a fresh board.
    ASSERT_EQ(truncate((state + ".A1").c_str(), 0), 0);
    EXPECT_NE(run_tool({"-s", "A1", "idcode"}, env)
                  .err.find("refusing state file " + state + ".A1"),
              std::string::npos);

    for (const char *f : {"/design.bit", "/board.A1", "/board.A1.lock",
                          "/board.B2", "/board.B2.lock"})
        unlink((dir + f).c_str());
    rmdir(dir.c_str());
}

// Adapters that will not tell their serial numbers: only what an adapter
// said is listed or matched, and nothing reaches a target.
TEST(Adapters, AnUnreadableSerialIsNeverGuessed)
{
    struct Case {
        const char *name;
        const char *adapters; // "": the one default adapter
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const Case cases[] = {
        {"list",
         "A1,B2",
         {"adapters"},
         1,
         "",
         "Can't read the serial number of the adapter on bus 001 device 002\n"
         "Can't read the serial number of the adapter on bus 001 device 003\n"},
        {"several, none named",
         "A1,B2",
         {"idcode"},
         1,
         "",
         "2 adapters 2a5e:0c41 found (serials ?, ?): choose one with "
         "--serial\n"},
        {"one named",
         "A1,B2",
         {"-s", "A1", "status"},
         1,
         "",
         "No adapter 2a5e:0c41 with serial A1\n"},
        {"the placeholder named",
         "A1,B2",
         {"-s", "?", "idcode"},
         1,
         "",
         "No adapter 2a5e:0c41 with serial ?\n"},
        {"a lone adapter needs none", "", {"idcode"}, 0, one_idcode, ""},
    };
    for (const Case &c : cases) {
        EnvList env = {{"TAPSIM_STRING_STALL", "1"}};
        if (*c.adapters)
            env.emplace_back("TAPSIM_ADAPTERS", c.adapters);
        const ToolRun run = run_tool(c.args, env);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        if (c.status != 0) {
            EXPECT_TRUE(run.record.bulk.empty()) << c.name;
        }
    }
}
