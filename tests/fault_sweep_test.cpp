// Every bulk write and read of every command failing in turn, each way a
// USB transfer fails: each run ends soon, with exit status 1, a message,
// and the adapter released as it must be (reset, close, deinit); a status
// after it, on the board it left, answers.
#include "tool_fixture.h"

#include <cstring>

#include <unistd.h>

#include "bitfile_writer.h"
#include "cli/entry.h"
#include "temp_bit.h"

namespace {

// The release calls, in the order the tool made them.
std::vector<std::string> &release_calls()
{
    static std::vector<std::string> calls;
    return calls;
}

} // namespace

extern "C" {
int __real_ftdi_usb_reset(struct ftdi_context *ftdi);
int __real_ftdi_usb_close(struct ftdi_context *ftdi);
void __real_ftdi_deinit(struct ftdi_context *ftdi);

int __wrap_ftdi_usb_reset(struct ftdi_context *ftdi)
{
    release_calls().push_back("reset");
    return __real_ftdi_usb_reset(ftdi);
}
int __wrap_ftdi_usb_close(struct ftdi_context *ftdi)
{
    release_calls().push_back("close");
    return __real_ftdi_usb_close(ftdi);
}
void __wrap_ftdi_deinit(struct ftdi_context *ftdi)
{
    release_calls().push_back("deinit");
    __real_ftdi_deinit(ftdi);
}
}

namespace {

struct MainRun {
    int status;
    std::string out, err;
    double seconds; // model time
};

// board: a state the bench starts from, as a run on a state file does;
// empty: a fresh board.
MainRun run_main(const tapsim::Scenario &s, std::vector<std::string> args,
                 const std::string &board = "")
{
    if (board.empty()) {
        tapsim::reset(s);
    } else {
        EXPECT_TRUE(tapsim::reset_from_board(s, board));
        EXPECT_EQ(tapsim::board_state(), board); // kept whole
    }
    release_calls().clear();
    args.insert(args.begin(), "tapline");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Captured c = capture([&] {
        return tapline_main(static_cast<int>(args.size()), argv.data());
    });
    return {c.result, c.out, c.err, tapsim::record().time_us * 1e-6};
}

struct Transfer {
    bool in;
    uint64_t ordinal; // among writes (resp. reads)
    uint64_t overall; // among all bulk transfers
};

// The command's own transfers, after set-up and probe, from a clean run.
std::vector<Transfer> command_transfers(const tapsim::Record &r)
{
    std::vector<Transfer> out;
    uint64_t writes = 0, reads = 0, all = 0;
    for (const auto &b : r.bulk) {
        ++all;
        uint64_t n = b.in ? ++reads : ++writes;
        if (writes > 2) // the set-up and probe writes and the probe's reads
            out.push_back({b.in, n, all});
    }
    return out;
}

enum class Fault { Error, Timeout, Unplug };

class FaultSweep : public ::testing::TestWithParam<const char *> {
  protected:
    void SetUp() override
    {
        file_ = std::make_unique<TempBit>(
            bitgen::make_bitfile({}, bitgen::config_stream(1000)));
    }
    std::vector<std::string> args() const
    {
        if (std::strcmp(GetParam(), "load") == 0)
            return {"load", file_->path};
        return {GetParam()};
    }
    std::unique_ptr<TempBit> file_;
};

} // namespace

TEST_P(FaultSweep, EveryFailedTransferEndsTheRunCleanly)
{
    MainRun clean = run_main(tapsim::Scenario(), args());
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::vector<Transfer> transfers = command_transfers(tapsim::record());
    ASSERT_FALSE(transfers.empty());
    // The chip reset of the open, then the release.
    const std::vector<std::string> release = {"reset", "reset", "close",
                                              "deinit"};

    for (const Transfer &t : transfers) {
        for (Fault f : {Fault::Error, Fault::Timeout, Fault::Unplug}) {
            tapsim::Scenario s;
            switch (f) {
            case Fault::Error:
                (t.in ? s.faults.error_read : s.faults.error_write) = t.ordinal;
                break;
            case Fault::Timeout:
                // A write the chip stops taking; a read that never brings
                // data again.
                if (t.in)
                    s.faults.silent_from = t.ordinal;
                else {
                    s.faults.partial_write = t.ordinal;
                    s.faults.partial_keep = 0;
                }
                break;
            case Fault::Unplug:
                s.faults.unplug = t.overall;
                break;
            }
            const std::string what = std::string(t.in ? "read " : "write ") +
                                     std::to_string(t.ordinal) + " fault " +
                                     std::to_string(static_cast<int>(f));
            MainRun r = run_main(s, args());
            EXPECT_EQ(r.status, 1) << what;
            EXPECT_NE(r.out + r.err, "") << what;
            EXPECT_EQ(release_calls(), release) << what;
            // A read that never answers is given up after a second.
            EXPECT_LT(r.seconds, 2.5) << what;

            // The next command on the board the fault left: status
            // answers, and its reads change nothing a second one sees.
            MainRun next =
                run_main(tapsim::Scenario(), {"status"}, tapsim::board_state());
            EXPECT_TRUE(next.status == 0 || next.status == 2)
                << what << ": " << next.err;
            EXPECT_EQ(next.out.rfind("FPGA: ", 0), 0u) << what;
            MainRun again =
                run_main(tapsim::Scenario(), {"status"}, tapsim::board_state());
            EXPECT_EQ(again.out, next.out) << what;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultSweep,
                         ::testing::Values("idcode", "reset", "user1", "load",
                                           "status"));
