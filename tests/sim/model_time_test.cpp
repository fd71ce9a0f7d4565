// Model time as the client sees it: its sleeps pass model time at once, its
// monotonic clocks read model time and its time of day stays real; the
// FPGA's clearing sees a sleep like any other model time.
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "bench.h"

namespace {

struct TimeCase {
    const char *name;
    void (*call)();
    uint64_t model_us; // model time it passes
};

void PrintTo(const TimeCase &c, std::ostream *os)
{
    *os << c.name;
}

class ClientTime : public ::testing::TestWithParam<TimeCase> {};

const timespec k2s = {2, 0};

void read_clock(clockid_t id)
{
    timespec t;
    ASSERT_EQ(clock_gettime(id, &t), 0);
}

} // namespace

TEST_P(ClientTime, PassesModelTimeByWhatWasAsked)
{
    tapsim::reset();
    GetParam().call();
    EXPECT_EQ(tapsim::record().time_us, GetParam().model_us);
}

// Every reading of a monotonic clock moves model time on by 1 µs, so a
// loop that only watches the clock ends.
INSTANTIATE_TEST_SUITE_P(
    Calls, ClientTime,
    ::testing::Values(
        TimeCase{"nanosleep", [] { nanosleep(&k2s, nullptr); }, 2000000},
        TimeCase{"clock_nanosleep",
                 [] { clock_nanosleep(CLOCK_REALTIME, 0, &k2s, nullptr); },
                 2000000},
        TimeCase{"clock_nanosleep_until",
                 [] {
                     timespec t;
                     clock_gettime(CLOCK_BOOTTIME, &t);
                     t.tv_sec += 2;
                     clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t,
                                     nullptr);
                 },
                 2000001},
        TimeCase{"usleep", [] { usleep(2000000); }, 2000000},
        TimeCase{"sleep", [] { sleep(2); }, 2000000},
        TimeCase{"sleep_for",
                 [] { std::this_thread::sleep_for(std::chrono::seconds(2)); },
                 2000000},
        TimeCase{"bad_request",
                 [] {
                     const timespec bad = {0, 1000000000};
                     EXPECT_EQ(nanosleep(&bad, nullptr), -1);
                 },
                 0},
        TimeCase{"monotonic_clocks",
                 [] {
                     for (clockid_t id : {CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW,
                                          CLOCK_MONOTONIC_COARSE})
                         read_clock(id);
                 },
                 3},
        TimeCase{"steady_clock",
                 [] {
                     const auto a = std::chrono::steady_clock::now();
                     usleep(1500);
                     EXPECT_EQ(std::chrono::steady_clock::now() - a,
                               std::chrono::microseconds(1501));
                 },
                 1502},
        TimeCase{"time_of_day",
                 [] {
                     timespec t;
                     clock_gettime(CLOCK_REALTIME, &t);
                     EXPECT_LE(t.tv_sec, time(nullptr));
                     EXPECT_GE(t.tv_sec + 2, time(nullptr));
                 },
                 0}),
    [](const auto &info) { return std::string(info.param.name); });

// JPROGRAM on the high-speed chip, then the IR capture: INIT (bit 4) is
// high again only once a sleep has covered the 5 ms of clearing.
TEST(ClientTime, TheFpgaClearsDuringASleep)
{
    for (const auto &[us, capture] :
         {std::pair<useconds_t, uint8_t>{4000, 0x01}, {5000, 0x11}}) {
        tapsim::Scenario s;
        s.variant = tapsim::Variant::HighSpeed;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        b.write(cat({Bench::setup(), reset_to_idle(), load_ir(0x0B)}));
        usleep(us);
        b.write(cat({to_shift_ir(),
                     mp::shift({0x3F}, 6, true, true),
                     exit_to_idle(),
                     {0x87}}));
        const Bytes got = b.read(mp::answer_size(6, true));
        ASSERT_EQ(got.size(), mp::answer_size(6, true));
        EXPECT_EQ(mp::shift_result(got, 6, true)[0], capture) << us;
    }
}
