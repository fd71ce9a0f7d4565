// Whole program: tapsim_probe, linked to the system's shared libftdi, run
// with libtapsim.so preloaded and its scenario in TAPSIM_* variables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tapsim.h"

namespace {

struct ProbeRun {
    int status = -1; // exit status, or 128 + the signal that ended it
    int signal = 0;  // the signal that ended it
    std::string out;
    std::string err;
};

std::string slurp(int fd)
{
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

// Runs a program with the given variables on top of this process's
// environment, less any TAPSIM_* and LD_PRELOAD of its own.
ProbeRun run_program(const char *path, std::vector<std::string> args,
                     std::vector<std::string> env)
{
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "TAPSIM_", 7) != 0 &&
            std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
            env.push_back(*e);
    std::string preload = TAPSIM_PRELOAD_PATH;
#ifdef TAPLINE_ASAN_RUNTIME
    // ASan starts only when its runtime is the first library loaded.
    preload = std::string(TAPLINE_ASAN_RUNTIME) + ":" + preload;
#endif
    env.push_back("LD_PRELOAD=" + preload);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), path);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        // Crashes on purpose leave no core files behind.
        const struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        execve(path, argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ProbeRun r;
    r.out = slurp(out[0]); // outputs are small: no deadlock on stderr
    r.err = slurp(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

ProbeRun run_probe(std::vector<std::string> env)
{
    return run_program(TAPSIM_PROBE_PATH, {}, std::move(env));
}

class Preload : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tapsim-preload-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/run.record";
    }
    void TearDown() override
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string record_var() const { return "TAPSIM_RECORD=" + path_; }

    std::string dir_, path_;
};

// Several adapters, through adapter_client; state files in dir_.
class Adapters : public Preload {
  protected:
    void TearDown() override
    {
        EXPECT_EQ(std::system(("rm -f " + dir_ + "/board*").c_str()), 0);
        Preload::TearDown();
    }
    ProbeRun client(std::vector<std::string> args,
                    std::vector<std::string> env = {}, bool state = true)
    {
        env.push_back("TAPSIM_ADAPTERS=S1,S2");
        if (state)
            env.push_back("TAPSIM_STATE=" + dir_ + "/board");
        return run_program(TAPSIM_ADAPTER_CLIENT_PATH, std::move(args),
                           std::move(env));
    }
    tapsim::Record record()
    {
        tapsim::Record r;
        std::string error;
        EXPECT_TRUE(tapsim::read_record_file(path_, r, &error)) << error;
        return r;
    }
};

} // namespace

TEST_F(Preload, ProbeReadsTheIdcodeAndTheRecordShowsHow)
{
    struct Case {
        std::vector<std::string> env;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{},
         0,
         "adapter: full-speed chip\ntarget power: yes\nidcode: 0x01c22093\n"},
        {{"TAPSIM_VARIANT=hs", "TAPSIM_IDCODE=0x13631093",
          "TAPSIM_EMPTY_READS=4"},
         0,
         "adapter: high-speed chip\ntarget power: yes\nidcode: 0x13631093\n"},
        {{"TAPSIM_POWER=0"}, 2, "adapter: full-speed chip\ntarget power: no\n"},
        {{"TAPSIM_ADAPTER=0", "TAPSIM_EXTRA_DEVICES=0403:6010"}, 1, ""},
        {{"TAPSIM_ERROR_READ=1"}, 3, "adapter: full-speed chip\n"},
    };
    for (const Case &c : cases) {
        std::string name;
        for (const auto &e : c.env)
            name += e + " ";
        SCOPED_TRACE(name);
        std::vector<std::string> env = c.env;
        env.push_back(record_var());
        const ProbeRun run = run_probe(env);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);

        tapsim::Record r;
        std::string error;
        ASSERT_TRUE(tapsim::read_record_file(path_, r, &error)) << error;
        const size_t a = r.adapter_index();
        for (size_t i = 0; i < r.devices.size(); ++i) {
            EXPECT_EQ(r.devices[i].opened, i == a ? 2u : 0u);
            EXPECT_EQ(r.devices[i].closed, r.devices[i].opened);
        }
        if (c.status == 0) {
            EXPECT_EQ(r.bit_mode, 0x02);
            EXPECT_TRUE(r.instructions.empty());
            ASSERT_FALSE(r.states.empty());
            EXPECT_EQ(r.states.back().state, tapsim::TapState::RunTestIdle);
            EXPECT_EQ(r.tck_cycles, 6u + 3u + 32u + 2u);
        } else {
            EXPECT_EQ(r.tck_cycles, 0u);
        }
    }
}

TEST_F(Preload, BadVariableIsReportedNotFatal)
{
    const ProbeRun run = run_probe({"TAPSIM_VARIANT=turbo", record_var()});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("TAPSIM_VARIANT=turbo"), std::string::npos);
    tapsim::Record r;
    ASSERT_TRUE(tapsim::read_record_file(path_, r));
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("TAPSIM_VARIANT"), std::string::npos);
}

namespace {

struct EndCase {
    const char *name;
    std::vector<std::string> args; // to ending_client
    int signal;                    // that ends the process
    int end_signal;                // on the record's end line, -1: no record
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordAtEnd : public Preload,
                    public ::testing::WithParamInterface<EndCase> {};

} // namespace

TEST_P(RecordAtEnd, EveryWayTheClientEndsLeavesItsRecord)
{
    const EndCase &c = GetParam();
    std::vector<std::string> env = {record_var()};
#ifdef TAPLINE_ASAN_RUNTIME
    // Else the sanitizer takes the crash signals for a report of its own.
    env.push_back("ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0");
#endif
    const ProbeRun run = run_program(TAPSIM_ENDING_CLIENT_PATH, c.args, env);
    // The signal took its course, as without the simulator.
    EXPECT_EQ(run.signal, c.signal) << run.err;
    if (c.signal == 0) {
        EXPECT_EQ(run.status, 0) << run.err;
    }
    if (c.end_signal < 0) {
        EXPECT_NE(access(path_.c_str(), F_OK), 0);
        return;
    }
    tapsim::Record r;
    std::string error;
    ASSERT_TRUE(tapsim::read_record_file(path_, r, &error)) << error;
    EXPECT_EQ(r.end_signal, c.end_signal);
    const size_t a = r.adapter_index();
    ASSERT_LT(a, r.devices.size());
    EXPECT_EQ(r.devices[a].opened, 2u);
    EXPECT_EQ(r.devices[a].closed, 1u); // the open's own close only
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RecordAtEnd,
    ::testing::Values(
        EndCase{"exit", {"exit"}, 0, 0},
        EndCase{
            "sigsegv", {"raise", std::to_string(SIGSEGV)}, SIGSEGV, SIGSEGV},
        EndCase{"sigbus", {"raise", std::to_string(SIGBUS)}, SIGBUS, SIGBUS},
        EndCase{
            "sigabrt", {"raise", std::to_string(SIGABRT)}, SIGABRT, SIGABRT},
        EndCase{"sigfpe", {"raise", std::to_string(SIGFPE)}, SIGFPE, SIGFPE},
        EndCase{
            "sigterm", {"raise", std::to_string(SIGTERM)}, SIGTERM, SIGTERM},
        EndCase{"sigint", {"raise", std::to_string(SIGINT)}, SIGINT, SIGINT},
        EndCase{"sighup", {"raise", std::to_string(SIGHUP)}, SIGHUP, SIGHUP},
        EndCase{"read_only_write", {"fault"}, SIGSEGV, SIGSEGV},
        EndCase{"uncaught_exception", {"throw"}, SIGABRT, SIGABRT},
        // Not ended by it: the record comes at exit.
        EndCase{"ignored_sigterm", {"ignore", std::to_string(SIGTERM)}, 0, 0},
        // Only the process that opened the adapter writes, and that one
        // leaves without exit hooks here.
        EndCase{"child_killed", {"child", std::to_string(SIGTERM)}, 0, -1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Adapters, TheListPutsEachSerialOnTheBusAfterTheOtherChips)
{
    const std::string x32(32, 'x');
    const char *one = "TL2A5E0C41\n"; // the lone adapter's, as ever
    const std::vector<std::array<std::string, 2>> cases = {
        {"", one},         {"S1,S2", "S1\nS2\n"}, {"B,A,!~", "B\nA\n!~\n"},
        {x32, x32 + "\n"}, {x32 + "y", one},      {"S1,S1", one},
        {"S 1", one},      {"a,,b", one},         {"S1,", one},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        const ProbeRun r =
            run_program(TAPSIM_ADAPTER_CLIENT_PATH, {"list"},
                        {"TAPSIM_ADAPTERS=" + c[0],
                         "TAPSIM_EXTRA_DEVICES=0403:6010", record_var()});
        EXPECT_EQ(r.out, c[1]);
        const bool listed = c[1] != one;
        EXPECT_EQ(r.err.find("ignoring TAPSIM_ADAPTERS") == std::string::npos,
                  listed || c[0].empty())
            << r.err;
        const tapsim::Record rec = record();
        ASSERT_GE(rec.devices.size(), 2u);
        EXPECT_FALSE(rec.devices[0].adapter);
        EXPECT_EQ(rec.devices[1].serial,
                  listed ? c[1].substr(0, c[1].find('\n')) : "");
    }
}

TEST_F(Adapters, AClaimHeldElsewhereIsBusyOnItsOwnAdapterOnly)
{
    const std::string me = TAPSIM_ADAPTER_CLIENT_PATH;
    struct Case {
        std::vector<std::string> then;
        bool state;
        std::string out;
    };
    const Case cases[] = {
        {{me, "claim", "S1"}, true, "claim=ok\nclaim=busy\n"},
        {{me, "claim", "S2"}, true, "claim=ok\nclaim=ok\n"},
        {{me, "list"}, true, "claim=ok\nS1\nS2\n"}, // opens need no claim
        {{me, "claim", "S1"}, false, "claim=ok\nclaim=ok\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"claim", "S1"};
        args.insert(args.end(), c.then.begin(), c.then.end());
        EXPECT_EQ(client(args, {}, c.state).out, c.out);
    }
    EXPECT_EQ(client({"claim", "S1"}).out, "claim=ok\n"); // released
}

TEST_F(Adapters, EachAdapterKeepsItsOwnBoardBetweenRuns)
{
    const std::string board = dir_ + "/board";
    ASSERT_EQ(client({"jprogram", "S1"}).status, 0);
    EXPECT_EQ(access((board + ".S1").c_str(), F_OK), 0);
    EXPECT_NE(access((board + ".S2").c_str(), F_OK), 0); // never claimed
    EXPECT_NE(access(board.c_str(), F_OK), 0);
    // A claim loads the adapter's own board: S1's cleared, S2's as at
    // power-up.
    for (const std::string serial : {"S1", "S2", "S1"}) {
        EXPECT_EQ(client({"claim", serial}, {record_var()}).out, "claim=ok\n");
        const tapsim::ConfigRecord *c = record().config_of(serial, 0);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->done, serial == "S2") << serial;
    }
    // A damaged file: the claim fails and says why; the file stays.
    ASSERT_EQ(truncate((board + ".S1").c_str(), 40), 0);
    const ProbeRun refused = client({"claim", "S1"});
    EXPECT_EQ(refused.out, "claim=io\n");
    EXPECT_NE(refused.err.find("refusing state file " + board + ".S1"),
              std::string::npos)
        << refused.err;
    struct stat st {};
    EXPECT_EQ(stat((board + ".S1").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 40);
}

TEST_F(Adapters, TheRecordNamesTheAdapterOfEachTransfer)
{
    ASSERT_EQ(client({"jprogram", "S2"}, {record_var()}, false).status, 0);
    const tapsim::Record r = record();
    ASSERT_FALSE(r.bulk.empty());
    for (const tapsim::BulkTransfer &b : r.bulk)
        EXPECT_EQ(r.serial_of(b.device), "S2");
    for (const tapsim::ControlTransfer &c : r.controls)
        EXPECT_EQ(r.serial_of(c.device), "S2");
    std::ostringstream text;
    tapsim::write_record(text, r);
    std::ifstream file(path_);
    EXPECT_EQ(text.str(), std::string(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()));
    EXPECT_NE(text.str().find("\nconfig adapter=S2 "), std::string::npos);
}
