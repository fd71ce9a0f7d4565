// One bit file image read both ways the reader can be handed one, for the
// fuzzer and for the regression tests of what it found.
#ifndef TAPLINE_FUZZ_BITFILE_CHECK_H
#define TAPLINE_FUZZ_BITFILE_CHECK_H

#include <stddef.h>
#include <stdint.h>

struct BitstreamInfo;

struct HeaderRead {
    int result;          // bitfile_read_header's, or -2 if no FILE was had
    int error;           // errno after a failed read, else 0
    BitstreamInfo *info; // allocated zeroed; free with bitfile_free
};

// Through a stream of unknown size (fmemopen; /dev/null when empty, which
// fmemopen refuses): the reader grows its buffers as data arrives.
HeaderRead read_as_stream(const uint8_t *data, size_t size);

// Through a regular file of known size (an in-memory memfd): the reader
// checks each length against what is left before allocating.
HeaderRead read_as_file(const uint8_t *data, size_t size);

// Null when both reads came out the same (result, errno, every field),
// else which part differs.
const char *read_difference(const HeaderRead &a, const HeaderRead &b);

// Reads data both ways, prints the header of an accepted file, frees
// everything. Returns read_difference's answer; *accepted tells whether
// the reader took the file.
const char *check_bitfile(const uint8_t *data, size_t size, bool *accepted);

#endif
