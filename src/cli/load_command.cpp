#include "cli/load_command.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bitstream/bitfile.h"
#include "bitstream/mirror.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "xilinx/cause.h"
#include "xilinx/configure.h"
#include "xilinx/idcode.h"
#include "xilinx/parts.h"
#include "xilinx/stream.h"

namespace {

struct FileOwner {
    FILE *file;
    FileOwner(const FileOwner &) = delete;
    FileOwner &operator=(const FileOwner &) = delete;
    ~FileOwner()
    {
        if (file && file != stdin)
            fclose(file);
    }
};

struct InfoOwner {
    BitstreamInfo *info;
    InfoOwner(const InfoOwner &) = delete;
    InfoOwner &operator=(const InfoOwner &) = delete;
    ~InfoOwner() { bitfile_free(info); }
};

// "-" is standard input, as for other tools (a file of that name is
// reached as "./-"). *name is what messages call the input.
FILE *open_input(const char *filename, const char **name)
{
    if (strcmp(filename, "-") == 0) {
        *name = "standard input";
        return stdin;
    }
    *name = filename;
    return fopen(filename, "r");
}

const char *text_or_empty(const char *text)
{
    return text ? text : "";
}

void report_read_failure(const char *filename, int err)
{
    if (err == ENOMEM)
        fputs("Can't malloc memory\n", stderr);
    else if (err == EINVAL)
        fprintf(stderr, "%s is not a valid bit file\n", filename);
    else
        fprintf(stderr, "Can't read %s: %s\n", filename, strerror(err));
}

// Before anything that clears the running design: a device must answer,
// and a file that names its part must name this one.
int check_part(struct Jtag *j, const char *filename,
               const struct BitstreamInfo *info, uint32_t *idcode)
{
    uint32_t device = 0;
    if (idcode_read_batched(j, &device) != 0 ||
        idcode_require_device(device) != 0)
        return -1;
    uint32_t wanted = 0;
    if (stream_find_idcode(info->data, info->length, parts_family(device),
                           &wanted) &&
        !idcode_same_part(wanted, device)) {
        fprintf(stderr,
                "%s is for ID code %08lx, the FPGA is %08lx; nothing was "
                "sent\n",
                filename, (unsigned long)wanted, (unsigned long)device);
        return -1;
    }
    *idcode = device;
    return 0;
}

// The mirrored bitstream in chunks of one write each. A failed chunk
// leaves the device cleared, not started.
int send_bitstream(struct Jtag *j, const unsigned char *mirrored,
                   uint32_t length)
{
    ProgressLine progress(length);
    const uint32_t full_chunks = length / CONFIGURE_CHUNK_SIZE;
    const uint32_t last = length % CONFIGURE_CHUNK_SIZE;
    for (uint32_t i = 0; i < full_chunks; i++) {
        memcpy(configure_chunk(j, CONFIGURE_CHUNK_SIZE),
               mirrored + (size_t)i * CONFIGURE_CHUNK_SIZE,
               CONFIGURE_CHUNK_SIZE);
        const enum QueueResult r = configure_send_chunk(j);
        if (r != QUEUE_OK) {
            progress.end();
            queue_report(STEP_CHUNK, r, i);
            return -1;
        }
        progress.update((i + 1) * CONFIGURE_CHUNK_SIZE);
    }
    // A length that is a multiple of the chunk size has no final chunk.
    if (last == 0)
        return 0;
    memcpy(configure_chunk(j, last),
           mirrored + (size_t)full_chunks * CONFIGURE_CHUNK_SIZE, last);
    const enum QueueResult r = configure_send_chunk(j);
    if (r != QUEUE_OK) {
        progress.end();
        queue_report(STEP_LAST_CHUNK, r, 0);
        return -1;
    }
    progress.update(length);
    return 0;
}

} // namespace

void load_print_header(const struct BitstreamInfo *info)
{
    puts("Bitstream information:");
    printf("\tDesign: %s\n", text_or_empty(info->design));
    printf("\tPart name: %s\n", text_or_empty(info->part_name));
    printf("\tDate: %s\n", text_or_empty(info->date));
    printf("\tTime: %s\n", text_or_empty(info->time));
    printf("\tBitstream length: %lu\n", (unsigned long)info->length);
    // Out before any message on standard error, also in a shared log.
    fflush(stdout);
}

int command_load(struct ToolRun *run, const struct CommandRow * /*row*/)
{
    if (run->argc <= 2 || !run->argv[2]) {
        print_usage();
        return -1;
    }
    const char *filename = run->argv[2];
    struct Jtag *j = run->jtag;
    // Released in reverse: record, file.
    FileOwner file = {nullptr};
    InfoOwner info = {(BitstreamInfo *)calloc(1, sizeof(BitstreamInfo))};
    if (!info.info) {
        fputs("Can't malloc memory\n", stderr);
        return -1;
    }
    const char *name;
    file.file = open_input(filename, &name);
    if (!file.file) {
        fprintf(stderr, "Can't open %s: %s\n", name, strerror(errno));
        return -1;
    }
    errno = 0;
    if (bitfile_read_header(file.file, info.info) != 0) {
        report_read_failure(name, errno);
        return -1;
    }
    load_print_header(info.info);

    // The part check reads the stream as the file has it; then the bits
    // are mirrored in place, so the bitstream is held once.
    uint32_t device = 0;
    if (check_part(j, name, info.info, &device) != 0)
        return -1;
    const struct ChainPosition *pos = &chain_lone_fpga;
    const FamilyInstructions *insn = family_instructions(parts_family(device));
    const uint32_t length = info.info->length;
    // Where the stream's words start, for the status read after a failure.
    const SentStream sent = {
        length, stream_sync_end(info.info->data, length, parts_family(device))};
    bitstream_mirror(info.info->data, info.info->data, length);
    // Without a cleared device the bitstream would be lost: send none.
    if (configure_begin(j, pos, insn) != 0)
        return -1;
    if (send_bitstream(j, info.info->data, length) != 0)
        return -1;
    if (configure_start(j, pos, insn) != 0)
        return -1;
    int result = configure_confirm_done(j, pos, insn);
    if (result == CONFIGURE_NOT_STARTED)
        cause_report(j, pos, device, &sent);
    return result == 0 ? 0 : -1;
}
