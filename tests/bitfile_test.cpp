// Bit file reader: format rules, every way a file can be cut short, and the
// two read paths (regular file with a known size, stream without one).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "bitfile_writer.h"
#include "bitstream/bitfile.h"

using bitgen::Bytes;

namespace {

enum class Source { File, Stream };

// Opens bytes either as a temporary regular file or as an in-memory stream.
class Opened {
  public:
    Opened(const Bytes &bytes, Source source) : copy_(bytes)
    {
        size_t size = bytes.size();
        if (source == Source::Stream) {
            // fmemopen refuses an empty buffer; /dev/null is an empty
            // stream of unknown size just the same.
            file_ = size ? fmemopen(copy_.data(), size, "r")
                         : fopen("/dev/null", "r");
        } else {
            char path[] = "/tmp/tapline-bitfile-XXXXXX";
            int fd = mkstemp(path);
            if (fd >= 0) {
                path_ = path;
                bool ok = write(fd, bytes.data(), size) == (ssize_t)size;
                close(fd);
                if (ok)
                    file_ = fopen(path, "r");
            }
        }
    }
    ~Opened()
    {
        if (file_)
            fclose(file_);
        if (!path_.empty())
            unlink(path_.c_str());
    }
    FILE *get() const { return file_; }

  private:
    Bytes copy_;
    std::string path_;
    FILE *file_ = nullptr;
};

struct Info {
    BitstreamInfo *p =
        static_cast<BitstreamInfo *>(calloc(1, sizeof(BitstreamInfo)));
    ~Info() { bitfile_free(p); }
};

struct Read {
    int result;
    int err;
    long position;
};

Read read_header(const Bytes &bytes, Source source, BitstreamInfo *info)
{
    Opened f(bytes, source);
    EXPECT_NE(f.get(), nullptr);
    errno = 0;
    int r = bitfile_read_header(f.get(), info);
    return {r, errno, ftell(f.get())};
}

Bytes sample_stream()
{
    Bytes s;
    for (int i = 0; i < 300; i++)
        s.push_back(static_cast<uint8_t>(i * 7));
    return s;
}

class BitfileRead : public ::testing::TestWithParam<Source> {};

} // namespace

TEST_P(BitfileRead, ReadsAllFieldsOfAWellFormedFile)
{
    bitgen::Header h;
    Bytes file = bitgen::make_bitfile(h, sample_stream());
    Info info;
    Read r = read_header(file, GetParam(), info.p);
    ASSERT_EQ(r.result, 0);
    EXPECT_STREQ(info.p->design, h.design.c_str());
    EXPECT_STREQ(info.p->part_name, h.part.c_str());
    EXPECT_STREQ(info.p->date, h.date.c_str());
    EXPECT_STREQ(info.p->time, h.time.c_str());
    ASSERT_EQ(info.p->length, 300u);
    EXPECT_EQ(Bytes(info.p->data, info.p->data + 300), sample_stream());
    EXPECT_EQ(r.position, (long)file.size());
}

TEST_P(BitfileRead, RefusesAnySingleBitErrorInTheMagicBeforeReadingFields)
{
    Bytes good = bitgen::make_bitfile({}, sample_stream());
    for (int bit = 0; bit < 13 * 8; bit++) {
        Bytes bad = good;
        bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        Info info;
        Read r = read_header(bad, GetParam(), info.p);
        EXPECT_EQ(r.result, -1) << "bit " << bit;
        EXPECT_EQ(r.err, EINVAL) << "bit " << bit;
        EXPECT_EQ(r.position, 13) << "bit " << bit;
        EXPECT_EQ(info.p->design, nullptr);
    }
}

TEST_P(BitfileRead, RefusesEveryTruncation)
{
    Bytes file = bitgen::make_bitfile({}, sample_stream());
    for (size_t cut = 0; cut < file.size(); cut++) {
        Info info;
        Bytes part(file.begin(), file.begin() + cut);
        Read r = read_header(part, GetParam(), info.p);
        EXPECT_EQ(r.result, -1) << "cut at " << cut;
        EXPECT_EQ(r.err, EINVAL) << "cut at " << cut;
        EXPECT_EQ(info.p->data, nullptr) << "cut at " << cut;
    }
}

TEST_P(BitfileRead, SkipsUnknownKeysAndKeepsTheLastOfARepeatedKey)
{
    Bytes file = bitgen::magic();
    bitgen::put_text(file, 'a', "first");
    bitgen::put_text(file, 'x', "ignored");
    bitgen::put_text(file, 'b', "part");
    bitgen::put_text(file, 'a', "second");
    bitgen::put_field(file, 'e', {0x01, 0x02});
    Info info;
    ASSERT_EQ(read_header(file, GetParam(), info.p).result, 0);
    EXPECT_STREQ(info.p->design, "second");
    EXPECT_STREQ(info.p->part_name, "part");
    EXPECT_EQ(info.p->date, nullptr);
    EXPECT_EQ(info.p->time, nullptr);
    EXPECT_EQ(info.p->length, 2u);
}

TEST_P(BitfileRead, TextLengthIsTwoBytesAndBitstreamLengthFour)
{
    // 0x01 0x00 as a text length is 256 bytes; 0x00 0x00 0x01 0x00 as the
    // bitstream length is 256 too, not 1 or 65536.
    Bytes file = bitgen::magic();
    file.insert(file.end(), {'c', 0x01, 0x00});
    file.insert(file.end(), 255, 'D');
    file.push_back(0xEE); // overwritten by the terminator
    file.insert(file.end(), {'e', 0x00, 0x00, 0x01, 0x00});
    for (int i = 0; i < 256; i++)
        file.push_back(static_cast<uint8_t>(i));
    file.insert(file.end(), {'e', 0x00, 0x00, 0x00, 0x04, 1, 2, 3, 4});
    file.insert(file.end(), 100, 0x00);
    Info info;
    Read r = read_header(file, GetParam(), info.p);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(std::string(info.p->date), std::string(255, 'D'));
    ASSERT_EQ(info.p->length, 256u);
    EXPECT_EQ(info.p->data[255], 255);
    // Nothing after the first bitstream is taken.
    EXPECT_EQ(r.position, (long)(13 + 3 + 256 + 5 + 256));
}

TEST_P(BitfileRead, EmptyTextsAndMissingTextsAreSafe)
{
    Bytes file = bitgen::magic();
    bitgen::put_field(file, 'a', {}); // no terminator to overwrite
    bitgen::put_field(file, 'e', {0xAA});
    Info info;
    ASSERT_EQ(read_header(file, GetParam(), info.p).result, 0);
    ASSERT_NE(info.p->design, nullptr);
    EXPECT_STREQ(info.p->design, "");
    EXPECT_EQ(info.p->part_name, nullptr);
}

TEST_P(BitfileRead, RefusesEmptyBitstreamAndMissingBitstream)
{
    Bytes empty = bitgen::magic();
    bitgen::put_text(empty, 'a', "x");
    bitgen::put_field(empty, 'e', {});
    Bytes missing = bitgen::magic();
    bitgen::put_text(missing, 'a', "x");
    for (const Bytes &file : {empty, missing}) {
        Info info;
        Read r = read_header(file, GetParam(), info.p);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.err, EINVAL);
    }
}

TEST_P(BitfileRead, RefusesLengthsLargerThanTheFileHolds)
{
    // Claimed bitstreams behind a few real bytes: past the bound, refused
    // before anything is read or allocated, from a file or a pipe alike.
    const struct {
        uint8_t top, low;
        int err;
    } cases[] = {
        {0x40, 0x00, EINVAL}, {0x40, 0x01, EFBIG}, {0xFF, 0xFF, EFBIG}};
    for (const auto &c : cases) {
        Bytes file = bitgen::magic();
        file.insert(file.end(), {'e', c.top, 0, 0, c.low, 1, 2, 3});
        Info info;
        Read r = read_header(file, GetParam(), info.p);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.err, c.err) << (int)c.top;
        EXPECT_EQ(info.p->data, nullptr);
    }

    Bytes text = bitgen::magic();
    text.insert(text.end(), {'a', 0xFF, 0xFF, 'x'});
    Info info2;
    EXPECT_EQ(read_header(text, GetParam(), info2.p).result, -1);
    EXPECT_EQ(info2.p->design, nullptr);
}

TEST_P(BitfileRead, LargeBitstreamArrivesWhole)
{
    // Larger than the first growth step of the stream path.
    Bytes stream(200000);
    for (size_t i = 0; i < stream.size(); i++)
        stream[i] = static_cast<uint8_t>(i ^ (i >> 8));
    Info info;
    ASSERT_EQ(read_header(bitgen::make_bitfile({}, stream), GetParam(), info.p)
                  .result,
              0);
    ASSERT_EQ(info.p->length, stream.size());
    EXPECT_EQ(Bytes(info.p->data, info.p->data + stream.size()), stream);
}

INSTANTIATE_TEST_SUITE_P(Sources, BitfileRead,
                         ::testing::Values(Source::File, Source::Stream),
                         [](const auto &info) {
                             return info.param == Source::File ? "File"
                                                               : "Stream";
                         });

TEST(BitfileReadField, HandsOutKeyLengthAndValue)
{
    Bytes field = {'b', 0x00, 0x03, 'x', 'y', 0};
    Opened f(field, Source::Stream);
    unsigned char key = 0;
    unsigned char *value = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(bitfile_read_field(f.get(), &key, &value, &length), 0);
    EXPECT_EQ(key, 'b');
    EXPECT_EQ(length, 3u);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(Bytes(value, value + 3), Bytes({'x', 'y', 0}));
    free(value);
}
