#include "cli/detect_command.h"

#include <stdio.h>

#include "cli/commands.h"
#include "xilinx/target.h"

int command_detect(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    struct Chain chain;
    if (chain_identify(run->jtag, &chain) != 0 ||
        chain_require_devices(&chain) != 0)
        return -1;
    for (unsigned i = 0; i < chain.count; i++) {
        const ChainDevice &d = chain.devices[i];
        if (d.idcode == 0)
            printf("%u: no ID code, IR length %u\n", i, d.ir_length);
        else
            printf("%u: ID code %08lx, IR length %u, %s\n", i,
                   (unsigned long)d.idcode, d.ir_length,
                   d.name ? d.name : "unknown device");
    }
    return 0;
}
