#include "record_exit.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include <unistd.h>

#include "world.h"

namespace tapsim {
namespace {

// The signals whose default action ends the process: crashes (an aborting
// client included) and the ways a time limit or a terminal stops it.
constexpr int kEndingSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE,
                                  SIGTERM, SIGINT, SIGHUP};
constexpr size_t kSignalCount = std::size(kEndingSignals);

struct sigaction g_previous[kSignalCount];
bool g_caught[kSignalCount];
// A forked child inherits the hooks; only the process that used the bench
// writes its record.
pid_t g_owner = 0;

bool set(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

void write_final(int signal)
{
    if (g_owner != getpid())
        return;
    std::string error;
    if (set("TAPSIM_RECORD") &&
        !World::write_final_record(std::getenv("TAPSIM_RECORD"), signal,
                                   &error))
        std::fprintf(stderr, "tapsim: %s\n", error.c_str());
    if (!World::write_final_state(&error))
        std::fprintf(stderr, "tapsim: %s\n", error.c_str());
}

void at_exit()
{
    write_final(0);
}

void restore_all()
{
    for (size_t i = 0; i < kSignalCount; ++i)
        if (g_caught[i])
            sigaction(kEndingSignals[i], &g_previous[i], nullptr);
}

// Not async-signal-safe, as a crash handler can hardly be: writing the
// record allocates. With the old dispositions back first, a fault while
// writing still ends the process.
void on_signal(int signal)
{
    const int saved_errno = errno;
    restore_all();
    write_final(signal);
    errno = saved_errno;
    // Blocked until this handler returns; then it takes its course.
    raise(signal);
}

void catch_ending_signals()
{
    struct sigaction ours = {};
    ours.sa_handler = on_signal;
    sigemptyset(&ours.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) {
        struct sigaction old;
        // A signal the client handles or ignores does not end it: leave
        // it alone; the record then comes at exit.
        if (sigaction(kEndingSignals[i], nullptr, &old) != 0 ||
            old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO))
            continue;
        g_previous[i] = old;
        g_caught[i] = sigaction(kEndingSignals[i], &ours, nullptr) == 0;
    }
}

} // namespace

void write_record_at_end()
{
    g_owner = getpid();
    std::atexit(at_exit);
    if (set("TAPSIM_RECORD") || set("TAPSIM_STATE"))
        catch_ending_signals();
}

} // namespace tapsim
