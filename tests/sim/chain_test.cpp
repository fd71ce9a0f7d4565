// Chains of devices on the bench, driven through libftdi as a tool would:
// detection after reset, instructions for one device with BYPASS in the
// others, a configuration through bypass bits, and each family's USER3 and
// USER4 codes.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "bench.h"
#include "bitfile_writer.h"

using tapsim::InstructionName;
using tapsim::Scenario;

namespace {

// Bits in the order they are shifted (or arrive at TDO).
using Bits = std::vector<bool>;

void append(Bits &bits, uint64_t value, unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        bits.push_back(((value >> i) & 1) != 0);
}

Bits repeat(bool bit, size_t n)
{
    return Bits(n, bit);
}

Bits operator+(Bits a, const Bits &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes pack(const Bits &bits)
{
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            out[i / 8] = static_cast<uint8_t>(out[i / 8] | 1u << (i % 8));
    return out;
}

uint64_t value_at(const Bits &bits, size_t from, unsigned n)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < n && from + i < bits.size(); ++i)
        if (bits[from + i])
            v |= 1ull << i;
    return v;
}

// How many bits equal to bit follow from index from on.
size_t run_of(const Bits &bits, size_t from, bool bit)
{
    size_t n = 0;
    while (from + n < bits.size() && bits[from + n] == bit)
        ++n;
    return n;
}

Scenario from_env(const std::map<std::string, std::string> &env)
{
    std::vector<std::string> errors;
    const Scenario s = tapsim::scenario_from_env(
        &errors, [&](const char *name) -> const char * {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    EXPECT_TRUE(errors.empty()) << errors.front();
    return s;
}

// The adapter set up and every TAP in Run-Test/Idle after a reset.
void start(Bench &b)
{
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(), reset_to_idle()}));
}

// One scan from Run-Test/Idle back to Run-Test/Idle; the TDO bits.
Bits scan(Bench &b, bool ir, const Bits &in)
{
    const size_t n = in.size();
    b.write(cat({ir ? to_shift_ir() : to_shift_dr(),
                 mp::shift(pack(in), n, true, true),
                 exit_to_idle(),
                 {0x87}}));
    const Bytes got =
        mp::shift_result(b.read(mp::answer_size(n, true)), n, true);
    Bits out;
    for (size_t i = 0; i < n; ++i)
        out.push_back(i / 8 < got.size() && ((got[i / 8] >> (i % 8)) & 1));
    return out;
}

// IR bits loading code into the device at target, BYPASS (all ones) into
// the others: the device nearest TDO takes the first bits shifted.
Bits ir_bits(const std::vector<unsigned> &lengths, size_t target, uint32_t code)
{
    Bits bits;
    for (size_t i = lengths.size(); i-- > 0;)
        append(bits, i == target ? code : ~0u, lengths[i]);
    return bits;
}

constexpr int64_t kNoId = -1;

struct ChainCase {
    const char *name;
    const char *chain;
    const char *idcode;       // TAPSIM_IDCODE, for the fpga entries
    std::vector<unsigned> ir; // nearest TDI first
    // What a read after reset shows, nearest TDO first.
    std::vector<int64_t> ids;
    unsigned fpgas;
    bool fpga_nearest_tdo;
};

// clang-format off
const ChainCase kChains[] = {
    {"FPGA alone", "fpga", "0x0362D093", {6}, {0x0362D093}, 1, true},
    {"Zynq-7000", "4ba00477:4,fpga", "0x13727093", {4, 6},
     {0x13727093, 0x4BA00477}, 1, true},
    {"FPGA, PROM and CPLD", "fpga,05046093:8,06e5e093:8", "0x01C22093",
     {6, 8, 8}, {0x06E5E093, 0x05046093, 0x01C22093}, 1, false},
    {"two Artix-7", "0362d093:6,0362d093:6", "0x01C22093", {6, 6},
     {0x0362D093, 0x0362D093}, 2, true},
    {"no ID code before the FPGA", "none:5,fpga", "0x04001093", {5, 6},
     {0x04001093, kNoId}, 1, true},
    {"unknown device and a wide PROM", "fpga,0bb11477:3,05059093:16",
     "0x02218093", {6, 3, 16}, {0x05059093, 0x0BB11477, 0x02218093}, 1,
     false},
};
// clang-format on

} // namespace

TEST(Chain, DetectionSeesEveryDevice)
{
    for (const ChainCase &c : kChains) {
        SCOPED_TRACE(c.name);
        const size_t n = c.ir.size();
        Bench b(
            from_env({{"TAPSIM_CHAIN", c.chain}, {"TAPSIM_IDCODE", c.idcode}}));
        start(b);

        // After reset: each ID code, nearest TDO first, a 0 bit for a
        // device without one, then the ones shifted in.
        Bits want;
        size_t idbits = 0;
        for (int64_t id : c.ids) {
            append(want, id == kNoId ? 0 : static_cast<uint64_t>(id),
                   id == kNoId ? 1 : 32);
            idbits += id == kNoId ? 1 : 32;
        }
        want = want + repeat(true, 32);
        // An FPGA's ID code counts once it reached the adapter whole: the
        // first 32 bits hold only the one nearest TDO.
        scan(b, false, repeat(true, 32));
        const unsigned first = c.fpga_nearest_tdo ? 1 : 0;
        EXPECT_EQ(tapsim::record().idcode_reads, first);
        EXPECT_EQ(scan(b, false, repeat(true, idbits + 32)), want);
        EXPECT_EQ(tapsim::record().idcode_reads, first + c.fpgas);

        // Ones fill the IR chain; zeros shifted after them come out once
        // every IR bit is passed; ones again leave BYPASS everywhere.
        const Bits ir =
            scan(b, true,
                 repeat(true, 128) + repeat(false, 128) + repeat(true, 128));
        unsigned total = 0;
        for (unsigned len : c.ir)
            total += len;
        EXPECT_EQ(run_of(ir, 128, true), total);
        EXPECT_EQ(value_at(ir, 0, 2), 1u); // a capture ends in 01

        // Every device in BYPASS: each holds one bit, captured 0.
        const Bits dr = scan(b, false, repeat(false, 64) + repeat(true, 64));
        EXPECT_EQ(run_of(dr, 0, false), 64 + n);

        const tapsim::Record &r = tapsim::record();
        EXPECT_EQ(r.per_device, n > 1);
        ASSERT_EQ(r.instruction_loads.size(), n);
        for (size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(i);
            const auto loads = r.instructions_of(static_cast<uint32_t>(i));
            ASSERT_EQ(loads.size(), 1u);
            EXPECT_EQ(loads[0].code, (1ull << c.ir[i]) - 1);
            EXPECT_EQ(loads[0].name, InstructionName::Bypass);
        }
    }
}

TEST(Chain, OneDeviceTakesItsInstructionTheOthersBypass)
{
    struct Case {
        const char *chain;
        std::vector<unsigned> ir;
        size_t target;
    } cases[] = {
        {"4ba00477:4,fpga", {4, 6}, 1},
        {"fpga,05046093:8", {6, 8}, 0},
        {"none:3,fpga,06e5c093:8", {3, 6, 8}, 1},
        {"0362d093:6,0362d093:6", {6, 6}, 0},
        {"0362d093:6,0362d093:6", {6, 6}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.chain) + " @" + std::to_string(c.target));
        const size_t n = c.ir.size();
        Bench b(from_env({{"TAPSIM_CHAIN", c.chain},
                          {"TAPSIM_IDCODE", "0x0362D093"},
                          {"TAPSIM_USER1", "0x9ABCDEF1"}}));
        start(b);
        scan(b, true, ir_bits(c.ir, c.target, 0x02)); // USER1
        // The register sits behind one bypass bit per device nearer TDO.
        const size_t after = n - 1 - c.target;
        const Bits dr = scan(b, false, repeat(false, after + 32));
        EXPECT_EQ(value_at(dr, 0, static_cast<unsigned>(after)), 0u);
        EXPECT_EQ(value_at(dr, after, 32), 0x9ABCDEF1u);

        const tapsim::Record &r = tapsim::record();
        for (size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(i);
            const auto loads = r.instructions_of(static_cast<uint32_t>(i));
            ASSERT_EQ(loads.size(), 1u);
            EXPECT_EQ(loads[0].name, i == c.target ? InstructionName::User1
                                                   : InstructionName::Bypass);
        }
        // The text names the device, and reads back as it was written.
        std::ostringstream text;
        tapsim::write_record(text, r);
        EXPECT_NE(
            text.str().find("\ninstruction device=" + std::to_string(c.target) +
                            " code=0x02 name=USER1\n"),
            std::string::npos);
        tapsim::Record back;
        std::istringstream in(text.str());
        std::string error;
        ASSERT_TRUE(tapsim::parse_record(in, back, &error)) << error;
        std::ostringstream again;
        tapsim::write_record(again, back);
        EXPECT_EQ(again.str(), text.str());
    }
}

TEST(Chain, ConfigurationReachesOnlyTheTarget)
{
    // Two blank Artix-7 parts between a debug port and a PROM: the target
    // gets JPROGRAM, CFG_IN and JSTART, everything else BYPASS.
    struct Case {
        size_t target;
        unsigned before; // devices nearer TDI: their bypass bits lead
    } cases[] = {{1, 1}, {2, 2}};
    const std::vector<unsigned> ir = {4, 6, 6, 8};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.target);
        Scenario s = from_env(
            {{"TAPSIM_CHAIN", "4ba00477:4,0362d093:6,0362d093:6,05046093:8"},
             {"TAPSIM_CONFIGURED", "0"},
             {"TAPSIM_CLEAR_US", "0"}});
        Bench b(s);
        start(b);
        bitgen::StreamPlan plan;
        plan.family = bitgen::Family::Series7;
        plan.idcode = 0x0362D093;
        plan.size = 20000;
        const Bytes stream = bitgen::family_stream(plan);
        Bits in;
        for (uint8_t byte : stream)
            for (int i = 7; i >= 0; --i)
                in.push_back(((byte >> i) & 1) != 0);
        // Pushed on by one bit per device nearer TDI.
        in = in + repeat(false, c.before);

        auto load = [&](uint32_t code) {
            const Bits bits = ir_bits(ir, c.target, code);
            b.write(cat({to_shift_ir(),
                         mp::shift(pack(bits), bits.size(), true, false),
                         exit_to_idle()}));
        };
        load(0x0B); // JPROGRAM
        load(0x05); // CFG_IN
        b.write(cat({to_shift_dr(), mp::shift(pack(in), in.size(), true, false),
                     exit_to_idle()}));
        load(0x0C); // JSTART
        b.write(cat({mp::tms(0, 7), mp::tms(0, 7)}));

        const tapsim::Record &r = tapsim::record();
        const tapsim::ConfigRecord *target = r.config_of(c.target);
        const tapsim::ConfigRecord *other = r.config_of(3 - c.target);
        ASSERT_NE(target, nullptr);
        ASSERT_NE(other, nullptr);
        // The bypass bits nearer TDI arrive first: zeros, then the stream.
        EXPECT_EQ(target->config_bits, stream.size() * 8 + c.before);
        Bytes arrived(stream.size() + 1, 0); // packed MSB first
        for (size_t i = 0; i < stream.size() * 8; ++i)
            if ((stream[i / 8] >> (7 - i % 8)) & 1)
                arrived[(i + c.before) / 8] |=
                    static_cast<uint8_t>(0x80u >> ((i + c.before) % 8));
        EXPECT_EQ(target->config_data, arrived);
        EXPECT_TRUE(target->sync_seen);
        EXPECT_EQ(target->config_error, tapsim::ConfigError::None);
        EXPECT_TRUE(target->done);
        EXPECT_EQ(other->config_bits, 0u);
        EXPECT_FALSE(other->done);
        for (uint32_t i : {0u, 1u, 2u, 3u}) {
            if (i == c.target)
                continue;
            for (const auto &l : r.instructions_of(i))
                EXPECT_EQ(l.name, InstructionName::Bypass) << i;
        }
        std::ostringstream text;
        tapsim::write_record(text, r);
        EXPECT_NE(
            text.str().find("\nconfig device=" + std::to_string(c.target) +
                            " bits=" + std::to_string(target->config_bits)),
            std::string::npos);
    }
}

TEST(Chain, EachFamilyAnswersItsOwnUserCodes)
{
    // 0: BYPASS (undefined code), 3 or 4: that USER register.
    struct Case {
        const char *family;
        uint32_t idcode;
        int at_1a, at_1b, at_22, at_23;
    } cases[] = {
        {"Spartan-3E", 0x01C22093, 0, 0, 0, 0},
        {"Spartan-3A", 0x02218093, 0, 0, 0, 0},
        {"Spartan-6", 0x04001093, 3, 4, 0, 0},
        {"Artix-7", 0x0362D093, 0, 0, 3, 4},
        {"Zynq-7000", 0x03727093, 0, 0, 3, 4},
        {"no known family", 0x0A5C3093, 3, 4, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.family);
        const std::pair<uint8_t, int> codes[] = {
            {0x1A, c.at_1a}, {0x1B, c.at_1b}, {0x22, c.at_22}, {0x23, c.at_23}};
        for (const auto &[code, reg] : codes) {
            SCOPED_TRACE(int(code));
            Scenario s;
            s.idcode = c.idcode;
            s.user[2] = 0x33333333;
            s.user[3] = 0x44444444;
            Bench b(s);
            start(b);
            scan(b, true, ir_bits({6}, 0, code));
            // A 32-bit register, or one bypass bit (0) and then TDI.
            const Bits dr = scan(b, false, repeat(true, 32));
            EXPECT_EQ(value_at(dr, 0, 32), reg == 3   ? 0x33333333u
                                           : reg == 4 ? 0x44444444u
                                                      : 0xFFFFFFFEu);
            const InstructionName name = reg == 3   ? InstructionName::User3
                                         : reg == 4 ? InstructionName::User4
                                                    : InstructionName::Other;
            ASSERT_EQ(tapsim::record().instruction_loads.size(), 1u);
            EXPECT_EQ(tapsim::record().instruction_loads[0].name, name);
        }
    }
}

TEST(Chain, WrittenBitsFillTheRegistersEndToEnd)
{
    // A write-only run on the byte path, then a read in the same Shift-DR:
    // the registers hold the last bits written, nearest TDO the earliest.
    for (const ChainCase &c : kChains) {
        SCOPED_TRACE(c.name);
        Bench b(
            from_env({{"TAPSIM_CHAIN", c.chain}, {"TAPSIM_IDCODE", c.idcode}}));
        start(b);
        size_t length = 0;
        for (int64_t id : c.ids)
            length += id == kNoId ? 1 : 32;
        Bits written;
        for (uint32_t i = 0; i < 100; ++i)
            append(written, i * 0x9E3779B9u >> 24, 8);
        b.write(cat({to_shift_dr(),
                     mp::shift(pack(written), written.size(), false, false),
                     mp::shift({}, length, true, true),
                     exit_to_idle(),
                     {0x87}}));
        const Bytes got = mp::shift_result(
            b.read(mp::answer_size(length, true)), length, true);
        Bits want(written.end() - static_cast<long>(length), written.end());
        EXPECT_EQ(got, pack(want));
    }
}
