#include "cli/entry.h"

int main(int argc, char **argv)
{
    return tapline_main(argc, argv);
}
