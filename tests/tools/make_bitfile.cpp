// Writes a generated bit file: make_bitfile OUT [SIZE] [--mirrored]
// SIZE is the bitstream length in bytes (default 4096). --mirrored stores
// every bitstream byte bit-reversed, which no FPGA should accept.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitfile_writer.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: make_bitfile OUT [SIZE] [--mirrored]\n", stderr);
        return 2;
    }
    size_t size = 4096;
    bool mirror = false;
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--mirrored") == 0)
            mirror = true;
        else
            size = std::strtoul(argv[i], nullptr, 0);
    }
    bitgen::Bytes stream = bitgen::config_stream(size);
    if (mirror)
        stream = bitgen::mirrored(stream);
    if (!bitgen::write_file(argv[1], bitgen::make_bitfile({}, stream))) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
