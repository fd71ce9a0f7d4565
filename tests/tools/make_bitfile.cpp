// Writes a generated bit file:
//   make_bitfile OUT [SIZE] [--mirrored] [--family=F [--idcode=CODE] [--cut]]
//                [--stacked] [--flip BIT]
// SIZE is the bitstream length in bytes (default 4096). --mirrored stores
// every bitstream byte bit-reversed, which no FPGA should accept. --flip
// inverts one bit after the CRC words are computed, BIT counted from the
// first bit of the bitstream (the most significant bit of its first byte),
// before any mirroring: the device's CRC check must then refuse the load.
// --family (3e, 3a, 6, 7, us, us+) writes that family's packets with an ID
// code write (CODE, default the family's example part); --cut ends the
// stream before its START command; --part names the part in the header.
// --stacked writes a VU9P stream (UltraScale+): the master's, then each
// slave SLR's nested in the forwarding write of the one before, each of
// about SIZE bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitfile_writer.h"

namespace {

bool family_named(const char *name, bitgen::Family &out)
{
    static const struct {
        const char *name;
        bitgen::Family family;
    } names[] = {{"3e", bitgen::Family::Spartan3E},
                 {"3a", bitgen::Family::Spartan3A},
                 {"6", bitgen::Family::Spartan6},
                 {"7", bitgen::Family::Series7},
                 {"us", bitgen::Family::UltraScale},
                 {"us+", bitgen::Family::UltraScalePlus}};
    for (const auto &n : names) {
        if (std::strcmp(n.name, name) == 0) {
            out = n.family;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: make_bitfile OUT [SIZE] [--mirrored] "
                        "[--family=3e|3a|6|7|us|us+ [--idcode=CODE] [--cut]] "
                        "[--stacked] [--part=NAME] [--flip BIT]\n";
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    size_t size = 4096;
    bool mirror = false, family = false, idcode_given = false;
    long long flip = -1;
    const char *part = nullptr;
    bitgen::StreamPlan plan;
    for (int i = 2; i < argc; i++) {
        const char *a = argv[i];
        if (std::strcmp(a, "--mirrored") == 0) {
            mirror = true;
        } else if (std::strncmp(a, "--family=", 9) == 0) {
            family = true;
            if (!family_named(a + 9, plan.family)) {
                std::fputs(usage, stderr);
                return 2;
            }
        } else if (std::strncmp(a, "--idcode=", 9) == 0) {
            idcode_given = true;
            plan.idcode =
                static_cast<uint32_t>(std::strtoul(a + 9, nullptr, 0));
        } else if (std::strncmp(a, "--part=", 7) == 0) {
            part = a + 7;
        } else if (std::strcmp(a, "--flip") == 0 && i + 1 < argc) {
            flip = std::strtoll(argv[++i], nullptr, 0);
        } else if (std::strncmp(a, "--flip=", 7) == 0) {
            flip = std::strtoll(a + 7, nullptr, 0);
        } else if (std::strcmp(a, "--stacked") == 0) {
            family = true;
            plan.family = bitgen::Family::UltraScalePlus;
            plan.slaves = bitgen::vu9p_slaves();
        } else if (std::strcmp(a, "--cut") == 0) {
            plan.cut_before_start = true;
        } else {
            size = std::strtoul(a, nullptr, 0);
        }
    }
    bitgen::Header header;
    bitgen::Bytes stream;
    if (family) {
        const bool stacked = !plan.slaves.empty();
        if (!idcode_given)
            plan.idcode = stacked ? bitgen::kVu9pIdcode
                                  : bitgen::example_idcode(plan.family);
        plan.size = size;
        header.part =
            stacked ? "vu9pflga2104" : bitgen::example_part(plan.family);
        stream = bitgen::family_stream(plan);
    } else {
        stream = bitgen::config_stream(size);
    }
    if (flip >= 0)
        bitgen::flip_bit(stream, static_cast<uint64_t>(flip));
    if (part)
        header.part = part;
    if (mirror)
        stream = bitgen::mirrored(stream);
    if (!bitgen::write_file(argv[1], bitgen::make_bitfile(header, stream))) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
