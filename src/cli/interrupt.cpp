#include "cli/interrupt.h"

#include <signal.h>
#include <stddef.h>

namespace {

const int caught_signals[] = {SIGINT, SIGTERM, SIGHUP};
enum : unsigned { CAUGHT_COUNT = sizeof caught_signals / sizeof(int) };

// A handler can reach nothing but globals: the noted signal and what the
// handlers replaced.
volatile sig_atomic_t noted = 0;
struct sigaction previous[CAUGHT_COUNT];
bool installed[CAUGHT_COUNT];

void note(int signal)
{
    noted = signal;
}

} // namespace

void interrupt_catch()
{
    struct sigaction ours = {};
    ours.sa_handler = note;
    sigemptyset(&ours.sa_mask);
    // USB transfers and reads go on as if nothing happened; the chunk loop
    // looks at the note.
    ours.sa_flags = SA_RESTART;
    for (unsigned i = 0; i < CAUGHT_COUNT; i++) {
        if (installed[i] ||
            sigaction(caught_signals[i], nullptr, &previous[i]) != 0 ||
            previous[i].sa_handler == SIG_IGN)
            continue;
        installed[i] = sigaction(caught_signals[i], &ours, nullptr) == 0;
    }
}

int interrupt_pending()
{
    return noted;
}

int interrupt_finish(int status)
{
    const int signal = noted;
    if (signal == 0)
        return status;
    for (unsigned i = 0; i < CAUGHT_COUNT; i++) {
        if (installed[i])
            sigaction(caught_signals[i], &previous[i], nullptr);
        installed[i] = false;
    }
    raise(signal);
    return status;
}
