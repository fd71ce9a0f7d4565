#include "bitstream/mirror.h"

#include <string.h>

// The mirror is the one pass the CPU makes over a whole bitstream. On
// x86-64 an AVX2 build of it is picked at load time where the CPU has it
// (GCC: clang names the clones so another unit cannot link them).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void bitstream_mirror(unsigned char *dst, const unsigned char *src, uint32_t n)
{
    // Swap nibbles, then bit pairs, then neighbours: eight bytes per step.
    // Every mask is the same in each byte, so byte order does not matter.
    // n - i, not i + 8: near 4 GiB the sum would wrap.
    uint32_t i = 0;
    for (; n - i >= 8; i += 8) {
        uint64_t x;
        memcpy(&x, src + i, 8);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) |
            ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
        x = ((x >> 2) & 0x3333333333333333ULL) |
            ((x & 0x3333333333333333ULL) << 2);
        x = ((x >> 1) & 0x5555555555555555ULL) |
            ((x & 0x5555555555555555ULL) << 1);
        memcpy(dst + i, &x, 8);
    }
    for (; i < n; i++) {
        unsigned b = src[i];
        b = ((b >> 4) & 0x0F) | ((b & 0x0F) << 4);
        b = ((b >> 2) & 0x33) | ((b & 0x33) << 2);
        b = ((b >> 1) & 0x55) | ((b & 0x55) << 1);
        dst[i] = (unsigned char)b;
    }
}
