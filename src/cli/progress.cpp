#include "cli/progress.h"

#include <stdio.h>
#include <unistd.h>

#include "link/clock.h"

namespace {

// Whole percent of part in whole, in 32-bit arithmetic: a 64-bit division
// would pull libgcc_s into the target's dependencies. Large loads are
// scaled down first, whole rounded up, so the share never shows more than
// has gone out; 100 only when all has.
unsigned percent_of(uint32_t part, uint32_t whole)
{
    if (part >= whole)
        return 100;
    while (whole > UINT32_MAX / 100) {
        part >>= 1;
        whole = (whole >> 1) + (whole & 1);
    }
    return (unsigned)(part * 100 / whole);
}

} // namespace

ProgressLine::ProgressLine(uint32_t total)
    : on_(isatty(STDERR_FILENO) != 0), total_(total)
{
    if (on_)
        start_ms_ = clock_ms();
}

void ProgressLine::update(uint32_t sent)
{
    if (!on_ || total_ == 0)
        return;
    // Decimal units with one digit after the point; integers only, as the
    // target's C library may print no floating point. Every figure is
    // truncated: none shows more than has gone out.
    const bool mb = total_ >= 1000000;
    const uint32_t tenth = mb ? 100000 : 100;
    unsigned percent = percent_of(sent, total_);
    unsigned long sent_t = sent / tenth;
    unsigned long total_t = total_ / tenth;
    // A byte per millisecond is a kB/s.
    // At least 1 ms, so a rate can be taken.
    unsigned long ms = clock_ms() - start_ms_;
    unsigned long rate = sent / (ms ? ms : 1UL);
    int width =
        fprintf(stderr, "\rLoading %3u%%  %lu.%lu of %lu.%lu %s  %lu kB/s",
                percent, sent_t / 10, sent_t % 10, total_t / 10, total_t % 10,
                mb ? "MB" : "kB", rate);
    if (width < 0)
        return; // the terminal has gone; nothing more to tidy
    // Blank what is left of a longer line before.
    for (int i = width; i < width_; i++)
        fputc(' ', stderr);
    if (width > width_)
        width_ = width;
    drawn_ = true;
}

void ProgressLine::end()
{
    if (drawn_)
        fputc('\n', stderr);
    drawn_ = false;
    on_ = false;
}
