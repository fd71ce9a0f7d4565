#include "run_tool.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
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

// A pseudo-terminal whose slave passes bytes through as written.
bool open_raw_pty(int *master, int *slave)
{
    if (openpty(master, slave, nullptr, nullptr, nullptr) != 0)
        return false;
    struct termios t;
    if (tcgetattr(*slave, &t) == 0) {
        t.c_oflag &= ~OPOST; // no newline translation
        tcsetattr(*slave, TCSANOW, &t);
    }
    return true;
}

// Writes input to in_fd and reads tty_fd until the child has closed it;
// either may be -1. Both at once, so neither side can stall the other.
// Closes both.
void exchange(int in_fd, const std::string &input, int tty_fd, std::string *tty)
{
    size_t fed = 0;
    if (in_fd >= 0)
        fcntl(in_fd, F_SETFL, fcntl(in_fd, F_GETFL) | O_NONBLOCK);
    while (in_fd >= 0 || tty_fd >= 0) {
        if (in_fd >= 0 && fed == input.size()) {
            close(in_fd); // end of input
            in_fd = -1;
            continue;
        }
        struct pollfd fds[2];
        nfds_t n = 0;
        if (in_fd >= 0)
            fds[n++] = {in_fd, POLLOUT, 0};
        if (tty_fd >= 0)
            fds[n++] = {tty_fd, POLLIN, 0};
        if (poll(fds, n, -1) < 0 && errno != EINTR)
            break;
        if (in_fd >= 0 && fds[0].revents) {
            ssize_t w = write(in_fd, input.data() + fed, input.size() - fed);
            if (w > 0)
                fed += (size_t)w;
            else if (errno != EAGAIN && errno != EINTR)
                fed = input.size(); // the tool stopped reading
        }
        if (tty_fd >= 0 && fds[n - 1].revents) {
            char bytes[4096];
            ssize_t r = read(tty_fd, bytes, sizeof bytes);
            if (r > 0) {
                tty->append(bytes, (size_t)r);
            } else if (r == 0 || errno != EINTR) {
                close(tty_fd); // EIO: every slave descriptor is closed
                tty_fd = -1;
            }
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    if (tty_fd >= 0)
        close(tty_fd);
}

} // namespace

ToolRun run_tool(const std::vector<std::string> &args, const EnvList &env,
                 const Streams &streams)
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
    int in_pipe[2] = {-1, -1}, tty_master = -1, tty_slave = -1;
    if (streams.input && pipe(in_pipe) != 0)
        return run;
    if (streams.error_on_tty && !open_raw_pty(&tty_master, &tty_slave))
        return run;
    // A tool that stops reading its input must not kill the test.
    void (*old_sigpipe)(int) = signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        const std::string out_file = streams.output_to.value_or(out_path);
        int out = out_file.empty() ? dup(0)
                                   : open(out_file.c_str(),
                                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = tty_slave >= 0 ? tty_slave
                                 : open(err_path.c_str(),
                                        O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = in_pipe[0] >= 0 ? in_pipe[0] : open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (out_file.empty())
            close(1);
        // Only the child's ends: its input must see end of file.
        if (in_pipe[1] >= 0)
            close(in_pipe[1]);
        if (tty_master >= 0)
            close(tty_master);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (in_pipe[0] >= 0)
        close(in_pipe[0]);
    if (tty_slave >= 0)
        close(tty_slave);
    std::string tty;
    exchange(in_pipe[1], streams.input ? *streams.input : std::string(),
             tty_master, &tty);
    signal(SIGPIPE, old_sigpipe);
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
        if (WIFEXITED(wstatus))
            run.status = WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) {
            run.signal = WTERMSIG(wstatus);
            run.status = 128 + run.signal; // as a shell reports it
        }
    }
    run.out = slurp(out_path);
    run.err = streams.error_on_tty ? tty : slurp(err_path);
    if (access(record.c_str(), F_OK) == 0) {
        run.record_text = slurp(record);
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
