// TAPSIM_* variables into a scenario, read through a fake environment.
#include <gtest/gtest.h>

#include <map>

#include "scenario.h"

using tapsim::Scenario;

namespace {

Scenario from(const std::map<std::string, std::string> &env,
              std::vector<std::string> *errors)
{
    return tapsim::scenario_from_env(
        errors, [&](const char *name) -> const char * {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
}

} // namespace

TEST(ScenarioEnv, EachVariableSetsItsField)
{
    struct Case {
        const char *name;
        const char *value;
        std::function<bool(const Scenario &)> holds;
    };
    const Case cases[] = {
        {"TAPSIM_ADAPTER", "0", [](const Scenario &s) { return !s.adapter; }},
        {"TAPSIM_VARIANT", "hs",
         [](const Scenario &s) {
             return s.variant == tapsim::Variant::HighSpeed;
         }},
        {"TAPSIM_POWER", "0",
         [](const Scenario &s) { return !s.target_powered; }},
        {"TAPSIM_IDCODE", "0x13631093",
         [](const Scenario &s) { return s.idcode == 0x13631093u; }},
        {"TAPSIM_USER1", "0x41424344",
         [](const Scenario &s) { return s.user[0] == 0x41424344u; }},
        {"TAPSIM_USER4", "17",
         [](const Scenario &s) { return s.user[3] == 17u; }},
        {"TAPSIM_EXTRA_DEVICES", "0403:6010,0403:6014",
         [](const Scenario &s) {
             return s.extra_devices.size() == 2 &&
                    s.extra_devices[1].vid == 0x0403 &&
                    s.extra_devices[1].pid == 0x6014;
         }},
        {"TAPSIM_SHORT_WRITE", "3",
         [](const Scenario &s) { return s.faults.short_write == 3; }},
        {"TAPSIM_ERROR_WRITE", "2",
         [](const Scenario &s) { return s.faults.error_write == 2; }},
        {"TAPSIM_EMPTY_READS", "5",
         [](const Scenario &s) {
             return s.faults.empty_reads == 5 && !s.faults.empty_reads_forever;
         }},
        {"TAPSIM_EMPTY_READS", "never",
         [](const Scenario &s) { return s.faults.empty_reads_forever; }},
        {"TAPSIM_ERROR_READ", "1",
         [](const Scenario &s) { return s.faults.error_read == 1; }},
        {"TAPSIM_KEEP_CONFIG", "0",
         [](const Scenario &s) { return !s.keep_config; }},
        {"TAPSIM_USB_US", "250",
         [](const Scenario &s) { return s.usb_us == 250; }},
        {"TAPSIM_CLEAR_US", "0",
         [](const Scenario &s) { return s.clear_us == 0; }},
        {"TAPSIM_STARTUP_CLOCKS", "2000",
         [](const Scenario &s) { return s.startup_clocks == 2000; }},
        {"TAPSIM_CONFIGURED", "0",
         [](const Scenario &s) { return !s.configured; }},
        {"TAPSIM_TDO", "0", [](const Scenario &s) { return s.tdo_stuck == 0; }},
        {"TAPSIM_PARTIAL_WRITE", "4",
         [](const Scenario &s) {
             return s.faults.partial_write == 4 &&
                    s.faults.partial_keep == tapsim::Faults::kHalf;
         }},
        {"TAPSIM_PARTIAL_WRITE", "4:100",
         [](const Scenario &s) {
             return s.faults.partial_write == 4 && s.faults.partial_keep == 100;
         }},
        {"TAPSIM_UNPLUG", "7",
         [](const Scenario &s) { return s.faults.unplug == 7; }},
        {"TAPSIM_CHAIN", "4BA00477:4,fpga,none:5,0362d093:6",
         [](const Scenario &s) {
             using K = tapsim::ChainEntry::Kind;
             return s.chain.size() == 4 && s.chain[0].kind == K::Device &&
                    s.chain[0].idcode == 0x4BA00477 &&
                    s.chain[0].ir_length == 4 && s.chain[1].kind == K::Fpga &&
                    !s.chain[2].has_idcode && s.chain[2].ir_length == 5 &&
                    tapsim::is_fpga(s.chain[3]) && !tapsim::is_fpga(s.chain[0]);
         }},
        // A stacked part: 6 bits per SLR.
        {"TAPSIM_CHAIN", "04b31093:18",
         [](const Scenario &s) {
             return s.chain.size() == 1 && tapsim::is_fpga(s.chain[0]) &&
                    s.chain[0].ir_length == 18;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        std::vector<std::string> errors;
        const Scenario s = from({{c.name, c.value}}, &errors);
        EXPECT_TRUE(c.holds(s));
        EXPECT_TRUE(errors.empty());
        EXPECT_FALSE(c.holds(from({}, nullptr))); // not the default already
    }
}

TEST(ScenarioEnv, MalformedValuesKeepDefaultsAndSaySo)
{
    const Scenario defaults;
    const std::map<std::string, std::string> bad = {
        {"TAPSIM_ADAPTER", "yes"},
        {"TAPSIM_VARIANT", "ultra"},
        {"TAPSIM_IDCODE", "0x100000000"},
        {"TAPSIM_USER2", "12abc"},
        {"TAPSIM_EXTRA_DEVICES", "0403-6010"},
        {"TAPSIM_EMPTY_READS", "-1"},
        {"TAPSIM_SHORT_WRITE", ""},
        {"TAPSIM_TDO", "2"},
        {"TAPSIM_PARTIAL_WRITE", "4:"},
    };
    std::vector<std::string> errors;
    const Scenario s = from(bad, &errors);
    EXPECT_EQ(errors.size(), bad.size() - 1); // empty counts as unset
    EXPECT_TRUE(s.adapter);
    EXPECT_EQ(s.variant, defaults.variant);
    EXPECT_EQ(s.idcode, defaults.idcode);
    EXPECT_EQ(s.user[1], defaults.user[1]);
    EXPECT_TRUE(s.extra_devices.empty());
    EXPECT_EQ(s.faults.empty_reads, 0u);
    EXPECT_EQ(s.faults.short_write, 0u);
}

TEST(ScenarioEnv, MalformedChainsKeepTheLoneFpga)
{
    for (const char *bad : {
             "fpga,",           // an empty entry
             "fpga;none:4",     // not comma-separated
             "4ba00477",        // no IR length
             "4ba00477:1",      // an IR is at least two bits (it captures 01)
             "4ba00477:33",     // longer than the bench keeps
             "4ba00477:0x4",    // the IR length is decimal
             "4ba00476:4,fpga", // an ID code's bit 0 is 1
             "123456789:4,fpga",
             "0362d093:8",        // FPGAs of every modelled family have 6 bits
             "04b31093:6",        // a VU9P has 6 per SLR
             "4ba00477:4,none:8", // no FPGA at all
             "xyz:4,fpga",
         }) {
        SCOPED_TRACE(bad);
        std::vector<std::string> errors;
        const Scenario s = from({{"TAPSIM_CHAIN", bad}}, &errors);
        EXPECT_TRUE(s.chain.empty());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find("TAPSIM_CHAIN"), std::string::npos);
    }
}
