// Model time as the client sees it: its sleeps pass model time at once, its
// monotonic clocks read model time, its time of day stays the real one; the
// chip's latency timer and the FPGA's clearing see a sleep like any other
// model time.
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "bench.h"

namespace {

constexpr uint64_t kSleepUs = 2000000; // whole seconds, for sleep()

uint64_t model_us()
{
    return tapsim::record().time_us;
}

timespec relative(uint64_t us)
{
    return {static_cast<time_t>(us / 1000000),
            static_cast<long>(us % 1000000 * 1000)};
}

struct SleepCase {
    const char *name;
    void (*sleep_us)(uint64_t);
    uint64_t readings; // clock readings the call makes itself
};

void PrintTo(const SleepCase &c, std::ostream *os)
{
    *os << c.name;
}

class Sleeps : public ::testing::TestWithParam<SleepCase> {};

} // namespace

TEST_P(Sleeps, PassModelTimeByWhatWasAsked)
{
    tapsim::reset();
    const uint64_t before = model_us();
    GetParam().sleep_us(kSleepUs);
    EXPECT_EQ(model_us() - before, kSleepUs + GetParam().readings);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Sleeps,
    ::testing::Values(
        SleepCase{"nanosleep",
                  [](uint64_t us) {
                      const timespec t = relative(us);
                      ASSERT_EQ(nanosleep(&t, nullptr), 0);
                  },
                  0},
        SleepCase{"clock_nanosleep_monotonic",
                  [](uint64_t us) {
                      const timespec t = relative(us);
                      ASSERT_EQ(
                          clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr), 0);
                  },
                  0},
        SleepCase{"clock_nanosleep_realtime",
                  [](uint64_t us) {
                      const timespec t = relative(us);
                      ASSERT_EQ(clock_nanosleep(CLOCK_REALTIME, 0, &t, nullptr),
                                0);
                  },
                  0},
        SleepCase{"clock_nanosleep_until",
                  [](uint64_t us) {
                      timespec t;
                      ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &t), 0);
                      const timespec d = relative(us);
                      t.tv_sec += d.tv_sec;
                      t.tv_nsec += d.tv_nsec;
                      ASSERT_EQ(clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME,
                                                &t, nullptr),
                                0);
                  },
                  1},
        SleepCase{"usleep", [](uint64_t us) { ASSERT_EQ(usleep(us), 0); }, 0},
        SleepCase{"sleep",
                  [](uint64_t us) { ASSERT_EQ(sleep(us / 1000000), 0u); }, 0},
        SleepCase{"sleep_for",
                  [](uint64_t us) {
                      std::this_thread::sleep_for(
                          std::chrono::microseconds(us));
                  },
                  0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Sleeps, RefuseABadRequestAndPassNoTime)
{
    tapsim::reset();
    const timespec bad = {0, 1000000000};
    errno = 0;
    EXPECT_EQ(nanosleep(&bad, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(clock_nanosleep(CLOCK_MONOTONIC, 0, &bad, nullptr), EINVAL);
    EXPECT_EQ(model_us(), 0u);
}

namespace {

class Readings : public ::testing::TestWithParam<clockid_t> {};

int64_t ns_of(const timespec &t)
{
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

} // namespace

// Each reading moves model time on by 1 µs, so a loop that only watches
// the clock ends.
TEST_P(Readings, ReadModelTimeAndMoveItOn)
{
    tapsim::reset();
    timespec a, b;
    ASSERT_EQ(clock_gettime(GetParam(), &a), 0);
    ASSERT_EQ(usleep(250), 0);
    ASSERT_EQ(clock_gettime(GetParam(), &b), 0);
    EXPECT_EQ(ns_of(b) - ns_of(a), 251000);
    EXPECT_EQ(model_us(), 252u);
}

INSTANTIATE_TEST_SUITE_P(Clocks, Readings,
                         ::testing::Values(CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW,
                                           CLOCK_MONOTONIC_COARSE,
                                           CLOCK_BOOTTIME));

TEST(Readings, SteadyClockIsModelTime)
{
    tapsim::reset();
    const auto a = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto b = std::chrono::steady_clock::now();
    EXPECT_EQ(b - a, std::chrono::microseconds(1500001));
    EXPECT_EQ(model_us(), 1500002u);
}

TEST(Readings, TimeOfDayStaysReal)
{
    tapsim::reset();
    timespec t;
    ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &t), 0);
    const time_t now = time(nullptr);
    EXPECT_LE(t.tv_sec, now);
    EXPECT_GE(t.tv_sec + 2, now);
    const auto sys =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    EXPECT_GE(sys, now);
    EXPECT_LE(sys, now + 2);
    EXPECT_EQ(model_us(), 0u);
}

// JPROGRAM on the high-speed chip, then the IR capture; INIT (bit 4) is
// high again only once the 5 ms of clearing have passed.
TEST(SleepsOnTheBench, ClearingEndsAfterASleepAsLongAsIt)
{
    struct Case {
        useconds_t us;
        uint8_t capture;
    };
    for (const Case c : {Case{0, 0x01}, Case{4000, 0x01}, Case{5000, 0x11}}) {
        SCOPED_TRACE(c.us);
        tapsim::Scenario s;
        s.variant = tapsim::Variant::HighSpeed;
        Bench b(s);
        ASSERT_EQ(b.open(), 0);
        ASSERT_EQ(b.mpsse(), 0);
        ASSERT_GT(
            b.write(cat({Bench::setup(), reset_to_idle(), load_ir(0x0B)})), 0);
        usleep(c.us);
        b.write(cat({to_shift_ir(),
                     mp::shift({0x3F}, 6, true, true),
                     exit_to_idle(),
                     {0x87}}));
        const Bytes got = b.read(mp::answer_size(6, true));
        ASSERT_EQ(got.size(), mp::answer_size(6, true));
        EXPECT_EQ(mp::shift_result(got, 6, true)[0], c.capture);
    }
}

// A short answer comes once the latency timer ran out, slept or not.
TEST(SleepsOnTheBench, LatencyTimerRunsOutDuringASleep)
{
    Bench b;
    ASSERT_EQ(b.open(), 0);
    ASSERT_EQ(ftdi_set_latency_timer(&b.ctx, 16), 0);
    ASSERT_EQ(b.mpsse(), 0);
    b.write(cat({Bench::setup(), {0x81}}));
    unsigned char pins = 0;
    EXPECT_EQ(ftdi_read_data(&b.ctx, &pins, 1), 0);
    usleep(15000);
    EXPECT_EQ(ftdi_read_data(&b.ctx, &pins, 1), 1);
    EXPECT_EQ(pins, 0xFC);
}
