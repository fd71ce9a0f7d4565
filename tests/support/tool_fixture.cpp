#include "tool_fixture.h"

#include "link/adapter.h"

extern "C" int __real_ftdi_write_data(struct ftdi_context *ftdi,
                                      unsigned char *buf, int size);

extern "C" int __wrap_ftdi_write_data(struct ftdi_context *ftdi,
                                      unsigned char *buf, int size)
{
    int result =
        swallow_writes ? size : __real_ftdi_write_data(ftdi, buf, size);
    write_log().push_back({Bytes(buf, buf + (size > 0 ? size : 0)), result});
    return result;
}

bool swallow_writes = false;

std::vector<WriteCall> &write_log()
{
    static std::vector<WriteCall> log;
    return log;
}

std::vector<Bytes> written()
{
    std::vector<Bytes> out;
    for (const WriteCall &call : write_log())
        out.push_back(call.bytes);
    return out;
}

void ToolTest::start(const tapsim::Scenario &scenario)
{
    TearDown();
    swallow_writes = false;
    tapsim::reset(scenario);
    write_log().clear();
}

int ToolTest::try_open()
{
    attempted_ = true;
    jtag_init(&jtag_, &ftdi_, buf_);
    int result = adapter_open(&jtag_.queue, tck_hz_, serial_);
    opened_ = result == 0;
    return result;
}

void ToolTest::open_adapter()
{
    ASSERT_EQ(try_open(), 0);
    write_log().clear();
}

void ToolTest::TearDown()
{
    if (opened_)
        adapter_release(&jtag_.queue);
    else if (attempted_)
        ftdi_deinit(&ftdi_); // a failed open leaves the context to us
    opened_ = attempted_ = false;
}

ToolRun ToolTest::tool_run(std::vector<std::string> &args,
                           std::vector<char *> &argv, const char *device)
{
    args.insert(args.begin(), "tapline");
    argv.clear();
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ToolRun run{};
    run.jtag = &jtag_;
    run.buf = buf_;
    run.argc = (int)args.size();
    run.argv = argv.data();
    run.device = device;
    return run;
}

tapsim::TapState ToolTest::final_state()
{
    const auto &states = rec().states;
    return states.empty() ? tapsim::TapState::TestLogicReset
                          : states.back().state;
}
