// The bench's clock: model time in ticks of 60 MHz (variant.h), one per
// process. TCK cycles, bulk transfers and the client's sleeps advance it;
// the client's monotonic clocks read it (clock_interpose.cpp). It never
// goes back, not even across tapsim::reset(): a client may hold a reading
// from before. Safe from any thread; it takes no other lock, so the bench
// may ask it while holding World::lock().
#pragma once

#include <cstdint>

namespace tapsim {

// Model time now, without moving it.
uint64_t model_now();

// Moves model time on by ticks; returns the new time.
uint64_t model_advance(uint64_t ticks);

// Moves model time on to when, unless it is already past; returns the new
// time.
uint64_t model_advance_to(uint64_t when);

// For a process that is ending: the time now even if the thread it
// interrupted holds the clock.
uint64_t model_now_unguarded();

// Makes the process's sleeps and monotonic clocks model time
// (clock_interpose.cpp). Called as the bench is created, which also makes
// every link of the static form take the calls in.
void own_client_time();

} // namespace tapsim
