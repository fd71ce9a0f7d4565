// Whole program: tapsim_probe, linked to the system's shared libftdi, run
// with libtapsim.so preloaded and its scenario in TAPSIM_* variables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
