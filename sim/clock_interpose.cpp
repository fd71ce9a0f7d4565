// The client's time calls, answered from the bench's clock: a sleep passes
// model time and returns at once, a monotonic clock reads model time. Time
// of day stays the real one. The only code that calls the C library's
// time functions.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "model_clock.h"
#include "variant.h"

namespace {

using tapsim::kTicksPerUs;

constexpr uint64_t kTicksPerS = 1000000 * kTicksPerUs;
// A sleep of over 2,000 years stands for "forever" and keeps clear of
// overflow.
constexpr uint64_t kMaxSeconds = uint64_t{1} << 36;
// Every reading moves the clock on, so a loop that only watches the clock
// still ends.
constexpr uint64_t kTicksPerReading = kTicksPerUs;

using ClockGettime = int (*)(clockid_t, struct timespec *);

ClockGettime real_clock_gettime()
{
    static const ClockGettime next =
        reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return next;
}

int real_time(clockid_t id, struct timespec *tp)
{
    if (ClockGettime next = real_clock_gettime())
        return next(id, tp);
    return static_cast<int>(syscall(SYS_clock_gettime, id, tp));
}

bool model_clock(clockid_t id)
{
    switch (id) {
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME:
        return true;
    default:
        return false;
    }
}

// Clocks a sleep may be measured on; CPU-time clocks are no wait.
bool sleep_clock(clockid_t id)
{
    return model_clock(id) || id == CLOCK_REALTIME || id == CLOCK_TAI;
}

bool valid(const struct timespec *t)
{
    return t && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < 1000000000;
}

// Rounded up: a sleep lasts at least what was asked. 3 ticks per 50 ns.
uint64_t ticks_of(const struct timespec &t)
{
    const uint64_t s = static_cast<uint64_t>(t.tv_sec);
    const uint64_t ns = static_cast<uint64_t>(t.tv_nsec);
    return (s < kMaxSeconds ? s : kMaxSeconds) * kTicksPerS +
           (ns * 3 + 49) / 50;
}

struct timespec timespec_of(uint64_t ticks)
{
    struct timespec t;
    t.tv_sec = static_cast<time_t>(ticks / kTicksPerS);
    t.tv_nsec = static_cast<long>(ticks % kTicksPerS * 50 / 3);
    return t;
}

// An absolute wake-up on a clock that is not model time: as long from now
// as it is on that clock.
int sleep_until_real(clockid_t id, const struct timespec &when)
{
    struct timespec now;
    if (real_time(id, &now) != 0)
        return errno;
    const uint64_t target = ticks_of(when), real_now = ticks_of(now);
    if (target > real_now)
        tapsim::model_advance(target - real_now);
    return 0;
}

} // namespace

namespace tapsim {

void own_client_time()
{
    real_clock_gettime();
}

} // namespace tapsim

extern "C" {

int clock_gettime(clockid_t id, struct timespec *tp) noexcept
{
    if (!model_clock(id))
        return real_time(id, tp);
    *tp = timespec_of(tapsim::model_advance(kTicksPerReading));
    return 0;
}

int clock_nanosleep(clockid_t id, int flags, const struct timespec *req,
                    struct timespec *)
{
    if (!sleep_clock(id) || !valid(req))
        return EINVAL;
    if (!(flags & TIMER_ABSTIME))
        tapsim::model_advance(ticks_of(*req));
    else if (model_clock(id))
        tapsim::model_advance_to(ticks_of(*req));
    else
        return sleep_until_real(id, *req);
    return 0;
}

int nanosleep(const struct timespec *req, struct timespec *)
{
    if (!valid(req)) {
        errno = EINVAL;
        return -1;
    }
    tapsim::model_advance(ticks_of(*req));
    return 0;
}

int usleep(useconds_t us)
{
    tapsim::model_advance(uint64_t{us} * kTicksPerUs);
    return 0;
}

unsigned int sleep(unsigned int seconds)
{
    tapsim::model_advance(uint64_t{seconds} * kTicksPerS);
    return 0;
}

} // extern "C"
