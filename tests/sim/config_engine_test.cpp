// The configuration engine alone, fed the words of generated streams: the
// family's packets, the ID check, START, and what leaves DONE low.
#include <gtest/gtest.h>

#include "bitfile_writer.h"
#include "config_engine.h"

using bitgen::Family;
using tapsim::ConfigEngine;
using tapsim::ConfigError;

namespace {

// Feeds the packet words after the sync word (aligned in these streams);
// 16-bit families: Spartan-6 syncs on 0xAA99 0x5566, Spartan-3A on 0xAA99
// alone. Only the first sync counts, as the streams end with DESYNC.
void feed(ConfigEngine &e, const bitgen::Bytes &stream, Family f)
{
    const size_t n = f == Family::Spartan6 || f == Family::Spartan3A ? 2 : 4;
    const uint64_t sync = f == Family::Spartan3A ? 0xAA99 : 0xAA995566u;
    const unsigned sync_bits = f == Family::Spartan3A ? 16 : 32;
    bool seen = false;
    uint64_t window = 0;
    for (size_t i = 0; i + n <= stream.size(); i += n) {
        uint32_t w = 0;
        for (size_t k = 0; k < n; ++k)
            w = w << 8 | stream[i + k];
        if (!seen) {
            window = (window << (8 * n)) | w;
            if ((window & ((1ull << sync_bits) - 1)) == sync) {
                seen = true;
                e.sync();
            }
            continue;
        }
        e.word(w);
    }
}

struct EngineCase {
    const char *name;
    Family family;
    uint32_t device;
    uint32_t file;
    bool write_idcode;
    bool cut;
    bool done;
    ConfigError error;
};

class Engine : public ::testing::TestWithParam<EngineCase> {};

} // namespace

TEST_P(Engine, WalksTheFamilysPackets)
{
    const EngineCase &c = GetParam();
    tapsim::EngineSettings s;
    s.idcode = c.device;
    s.configured = false;
    s.startup_clocks = 12;
    ConfigEngine e(s);
    e.program(0);
    bitgen::StreamPlan plan;
    plan.family = c.family;
    plan.idcode = c.file;
    plan.write_idcode = c.write_idcode;
    plan.cut_before_start = c.cut;
    plan.size = 2000;
    feed(e, bitgen::family_stream(plan), c.family);
    EXPECT_EQ(e.error(), c.error);
    EXPECT_EQ(e.init(0), c.error == ConfigError::None);
    for (int i = 0; i < 11; ++i)
        e.startup_clock();
    EXPECT_FALSE(e.done()); // not before the twelfth start-up clock
    e.startup_clock();
    EXPECT_EQ(e.done(), c.done);
    // DESYNC or an ID error ends the stream; a cut one is still open.
    EXPECT_EQ(e.synced(), c.cut);
}

INSTANTIATE_TEST_SUITE_P(
    Families, Engine,
    ::testing::Values(
        EngineCase{"spartan3e", Family::Spartan3E, 0x41C22093, 0x01C22093, true,
                   false, true, ConfigError::None},
        EngineCase{"spartan3e_other_part", Family::Spartan3E, 0x01C22093,
                   0x01C2E093, true, false, false, ConfigError::Id},
        EngineCase{"spartan3a", Family::Spartan3A, 0x02218093, 0x02218093, true,
                   false, true, ConfigError::None},
        EngineCase{"spartan3a_other_part", Family::Spartan3A, 0x02218093,
                   0x02210093, true, false, false, ConfigError::Id},
        EngineCase{"spartan6", Family::Spartan6, 0x24001093, 0x04001093, true,
                   false, true, ConfigError::None},
        EngineCase{"spartan6_other_part", Family::Spartan6, 0x04001093,
                   0x04002093, true, false, false, ConfigError::Id},
        EngineCase{"series7", Family::Series7, 0x0362D093, 0x0362D093, true,
                   false, true, ConfigError::None},
        EngineCase{"series7_other_part", Family::Series7, 0x0362D093,
                   0x03631093, true, false, false, ConfigError::Id},
        EngineCase{"series7_no_id_write", Family::Series7, 0x0362D093, 0, false,
                   false, true, ConfigError::None},
        // A 7-series stream on a 3E device: register 0x0C is not the ID
        // code there, but its CRC-32C words fail the 3E's CRC-16.
        EngineCase{"series7_stream_on_spartan3e", Family::Series7, 0x01C22093,
                   0x0362D093, true, false, false, ConfigError::Crc},
        EngineCase{"series7_cut_before_start", Family::Series7, 0x0362D093,
                   0x0362D093, true, true, false, ConfigError::None},
        EngineCase{"spartan6_cut_before_start", Family::Spartan6, 0x04001093,
                   0x04001093, true, true, false, ConfigError::None},
        EngineCase{"ultrascale_plus_cut_before_start", Family::UltraScalePlus,
                   0x04A63093, 0x04A63093, true, true, false,
                   ConfigError::None}),
    [](const ::testing::TestParamInfo<EngineCase> &i) {
        return std::string(i.param.name);
    });

TEST(EngineFamily, PickedByIdcodeBits27To21)
{
    struct Row {
        uint32_t idcode;
        tapsim::Family family;
    };
    for (const Row &r :
         {Row{0x41C22093, tapsim::Family::Spartan3E},
          Row{0x02218093, tapsim::Family::Spartan3A},
          Row{0x02618093, tapsim::Family::Spartan3A}, // 3AN
          Row{0x13840093, tapsim::Family::Spartan3A}, // 3A DSP
          // 0x1C is also UltraScale's: KU040, KU060, VU440
          Row{0x03822093, tapsim::Family::UltraScale},
          Row{0x13919093, tapsim::Family::UltraScale},
          Row{0x0396D093, tapsim::Family::UltraScale},
          Row{0x04711093, tapsim::Family::UltraScalePlus}, // ZU2
          Row{0x0484A093, tapsim::Family::UltraScalePlus}, // KU9P
          Row{0x04A63093, tapsim::Family::UltraScalePlus}, // KU3P
          Row{0x04B31093, tapsim::Family::UltraScalePlus}, // VU9P
          Row{0x04E81093, tapsim::Family::Unknown},        // SU10P
          Row{0x04001093, tapsim::Family::Spartan6},
          Row{0x13631093, tapsim::Family::Series7},
          Row{0x0A5C3093, tapsim::Family::Unknown}})
        EXPECT_EQ(tapsim::family_of(r.idcode), r.family)
            << std::hex << r.idcode;
}

TEST(EngineClearing, InitLowUntilTheClearingTimeHasPassed)
{
    tapsim::EngineSettings s;
    s.idcode = 0x0362D093;
    s.clear_ticks = 300000; // 5 ms
    ConfigEngine e(s);
    EXPECT_TRUE(e.done()); // configured at power-up
    e.program(1000);
    EXPECT_FALSE(e.done());
    EXPECT_FALSE(e.init(1000));
    EXPECT_TRUE(e.clearing(300999));
    EXPECT_FALSE(e.init(300999));
    EXPECT_TRUE(e.init(301000));
}
