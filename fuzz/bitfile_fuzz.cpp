// libFuzzer target: the bit file reader over arbitrary bytes, read as a
// stream and as a regular file, and the header printout of what it takes.
// Besides memory errors and leaks, the two read paths giving different
// answers for the same bytes is a finding.
#include <stdio.h>
#include <stdlib.h>

#include "bitfile_check.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The header printout goes to standard output; libFuzzer reports on
    // standard error.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool accepted = false;
    const char *difference = check_bitfile(data, size, &accepted);
    if (difference) {
        fprintf(stderr, "read paths disagree on the %s\n", difference);
        abort();
    }
    return 0;
}
