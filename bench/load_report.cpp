// load_report RECORD LENGTH: wire figures of one load from the simulated
// adapter's record: TCK cycles and USB writes against the pure data.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tapsim.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: load_report RECORD LENGTH\n", stderr);
        return 2;
    }
    tapsim::Record rec;
    std::string error;
    if (!tapsim::read_record_file(argv[1], rec, &error)) {
        std::fprintf(stderr, "load_report: %s\n", error.c_str());
        return 1;
    }
    const double length = std::strtod(argv[2], nullptr);
    const double rate = rec.clock_base_hz / ((1.0 + rec.divisor) * 2.0);
    const double data_bits = 8.0 * length;
    unsigned long bulk_writes = 0, big_writes = 0;
    for (const auto &b : rec.bulk) {
        if (!b.in && b.device == rec.adapter_index()) {
            bulk_writes++;
            big_writes += b.requested > 64;
        }
    }
    unsigned long commands = 0, chunk_commands = 0;
    for (const auto &m : rec.commands) {
        commands++;
        chunk_commands += m.opcode == 0x19;
    }
    std::printf("TCK rate                 %.0f Hz (divisor %u)\n", rate,
                rec.divisor);
    std::printf("data bits                %.0f  -> pure data time %.3f s\n",
                data_bits, data_bits / rate);
    std::printf("TCK cycles clocked       %llu -> wire time %.3f s\n",
                (unsigned long long)rec.tck_cycles, rec.wire_seconds);
    std::printf("TAP overhead             %.0f TCK cycles (%.6f s)\n",
                rec.tck_cycles - data_bits,
                (rec.tck_cycles - data_bits) / rate);
    std::printf(
        "USB bulk writes          %lu (%lu carrying chunk data, %lu small)\n",
        bulk_writes, big_writes, bulk_writes - big_writes);
    std::printf("MPSSE commands           %lu (%lu chunk commands)\n", commands,
                chunk_commands);
    std::printf("FPGA                     sync=%d done=%d config_bits=%llu\n",
                rec.sync_seen, rec.done, (unsigned long long)rec.config_bits);
    return 0;
}
