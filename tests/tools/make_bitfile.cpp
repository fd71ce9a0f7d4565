// Writes a generated bit file:
//   make_bitfile OUT [SIZE] [--mirrored] [--family=3e|3a|6|7] [--cut]
// SIZE is the bitstream length in bytes (default 4096). --mirrored stores
// every bitstream byte bit-reversed, which no FPGA should accept.
// --family writes that family's packets for its example part (ID code
// write, START, DESYNC) and names the part in the header; --cut ends the
// stream right before START. Without it the plain test stream is written.
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
    } kNames[] = {{"3e", bitgen::Family::Spartan3E},
                  {"3a", bitgen::Family::Spartan3A},
                  {"6", bitgen::Family::Spartan6},
                  {"7", bitgen::Family::Series7}};
    for (const auto &n : kNames) {
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
    const char *usage =
        "usage: make_bitfile OUT [SIZE] [--mirrored] [--family=3e|3a|6|7] "
        "[--cut]\n";
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    size_t size = 4096;
    bool mirror = false, family = false;
    bitgen::StreamSpec spec;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--mirrored") == 0) {
            mirror = true;
        } else if (std::strcmp(argv[i], "--cut") == 0) {
            spec.cut_before_start = true;
        } else if (std::strncmp(argv[i], "--family=", 9) == 0) {
            if (!family_named(argv[i] + 9, spec.family)) {
                std::fputs(usage, stderr);
                return 2;
            }
            family = true;
        } else {
            size = std::strtoul(argv[i], nullptr, 0);
        }
    }
    bitgen::Header header;
    bitgen::Bytes stream;
    if (family) {
        spec.idcode = bitgen::example_idcode(spec.family);
        spec.size = size;
        header.part = bitgen::example_part(spec.family);
        stream = bitgen::family_stream(spec);
    } else {
        stream = bitgen::config_stream(size);
    }
    if (mirror)
        stream = bitgen::mirrored(stream);
    if (!bitgen::write_file(argv[1], bitgen::make_bitfile(header, stream))) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
