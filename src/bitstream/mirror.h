// The bit order of a bitstream's bytes, reversed for the shifter.
#ifndef TAPLINE_BITSTREAM_MIRROR_H
#define TAPLINE_BITSTREAM_MIRROR_H

#include <stdint.h>

// dst[i] = src[i] with its bit order reversed. The data commands shift
// least significant bit first, so this sends each file byte MSB first.
// dst may be src: the load mirrors in place.
void bitstream_mirror(unsigned char *dst, const unsigned char *src, uint32_t n);

#endif
