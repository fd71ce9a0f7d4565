// Throughput of the simulator on a configuration load, driven through the
// real libftdi as a tool would: CFG_IN, then byte shifts of 65,532 bytes.
// Prints CPU seconds per MiB. Usage: tapsim_bench [MiB, default 16]
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "bench.h"

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

bool load(size_t mib, bool keep)
{
    tapsim::Scenario s;
    s.keep_config = keep;
    Bench b(s);
    if (b.open() != 0 || b.mpsse() != 0) {
        std::fprintf(stderr, "cannot open the simulated adapter\n");
        return false;
    }
    b.write(cat({Bench::setup(), reset_to_idle(), load_ir(0x0B), load_ir(0x05),
                 to_shift_dr()}));

    const size_t total = mib << 20;
    const size_t chunk = 65532;
    Bytes cmd(3 + chunk);
    uint32_t x = 0x12345678;
    for (size_t i = 3; i < cmd.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        cmd[i] = static_cast<uint8_t>(x >> 24);
    }
    const uint8_t sync[4] = {0x55, 0x99, 0xAA,
                             0x66}; // 0xAA995566, each byte mirrored
    for (int i = 0; i < 4; ++i)
        cmd[3 + 16 + i] = sync[i];

    // All but the last byte in long shifts; the last bit leaves Shift-DR.
    const double start = cpu_seconds();
    for (size_t sent = 0; sent < total - 1;) {
        const size_t n = std::min(chunk, total - 1 - sent);
        cmd[0] = 0x19;
        cmd[1] = static_cast<uint8_t>((n - 1) & 0xFF);
        cmd[2] = static_cast<uint8_t>((n - 1) >> 8);
        if (b.write(
                Bytes(cmd.begin(), cmd.begin() + 3 + static_cast<long>(n))) !=
            static_cast<int>(3 + n)) {
            std::fprintf(stderr, "write failed\n");
            return false;
        }
        sent += n;
    }
    b.write(mp::shift({cmd[3]}, 8, true, false));
    const double cpu = cpu_seconds() - start;
    b.write(cat({exit_to_idle(), load_ir(0x0C), mp::tms(0, 7), mp::tms(0, 7)}));

    const tapsim::Record &r = tapsim::record();
    const double mb = static_cast<double>(total) / (1 << 20);
    std::printf("%zu MiB, packed bits %-4s: %.3f s CPU, %.4f s/MiB; %llu "
                "config bits, DONE %s, "
                "wire time at 6 MHz %.1f s\n",
                mib, keep ? "kept" : "off", cpu, cpu / mb,
                static_cast<unsigned long long>(r.config_bits),
                r.done ? "high" : "low", r.wire_seconds);
    return r.config_bits == total * 8 && r.done;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const bool ok = load(mib, true) && load(mib, false);
    return ok ? 0 : 1;
}
