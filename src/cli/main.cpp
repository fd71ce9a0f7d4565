#include "cli/entry.h"
#include "cli/interrupt.h"
#include "cli/output.h"

int main(int argc, char **argv)
{
    int status = tapline_main(argc, argv);
    if (output_close() != 0 && !interrupt_pending())
        status = 1;
    // After an interrupted load the process ends by the signal itself.
    return interrupt_finish(status);
}
