// Throughput of the simulator on a configuration load, driven through the
// real libftdi as a tool would: JPROGRAM, the clearing time, CFG_IN, then
// byte shifts of 65,532 bytes.
// Prints CPU seconds per MiB. Usage: tapsim_bench [MiB, default 16] [chain]
// With chain the FPGA sits between a debug port and a PROM in BYPASS: the
// load pays for their bits only.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "bench.h"
#include "bitfile_writer.h"

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Loads code into the FPGA, BYPASS into the devices beside it on a chain
// (the PROM nearest TDO takes the first bits).
Bytes instruction(uint8_t code, bool chain)
{
    if (!chain)
        return load_ir(code);
    const uint32_t bits = 0xFFu | uint32_t{code} << 8 | 0xFu << 14;
    return cat(
        {to_shift_ir(),
         mp::shift({static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                    static_cast<uint8_t>(bits >> 16)},
                   18, true, false),
         exit_to_idle()});
}

bool load(size_t mib, bool keep, bool chain)
{
    // A 7-series stream: the engine walks its packets and checks its ID.
    tapsim::Scenario s;
    s.keep_config = keep;
    s.idcode = 0x0362D093;
    if (chain) {
        using K = tapsim::ChainEntry::Kind;
        s.chain = {{K::Device, true, 0x4BA00477, 4},
                   {K::Fpga, true, 0, 6},
                   {K::Device, true, 0x05046093, 8}};
    }
    Bench b(s);
    if (b.open() != 0 || b.mpsse() != 0) {
        std::fprintf(stderr, "cannot open the simulated adapter\n");
        return false;
    }
    b.write(cat({Bench::setup(), reset_to_idle(), instruction(0x0B, chain)}));
    // 5 ms of clearing: 30,000 TCK in Run-Test/Idle at 6 MHz.
    Bytes idle;
    for (int i = 0; i < 30000 / 7 + 1; ++i)
        idle.insert(idle.end(), {0x4B, 0x06, 0x00});
    b.write(cat({idle, instruction(0x05, chain), to_shift_dr()}));

    bitgen::StreamPlan plan;
    plan.family = bitgen::Family::Series7;
    plan.idcode = s.idcode;
    plan.size = mib << 20;
    // Shifted LSB first, so each byte goes out mirrored.
    const Bytes stream = bitgen::mirrored(bitgen::family_stream(plan));
    const size_t total = stream.size();
    const size_t chunk = 65532;
    Bytes cmd(3 + chunk);

    // All but the last byte in long shifts; the last bit leaves Shift-DR.
    const double start = cpu_seconds();
    for (size_t sent = 0; sent < total - 1;) {
        const size_t n = std::min(chunk, total - 1 - sent);
        cmd[0] = 0x19;
        cmd[1] = static_cast<uint8_t>((n - 1) & 0xFF);
        cmd[2] = static_cast<uint8_t>((n - 1) >> 8);
        std::copy(stream.begin() + static_cast<long>(sent),
                  stream.begin() + static_cast<long>(sent + n),
                  cmd.begin() + 3);
        if (b.write(
                Bytes(cmd.begin(), cmd.begin() + 3 + static_cast<long>(n))) !=
            static_cast<int>(3 + n)) {
            std::fprintf(stderr, "write failed\n");
            return false;
        }
        sent += n;
    }
    // On the chain one more bit pushes the last one through the debug port.
    b.write(mp::shift({stream.back(), 0}, chain ? 9 : 8, true, false));
    const double cpu = cpu_seconds() - start;
    b.write(cat({exit_to_idle(), instruction(0x0C, chain), mp::tms(0, 7),
                 mp::tms(0, 7)}));

    const tapsim::Record &r = tapsim::record();
    const double mb = static_cast<double>(total) / (1 << 20);
    std::printf("%s%zu MiB, packed bits %-4s: %.3f s CPU, %.4f s/MiB; %llu "
                "config bits, DONE %s, "
                "wire time at 6 MHz %.1f s, model time %.1f s\n",
                chain ? "chain: " : "", mib, keep ? "kept" : "off", cpu,
                cpu / mb, static_cast<unsigned long long>(r.config_bits),
                r.done ? "high" : "low", r.wire_seconds, r.time_us * 1e-6);
    // The debug port's bypass bit arrives first.
    return r.config_bits == total * 8 + (chain ? 1 : 0) && r.done;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const bool chain = argc > 2 && std::string(argv[2]) == "chain";
    const bool ok = load(mib, true, chain) && load(mib, false, chain);
    return ok ? 0 : 1;
}
