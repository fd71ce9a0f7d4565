// In-process harness: the tool's own functions over the real static libftdi
// over a fresh simulated adapter per test, with every ftdi_write_data call
// the tool made kept as it made it.
#ifndef TAPLINE_TESTS_TOOL_FIXTURE_H
#define TAPLINE_TESTS_TOOL_FIXTURE_H

#include <gtest/gtest.h>

#include <ftdi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "jtag/tap.h"
#include "link/queue.h"
#include "tapsim.h"
#include "wire.h"

struct WriteCall {
    Bytes bytes;
    int result;
};

// Every ftdi_write_data call since the last clear (linked with
// --wrap=ftdi_write_data).
std::vector<WriteCall> &write_log();

// While set, ftdi_write_data reports every write as done but nothing
// reaches the adapter: an adapter that has stopped answering.
extern bool swallow_writes;

// What the tool wrote, one entry per call.
std::vector<Bytes> written();

class ToolTest : public ::testing::Test {
  protected:
    // Starts a fresh bench; called by SetUp with the default scenario.
    void start(const tapsim::Scenario &scenario);
    // adapter_open on the bench, then forgets the set-up writes.
    void open_adapter();
    // adapter_open as the entry calls it; the context is torn down after
    // the test whatever the result.
    int try_open();
    void SetUp() override { start(tapsim::Scenario()); }
    void TearDown() override;

    const tapsim::Record &rec() { return tapsim::record(); }
    // Instructions the target loaded, in order.
    std::vector<uint8_t> instructions() { return rec().instructions; }
    tapsim::TapState final_state();

    // A command's run over the opened adapter with these arguments (the
    // program name is added).
    // device: --device's value, or null.
    ToolRun tool_run(std::vector<std::string> &args, std::vector<char *> &argv,
                     const char *device = nullptr);

    struct ftdi_context ftdi_ {};
    unsigned char buf_[QUEUE_BUFFER_SIZE] = {};
    struct Jtag jtag_ {};
    bool opened_ = false;
    bool attempted_ = false;
    uint32_t tck_hz_ = 6000000;    // what try_open asks for
    const char *serial_ = nullptr; // and the adapter it asks for
};

// Runs fn with standard output and error captured.
struct Captured {
    std::string out;
    std::string err;
    int result;
};
template <typename Fn> Captured capture(Fn fn)
{
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int r = fn();
    Captured c;
    c.out = ::testing::internal::GetCapturedStdout();
    c.err = ::testing::internal::GetCapturedStderr();
    c.result = r;
    return c;
}

#endif
