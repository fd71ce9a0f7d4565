#include "cli/output.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

void report(int err)
{
    fprintf(stderr, "Can't write standard output: %s\n", strerror(err));
}

} // namespace

int output_flush()
{
    errno = 0;
    const bool flush_failed = fflush(stdout) != 0;
    int err = errno;
    if (!flush_failed && !ferror(stdout))
        return 0;
    // A write that failed before this flush left its flag but not its
    // reason: errno has been reused since.
    if (!flush_failed || err == 0)
        err = EIO;
    report(err);
    // Said once: the entry's last check must not say it again.
    clearerr(stdout);
    return -1;
}

int output_close()
{
    if (output_flush() != 0) {
        fclose(stdout);
        return -1;
    }
    errno = 0;
    // Nothing is pending after the flush: a descriptor closed before the
    // run (EBADF) lost nothing.
    if (fclose(stdout) != 0 && errno != EBADF) {
        report(errno);
        return -1;
    }
    return 0;
}
