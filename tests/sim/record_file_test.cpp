// The record's text form: a real run written and read back, and the ways a
// damaged file is turned down.
#include <gtest/gtest.h>

#include <sstream>

#include "bench.h"

namespace {

std::string to_text(const tapsim::Record &r)
{
    std::ostringstream os;
    tapsim::write_record(os, r);
    return os.str();
}

// A run that fills every part of the record.
tapsim::Record busy_run()
{
    tapsim::Scenario s;
    s.extra_devices = {{0x0403, 0x6010}};
    s.idcode = 0x0A5C3093; // no known family: the sync word is enough
    s.clear_us = 0;
    Bench b(s);
    EXPECT_EQ(b.open(), 0);
    b.mpsse();
    Bytes stream = {0x55, 0x99, 0xAA, 0x66}; // sync word, bytes mirrored
    stream.resize(700, 0x3C);
    b.write(cat({Bench::setup(),
                 reset_to_idle(),
                 read_dr(32),
                 load_ir(0x0B),
                 load_ir(0x05),
                 to_shift_dr(),
                 mp::shift(stream, 700 * 8 - 3, true, false),
                 exit_to_idle(),
                 load_ir(0x0C),
                 mp::tms(0, 7),
                 mp::tms(0, 7),
                 {0xAB, 0x87}}));
    b.read(7);
    return tapsim::record();
}

} // namespace

TEST(RecordFile, RunSurvivesTheRoundTrip)
{
    const tapsim::Record r = busy_run();
    ASSERT_TRUE(r.done);
    ASSERT_EQ(r.protocol_errors.size(), 1u);
    ASSERT_EQ(r.config_bits % 8, 5u);
    const std::string text = to_text(r);

    tapsim::Record back;
    std::istringstream is(text);
    std::string error;
    ASSERT_TRUE(tapsim::parse_record(is, back, &error)) << error;
    EXPECT_EQ(to_text(back), text);
    // Spot checks on the parsed side, not through the writer.
    EXPECT_EQ(back.devices.size(), 2u);
    EXPECT_EQ(back.devices[1].opened, 2u);
    EXPECT_EQ(back.instructions, r.instructions);
    EXPECT_EQ(back.config_data, r.config_data);
    EXPECT_EQ(back.config_hash, r.config_hash);
    EXPECT_EQ(back.commands.size(), r.commands.size());
    EXPECT_EQ(back.bulk.size(), r.bulk.size());
    EXPECT_EQ(back.states.size(), r.states.size());
    EXPECT_EQ(back.tck_cycles, r.tck_cycles);
    EXPECT_TRUE(back.done);
}

TEST(RecordFile, DamagedFilesAreTurnedDown)
{
    const std::string good = to_text(busy_run());
    auto without_last_line = [](std::string s) {
        s.pop_back();
        return s.substr(0, s.rfind('\n') + 1);
    };
    auto replace = [&](const std::string &from, const std::string &to) {
        std::string s = good;
        const size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    struct Case {
        const char *name;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"other version", replace("tapsim-record 3", "tapsim-record 2")},
        {"cut short", without_last_line(good)},
        {"unknown line", replace("\nchip ", "\nchipset ")},
        {"bad hex", replace("config-data ", "config-data x")},
        {"missing field", replace(" opened=", " open=")},
        {"unknown state", replace("name=Shift-DR", "name=Shift-XR")},
        {"config bits and data disagree",
         replace("config bits=", "config bits=9")},
        {"slr before its part's",
         replace("\nconfig bits=", "\nconfig slr=0\nconfig bits=")},
        {"end signal zero", replace("\nend\n", "\nend signal=0\n")},
        {"end signal out of range", replace("\nend\n", "\nend signal=65\n")},
        {"end with another field", replace("\nend\n", "\nend status=1\n")},
        {"text after end",
         good + "device vid=0x1 pid=0x2 adapter=0 opened=0 closed=0\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        tapsim::Record r;
        std::istringstream is(c.text);
        std::string error;
        EXPECT_FALSE(tapsim::parse_record(is, r, &error));
        EXPECT_FALSE(error.empty());
    }
}
