#include "run_tool.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The parent's environment without anything that would steer the child's
// simulator or preload, then the run's own settings.
std::vector<std::string> child_env(const std::string &record,
                                   const EnvList &env)
{
    std::vector<std::string> out;
    for (char **e = environ; *e; e++) {
        if (std::strncmp(*e, "TAPSIM_", 7) != 0 &&
            std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
            out.push_back(*e);
    }
    std::string preload = TAPSIM_PRELOAD;
#ifdef TAPLINE_ASAN_RUNTIME
    // The sanitizer runtime must be the first object loaded.
    preload = std::string(TAPLINE_ASAN_RUNTIME) + ":" + preload;
#endif
    out.push_back("LD_PRELOAD=" + preload);
    out.push_back("TAPSIM_RECORD=" + record);
    for (const auto &[name, value] : env)
        out.push_back(name + "=" + value);
    return out;
}

} // namespace

ToolRun run_tool(const std::vector<std::string> &args, const EnvList &env)
{
    char dir_template[] = "/tmp/tapline-run-XXXXXX";
    std::string dir = mkdtemp(dir_template);
    std::string out_path = dir + "/out", err_path = dir + "/err",
                record = dir + "/record";

    std::vector<std::string> envs = child_env(record, env);
    std::vector<std::string> argv_s = {TAPLINE_BIN};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv, envp;
    for (std::string &a : argv_s)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : envs)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    ToolRun run;
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    run.out = slurp(out_path);
    run.err = slurp(err_path);
    if (access(record.c_str(), F_OK) == 0) {
        std::string error;
        run.has_record = tapsim::read_record_file(record, run.record, &error);
        if (!run.has_record)
            run.err += "[unreadable record: " + error + "]";
    }
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    unlink(record.c_str());
    rmdir(dir.c_str());
    return run;
}
