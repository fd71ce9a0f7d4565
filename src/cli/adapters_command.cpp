#include "cli/adapters_command.h"

#include <ftdi.h>

#include "cli/commands.h"
#include "link/adapters.h"

int command_adapters(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct ftdi_context *ftdi = run->jtag->queue.ftdi;
    ftdi_init(ftdi);
    const int r = adapters_print(ftdi);
    ftdi_deinit(ftdi);
    return r;
}
