#include "cli/entry.h"
#include "cli/output.h"

int main(int argc, char **argv)
{
    int status = tapline_main(argc, argv);
    if (output_close() != 0)
        status = 1;
    return status;
}
