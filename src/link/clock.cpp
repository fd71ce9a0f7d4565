#include "link/clock.h"

#include <time.h>

unsigned long clock_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (unsigned long)ts.tv_sec * 1000UL +
           (unsigned long)ts.tv_nsec / 1000000UL;
}
