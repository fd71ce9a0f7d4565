// Wall-clock milliseconds for the tool's bounded waits.
#ifndef TAPLINE_LINK_CLOCK_H
#define TAPLINE_LINK_CLOCK_H

// Milliseconds since boot, modulo 2^32 on the target: there long is 32 bits
// and a signed count would overflow after 24.8 days of uptime. Only
// differences are used, and unsigned subtraction gets them right across
// the wrap.
unsigned long clock_ms();

#endif
