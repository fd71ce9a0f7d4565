#include "cli/dispatch.h"

#include <string.h>

#include "bitstream/loader.h"
#include "cli/entry.h"
#include "cli/queries.h"
#include "cli/status_query.h"
#include "jtag/constants.h"

namespace {

bool is(const char *word, const char *command)
{
    return strcmp(word, command) == 0;
}

} // namespace

int dispatch_command(struct ftdi_context *ftdi, unsigned char *buf, int argc,
                     char **argv)
{
    const char *word = argv[1];
    if (is(word, "idcode"))
        return query_idcode(ftdi, buf);
    if (is(word, "reset"))
        return query_reset(ftdi);
    if (is(word, "load"))
        return load_command(ftdi, buf, argc, argc > 2 ? argv[2] : nullptr);
    if (is(word, "user1"))
        return query_user(ftdi, buf, INSN_USER1);
    if (is(word, "user2"))
        return query_user(ftdi, buf, INSN_USER2);
    if (is(word, "user3"))
        return query_user(ftdi, buf, INSN_USER3);
    if (is(word, "user4"))
        return query_user(ftdi, buf, INSN_USER4);
    if (is(word, "status"))
        return query_status(ftdi, buf);
    print_usage();
    return -1;
}
