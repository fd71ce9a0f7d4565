#include "xilinx/family.h"

namespace {

template <typename T, size_t N> constexpr size_t count(const T (&/*array*/)[N])
{
    return N;
}

// STAT bit names, indexed by bit, as the configuration guides give them.
const char mode[] = "MODE";
const char vsel[] = "VSEL";
const char startup_state[] = "STARTUP_STATE";

const char *const series7_bits[] = {
    "CRC_ERROR",   "PART_SECURED", "MMCM_LOCK",
    "DCI_MATCH",   "EOS",          "GTS_CFG_B",
    "GWE",         "GHIGH_B",      mode,
    mode,          mode,           nullptr,
    "INIT_B",      "RELEASE_DONE", "DONE",
    "ID_ERROR",    "DEC_ERROR",    "XADC_OVERTEMP",
    startup_state, startup_state,  startup_state,
};
// UltraScale's differ from 7-series at bits 1 and 16 and above 24; bits
// 24:21 (reserved and the security status, split unconfirmed) are left
// unnamed. CFGBVS_PIN exists on UltraScale only.
const char bus_width[] = "BUS_WIDTH";
const char *const ultrascale_bits[] = {
    "CRC_ERROR",
    "DECRYPTOR_ENABLED",
    "MMCM_PLL_LOCKED",
    "DCI_MATCH",
    "EOS",
    "GTS_CFG_B",
    "GWE",
    "GHIGH_B",
    mode,
    mode,
    mode,
    "INIT_COMPLETE",
    "INIT_B",
    "RELEASE_DONE",
    "DONE",
    "IDCODE_ERROR",
    "SECURITY_VIOLATION",
    "SYSTEM_MONITOR_OVER_TEMP",
    startup_state,
    startup_state,
    startup_state,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    bus_width,
    bus_width,
    "SECURITY_AUTH_ERROR",
    "PUDC_B_PIN",
    "BAD_PACKET_ERROR",
    "CFGBVS_PIN",
};
const char *const spartan6_bits[] = {
    "CRC_ERROR", "ID_ERROR",     "DCM_LOCK", "GTS_CFG_B", "GWE", "GHIGH_B",
    "DEC_ERROR", "PART_SECURED", "HSWAPEN",  mode,        mode,  mode,
    "INIT_B",    "DONE",         "IN_PWRDN", "SWWD",
};
const char *const spartan3a_bits[] = {
    "CRC_ERROR", "ID_ERROR", "DCM_LOCK", "GTS_CFG_B",    "GWE", "GHIGH_B",
    vsel,        vsel,       vsel,       mode,           mode,  mode,
    "INIT_B",    "DONE",     "SEU_ERR",  "SYNC_TIMEOUT",
};
const char *const spartan3e_bits[] = {
    "CRC_ERROR", nullptr,  "DCM_LOCK", "DCI_MATCH", "IN_ERROR",
    "GTS_CFG_B", "GWE",    "GHIGH_B",  mode,        mode,
    mode,        "INIT_B", "DONE",     "ID_ERROR",
};

// Read requests, shifted into CFG_IN most significant bit first. The 32-bit
// families take sync, no-op, a type-1 read of STAT (0x07), two no-ops; the
// 16-bit ones dummy, sync, no-op, a type-1 read of STAT (0x08), two no-ops.
// The Spartan-3A's sync is the one word 0xAA99.
const uint32_t request32[] = {0xAA995566, 0x20000000, 0x2800E001, 0x20000000,
                              0x20000000};
const uint32_t request_spartan6[] = {0xFFFF, 0xAA99, 0x5566, 0x2000,
                                     0x2901, 0x2000, 0x2000};
const uint32_t request_spartan3a[] = {0xFFFF, 0xAA99, 0x2000,
                                      0x2901, 0x2000, 0x2000};
// DESYNC (0xD) written to the command register, then two no-ops.
const uint32_t desync32[] = {0x30008001, 0x0000000D, 0x20000000, 0x20000000};
const uint32_t desync16[] = {0x30A1, 0x000D, 0x2000, 0x2000};

// Codes of the 6-bit instruction register; the user registers differ.
constexpr FamilyInstructions six_bit(unsigned char user3, unsigned char user4)
{
    return FamilyInstructions{0x04, 0x05, 0x09,
                              0x0B, 0x0C, {0x02, 0x03, user3, user4}};
}

} // namespace

const struct FamilyInstructions family_default_instructions =
    six_bit(0x1A, 0x1B);

// Register addresses: 7-series and Spartan-3E ID code 0x0C and 0x0E with
// frame data at 0x02; the 16-bit families ID code 0x0E, frame data 0x03.
// Register 0x0E of a 7-series stream is COR1: the device's family picks
// the row, never the stream's contents.
// User registers: two on the Spartan-3 generation, USER3 and USER4 at 0x1A
// and 0x1B on Spartan-6 and at 0x22 and 0x23 on 7-series, where 0x1A and
// 0x1B select nothing (BYPASS).
const struct XilinxFamily family_spartan3e = {
    "Spartan-3E",
    6,
    six_bit(0, 0),
    4,
    4,
    0x0E,
    0x02,
    request32,
    count(request32),
    1,
    desync32,
    count(desync32),
    spartan3e_bits,
    count(spartan3e_bits),
    1U << 0,
    1U << 13,
    0,
    1U << 2,
    1U << 3,
    1U << 12,
    0,
    0,
};

const struct XilinxFamily family_spartan3a = {
    "Spartan-3A",
    6,
    six_bit(0, 0),
    2,
    2,
    0x0E,
    0x03,
    request_spartan3a,
    count(request_spartan3a),
    2,
    desync16,
    count(desync16),
    spartan3a_bits,
    count(spartan3a_bits),
    1U << 0,
    1U << 1,
    0,
    1U << 2,
    0,
    1U << 13,
    0,
    0,
};

const struct XilinxFamily family_spartan6 = {
    "Spartan-6",
    6,
    six_bit(0x1A, 0x1B),
    2,
    4,
    0x0E,
    0x03,
    request_spartan6,
    count(request_spartan6),
    3,
    desync16,
    count(desync16),
    spartan6_bits,
    count(spartan6_bits),
    1U << 0,
    1U << 1,
    1U << 6,
    1U << 2,
    0,
    1U << 13,
    0,
    0,
};

const struct XilinxFamily family_series7 = {
    "7-series",
    6,
    six_bit(0x22, 0x23),
    4,
    4,
    0x0C,
    0x02,
    request32,
    count(request32),
    1,
    desync32,
    count(desync32),
    series7_bits,
    count(series7_bits),
    1U << 0,
    1U << 15,
    1U << 16,
    1U << 2,
    1U << 3,
    1U << 14,
    0,
    0,
};

// UltraScale and UltraScale+: 7-series' packets, request and instruction
// codes; STAT bit 16 is SECURITY_VIOLATION rather than DEC_ERROR, and the
// key's and the packets' errors have bits of their own.
const struct XilinxFamily family_ultrascale = {
    "UltraScale",
    6,
    six_bit(0x22, 0x23),
    4,
    4,
    0x0C,
    0x02,
    request32,
    count(request32),
    1,
    desync32,
    count(desync32),
    ultrascale_bits,
    count(ultrascale_bits),
    1U << 0,
    1U << 15,
    0,
    1U << 2,
    1U << 3,
    1U << 14,
    1U << 16 | 1U << 27,
    1U << 29,
};

const struct XilinxFamily family_ultrascale_plus = {
    "UltraScale+",
    6,
    six_bit(0x22, 0x23),
    4,
    4,
    0x0C,
    0x02,
    request32,
    count(request32),
    1,
    desync32,
    count(desync32),
    ultrascale_bits,
    count(ultrascale_bits) - 1, // no CFGBVS_PIN
    1U << 0,
    1U << 15,
    0,
    1U << 2,
    1U << 3,
    1U << 14,
    1U << 16 | 1U << 27,
    1U << 29,
};

const struct XilinxFamily *const family_rows[] = {&family_spartan3e,
                                                  &family_spartan3a,
                                                  &family_spartan6,
                                                  &family_series7,
                                                  &family_ultrascale,
                                                  &family_ultrascale_plus,
                                                  nullptr};

const struct FamilyInstructions *
family_instructions(const struct XilinxFamily *family)
{
    return family ? &family->insn : &family_default_instructions;
}

unsigned family_word_bits(const struct XilinxFamily *family)
{
    return family ? family->word_bytes * 8 : 0;
}
