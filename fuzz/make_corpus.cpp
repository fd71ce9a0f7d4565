// Writes the fuzzer's seed corpus into a directory: well-formed bit files
// of several sizes and the odd shapes the reader has to cope with.
//   make_corpus DIR
#include <cstdio>
#include <string>

#include "bitfile_writer.h"

using bitgen::Bytes;

namespace {

Bytes with_tail(Bytes file, const Bytes &tail)
{
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

Bytes cut(Bytes file, size_t keep)
{
    file.resize(keep < file.size() ? keep : file.size());
    return file;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: make_corpus DIR\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    int failed = 0;
    auto put = [&](const char *name, const Bytes &bytes) {
        if (!bitgen::write_file(dir + "/" + name + ".bit", bytes)) {
            std::perror(name);
            failed = 1;
        }
    };

    const bitgen::Header header;
    // Well-formed, around the reader's first 64 KiB growth step too.
    put("small", bitgen::make_bitfile(header, bitgen::config_stream(64)));
    put("medium", bitgen::make_bitfile(header, bitgen::config_stream(1000)));
    put("page", bitgen::make_bitfile(header, bitgen::config_stream(4096)));
    put("step", bitgen::make_bitfile(header, Bytes(65536, 0x5A)));
    put("step_plus_one", bitgen::make_bitfile(header, Bytes(65537, 0xA5)));
    put("one_byte", bitgen::make_bitfile(header, {0xFF}));

    Bytes only_e = bitgen::magic();
    bitgen::put_field(only_e, 'e', {0xAA, 0x99, 0x55, 0x66});
    put("only_bitstream", only_e);

    Bytes some_texts = bitgen::magic();
    bitgen::put_text(some_texts, 'a', "design.ncd");
    bitgen::put_text(some_texts, 'd', "12:00:00");
    bitgen::put_field(some_texts, 'e', {1, 2, 3});
    put("missing_texts", some_texts);

    Bytes repeated = bitgen::magic();
    bitgen::put_text(repeated, 'a', "first");
    bitgen::put_text(repeated, 'b', "part");
    bitgen::put_text(repeated, 'a', "second");
    bitgen::put_text(repeated, 'd', "1");
    bitgen::put_text(repeated, 'd', "2");
    bitgen::put_field(repeated, 'e', {0x00});
    put("repeated_keys", repeated);

    Bytes unknown = bitgen::magic();
    bitgen::put_text(unknown, 'x', "ignored");
    bitgen::put_field(unknown, 'E', {1, 2});
    bitgen::put_field(unknown, '\0', {});
    bitgen::put_text(unknown, 'c', "2026/01/01");
    bitgen::put_field(unknown, 'f', Bytes(300, 'f'));
    bitgen::put_field(unknown, 'e', {0x20, 0x00, 0x00, 0x00});
    put("unknown_keys", unknown);

    Bytes empty_texts = bitgen::magic();
    for (char key : {'a', 'b', 'c', 'd'})
        bitgen::put_field(empty_texts, key, {});
    bitgen::put_field(empty_texts, 'e', {0x01});
    put("empty_texts", empty_texts);

    // No terminator, or one in the middle: the last byte is overwritten.
    Bytes odd_texts = bitgen::magic();
    bitgen::put_field(odd_texts, 'a', {'a', 'b', 'c'});
    bitgen::put_field(odd_texts, 'b', {'x', 0, 'y', 0});
    bitgen::put_field(odd_texts, 'c', {0});
    bitgen::put_field(odd_texts, 'e', {0x55, 0x55});
    put("odd_texts", odd_texts);

    Bytes empty_stream = bitgen::magic();
    bitgen::put_text(empty_stream, 'a', "x");
    bitgen::put_field(empty_stream, 'e', {});
    put("empty_bitstream", empty_stream);

    // Lengths the file cannot hold.
    put("bitstream_too_long",
        with_tail(bitgen::magic(), {'e', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
    put("text_too_long", with_tail(bitgen::magic(), {'a', 0xFF, 0xFF, 'x'}));
    put("bitstream_cut",
        cut(bitgen::make_bitfile(header, bitgen::config_stream(256)), 200));

    Bytes two_streams = bitgen::make_bitfile(header, {1, 2, 3, 4});
    bitgen::put_field(two_streams, 'e', {5, 6});
    put("two_bitstreams", with_tail(two_streams, Bytes(16, 0xEE)));

    Bytes bad_magic = bitgen::make_bitfile(header, {1});
    bad_magic[12] = 0x02;
    put("bad_magic", bad_magic);
    put("magic_only", bitgen::magic());
    put("empty", {});
    return failed;
}
