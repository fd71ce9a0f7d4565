// The parts table, the status register's bit names and the cause of a
// device that is not configured, as tables of cases.
#include <gtest/gtest.h>

#include <string>

#include "xilinx/parts.h"
#include "xilinx/stacked.h"
#include "xilinx/stat.h"

namespace {

struct PartCase {
    uint32_t code;
    const char *name;   // null: not in the table
    const char *family; // null: no family in scope
    const XilinxFamily *logic;
};

void PrintTo(const PartCase &c, std::ostream *os)
{
    *os << std::hex << c.code;
}

class Parts : public ::testing::TestWithParam<PartCase> {};

TEST_P(Parts, NameFamilyAndConfigurationLogic)
{
    const PartCase &c = GetParam();
    const Part *part = parts_find(c.code);
    EXPECT_EQ(part ? std::string(part->name) : "-", c.name ? c.name : "-");
    const char *family = parts_family_name(c.code);
    EXPECT_EQ(family ? std::string(family) : "-", c.family ? c.family : "-");
    EXPECT_EQ(parts_family(c.code), c.logic);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Parts,
    ::testing::Values(
        PartCase{0x41C22093, "XC3S500E", "Spartan-3E", &family_spartan3e},
        PartCase{0x02218093, "XC3S200A", "Spartan-3A", &family_spartan3a},
        PartCase{0x12630093, "XC3S1400AN", "Spartan-3AN", &family_spartan3a},
        PartCase{0x0384E093, "XC3SD3400A", "Spartan-3A DSP", &family_spartan3a},
        // Family 0x1C is also UltraScale's, whatever part it is.
        PartCase{0x03842093, "XCVU095", "UltraScale", &family_ultrascale},
        PartCase{0x03850093, nullptr, "UltraScale", &family_ultrascale},
        PartCase{0x1390D093, "XCKU115", "UltraScale", &family_ultrascale},
        PartCase{0x04AC2093, "XCAU15P", "UltraScale+", &family_ultrascale_plus},
        PartCase{0x0484A093, "XCKU9P", "UltraScale+", &family_ultrascale_plus},
        PartCase{0x14B31093, "XCVU9P", "UltraScale+", &family_ultrascale_plus},
        PartCase{0x04711093, "XCZU2", "Zynq UltraScale+",
                 &family_ultrascale_plus},
        // Named, but its configuration logic is none of the rows.
        PartCase{0x04E81093, "XCSU10P", "Spartan UltraScale+", nullptr},
        PartCase{0x2403D093, "XC6SLX150T", "Spartan-6", &family_spartan6},
        PartCase{0x04003093, nullptr, "Spartan-6", &family_spartan6},
        PartCase{0x0362D093, "XC7A35T", "7-series", &family_series7},
        PartCase{0x03727093, "XC7Z020", "7-series", &family_series7},
        // Bits 15:14 vary between XC7V2000T chips.
        PartCase{0x036BF093, "XC7V2000T", "7-series", &family_series7},
        PartCase{0x0A001093, nullptr, nullptr, nullptr}));

struct StatCase {
    const XilinxFamily *family;
    uint32_t value;
    const char *names;
    const char *cause;
};

void PrintTo(const StatCase &c, std::ostream *os)
{
    *os << c.family << " " << std::hex << c.value;
}

class Stat : public ::testing::TestWithParam<StatCase> {};

TEST_P(Stat, NamesTheSetBitsAndTheFirstCause)
{
    const StatCase &c = GetParam();
    char names[256];
    stat_describe(c.family, c.value, names, sizeof names);
    EXPECT_STREQ(names, c.names);
    EXPECT_STREQ(stat_cause(c.family, c.value), c.cause);
}

const char crc[] = "CRC error: the bitstream arrived corrupted";
const char id[] = "ID code error: the bitstream is for another part";
const char dec[] = "decryption error: wrong or missing key";
const char lock[] = "start-up waits for a clock to lock";
const char dci[] = "start-up waits for DCI to match";
const char none[] = "no bitstream was received since it was cleared";
const char key[] = "the bitstream's key or authentication was refused";
const char packet[] = "the bitstream holds a packet the device cannot parse";

INSTANTIATE_TEST_SUITE_P(
    Families, Stat,
    ::testing::Values(
        StatCase{&family_series7, 0x00107FFC, // bit 11 has no name
                 "STARTUP_STATE=4 DONE RELEASE_DONE INIT_B MODE=7 GHIGH_B GWE "
                 "GTS_CFG_B EOS DCI_MATCH MMCM_LOCK",
                 none},
        StatCase{&family_series7, 0x0000900D,
                 "ID_ERROR INIT_B DCI_MATCH MMCM_LOCK CRC_ERROR", crc},
        StatCase{&family_series7, 0x0001000C, "DEC_ERROR DCI_MATCH MMCM_LOCK",
                 dec},
        StatCase{&family_series7, 0x00001008, "INIT_B DCI_MATCH", lock},
        StatCase{&family_series7, 0x00000804, "MMCM_LOCK", dci},
        StatCase{&family_spartan6, 0x0003, "ID_ERROR CRC_ERROR", crc},
        StatCase{&family_spartan6, 0x9044, "SWWD INIT_B DEC_ERROR DCM_LOCK",
                 dec},
        // No DCI_MATCH in the family: nothing to wait for.
        StatCase{&family_spartan6, 0x0004, "DCM_LOCK", none},
        StatCase{&family_spartan3a, 0x1006, "INIT_B DCM_LOCK ID_ERROR", id},
        StatCase{&family_spartan3a, 0xA5C0, "SYNC_TIMEOUT DONE MODE=2 VSEL=7",
                 none},
        StatCase{&family_spartan3e, 0x2004, "ID_ERROR DCM_LOCK", id},
        StatCase{&family_spartan3e, 0x0002, "none", lock},
        StatCase{&family_spartan3e, 0x1004, "DONE DCM_LOCK", none},
        StatCase{&family_ultrascale, 0x02107DFC,
                 "BUS_WIDTH=1 STARTUP_STATE=4 DONE RELEASE_DONE INIT_B "
                 "INIT_COMPLETE MODE=5 GHIGH_B GWE GTS_CFG_B EOS DCI_MATCH "
                 "MMCM_PLL_LOCKED",
                 none},
        StatCase{&family_ultrascale, 0x0801100C,
                 "SECURITY_AUTH_ERROR SECURITY_VIOLATION INIT_B DCI_MATCH "
                 "MMCM_PLL_LOCKED",
                 key},
        StatCase{&family_ultrascale_plus, 0x0000900C,
                 "IDCODE_ERROR INIT_B DCI_MATCH MMCM_PLL_LOCKED", id},
        StatCase{&family_ultrascale_plus, 0x2000100D,
                 "BAD_PACKET_ERROR INIT_B DCI_MATCH MMCM_PLL_LOCKED CRC_ERROR",
                 crc},
        StatCase{&family_ultrascale_plus, 0x2000100C,
                 "BAD_PACKET_ERROR INIT_B DCI_MATCH MMCM_PLL_LOCKED", packet},
        StatCase{&family_ultrascale_plus, 0x00011006,
                 "SECURITY_VIOLATION INIT_B MMCM_PLL_LOCKED DECRYPTOR_ENABLED",
                 key},
        // CFGBVS_PIN is UltraScale's alone.
        StatCase{&family_ultrascale, 0x40001008, "CFGBVS_PIN INIT_B DCI_MATCH",
                 lock},
        StatCase{&family_ultrascale_plus, 0x40001004, "INIT_B MMCM_PLL_LOCKED",
                 dci}));

// Stacked parts' codes as the vendor's flows shift them.
TEST(Stacked, CodesOfTheMastersFieldAndOfEveryField)
{
    struct Case {
        uint32_t code;
        bool known;
        uint32_t cfg_in, jprogram, jstart, idcode;
    } cases[] = {
        {0x04B31093, true, 0x05924, 0x0B2CB, 0x0C30C, 0x09249},     // VU9P
        {0x04B79093, true, 0x05924, 0x0B2CB, 0x0C30C, 0x09249},     // VU37P
        {0x04B29093, true, 0x164, 0x2CB, 0x30C, 0x249},             // VU7P
        {0x04BA1093, true, 0x164924, 0x2CB2CB, 0x30C30C, 0x249249}, // VU19P
        // No master known: the device-wide codes only.
        {0x04B51093, false, 0, 0x2CB2CB, 0x30C30C, 0x249249}, // VU13P
    };
    for (const Case &c : cases) {
        FamilyInstructions insn{};
        EXPECT_EQ(stacked_instructions(parts_find(c.code), &insn), c.known)
            << std::hex << c.code;
        EXPECT_EQ(insn.cfg_in, c.cfg_in) << std::hex << c.code;
        EXPECT_EQ(insn.jprogram, c.jprogram) << std::hex << c.code;
        EXPECT_EQ(insn.jstart, c.jstart) << std::hex << c.code;
        EXPECT_EQ(insn.idcode, c.idcode) << std::hex << c.code;
    }
}

} // namespace
