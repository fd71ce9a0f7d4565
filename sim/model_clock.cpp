#include "model_clock.h"

#include <mutex>

namespace tapsim {
namespace {

// Both constant-initialised, so the clock works for calls made before this
// library's constructors ran. A mutex rather than an atomic: 64-bit atomics
// are not lock-free on the 32-bit target.
std::mutex g_clock_mutex;
uint64_t g_ticks = 0;

} // namespace

uint64_t model_now()
{
    std::lock_guard<std::mutex> guard(g_clock_mutex);
    return g_ticks;
}

uint64_t model_advance(uint64_t ticks)
{
    std::lock_guard<std::mutex> guard(g_clock_mutex);
    g_ticks += ticks;
    return g_ticks;
}

uint64_t model_advance_to(uint64_t when)
{
    std::lock_guard<std::mutex> guard(g_clock_mutex);
    if (when > g_ticks)
        g_ticks = when;
    return g_ticks;
}

uint64_t model_now_unguarded()
{
    std::unique_lock<std::mutex> guard(g_clock_mutex, std::try_to_lock);
    return g_ticks;
}

} // namespace tapsim
