#include "cli/options.h"

#include <string.h>

namespace {

// "-d N", "--device N" or "--device=N": the value, or null when word is
// not this option. *next is the index after the option.
const char *value_of(int argc, char **argv, int *next, const char *short_name,
                     const char *long_name)
{
    const char *word = argv[*next];
    const size_t n = strlen(long_name);
    if (strncmp(word, long_name, n) == 0 && word[n] == '=') {
        (*next)++;
        return word + n + 1;
    }
    if (strcmp(word, short_name) != 0 && strcmp(word, long_name) != 0)
        return nullptr;
    if (*next + 1 >= argc)
        return "";
    *next += 2;
    return argv[*next - 1];
}

} // namespace

int options_parse(int argc, char **argv, struct ToolOptions *options)
{
    options->device = nullptr;
    options->serial = nullptr;
    int i = 1;
    while (i < argc) {
        const char **slot = &options->device;
        const char *v = value_of(argc, argv, &i, "-d", "--device");
        if (!v) {
            slot = &options->serial;
            v = value_of(argc, argv, &i, "-s", "--serial");
        }
        if (!v)
            break;
        if (!*v)
            return -1;
        *slot = v;
    }
    return i;
}
