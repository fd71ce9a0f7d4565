// Cost of preparing a bitstream for the wire (bit mirror of the whole
// stream, then framing each chunk into the transfer buffer) against a plain
// memcpy of the same bytes. Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bitstream/mirror.h"
#include "link/queue.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn> double best_seconds(Fn fn, int rounds)
{
    double best = 1e9;
    for (int r = 0; r < rounds; r++) {
        auto t0 = Clock::now();
        fn();
        std::chrono::duration<double> d = Clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

void measure(size_t size, int rounds)
{
    std::vector<unsigned char> src(size), dst(size), buf(QUEUE_BUFFER_SIZE);
    for (size_t i = 0; i < size; i++)
        src[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    volatile unsigned sink = 0;

    double copy = best_seconds(
        [&] {
            std::memcpy(dst.data(), src.data(), size);
            sink = sink + dst[size / 2];
        },
        rounds);
    double prepare = best_seconds(
        [&] {
            bitstream_mirror(dst.data(), src.data(),
                             static_cast<uint32_t>(size));
            for (size_t off = 0; off < size; off += 65532) {
                uint32_t n =
                    static_cast<uint32_t>(std::min<size_t>(65532, size - off));
                MpsseQueue q;
                queue_init(&q, nullptr, buf.data());
                std::memcpy(queue_bytes_slot(&q, n), dst.data() + off, n);
                sink = sink + buf[3];
            }
        },
        rounds);
    std::printf(
        "%8zu KiB  memcpy %8.3f ms (%6.2f GB/s)  mirror+framing %8.3f ms "
        "(%6.2f GB/s)  ratio %.2f\n",
        size / 1024, copy * 1e3, size / copy / 1e9, prepare * 1e3,
        size / prepare / 1e9, prepare / copy);
}

} // namespace

int main()
{
    std::puts("bit mirror + chunk framing vs memcpy (best of N rounds)");
    measure(64 * 1024, 2000);
    measure(16 * 1024 * 1024, 30);
    return 0;
}
