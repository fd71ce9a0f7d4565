#include "cli/load_command.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bitstream/bitfile.h"
#include "bitstream/mirror.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "xilinx/cause.h"
#include "xilinx/configure.h"
#include "xilinx/idcode.h"
#include "xilinx/parts.h"
#include "xilinx/stream.h"
#include "xilinx/target.h"

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

struct HeaderLine {
    const char *label;
    const char *text; // null: the file lacked it
};

// One header line with every byte outside printable ASCII shown as \xNN:
// the texts are the file's, and a control byte would reach the terminal. A
// backslash stays as it is, so a path reads as written; the escapes are for
// the terminal's safety, not a reversible encoding.
void print_header_line(const HeaderLine &line)
{
    static const char hex[] = "0123456789abcdef";
    fputs(line.label, stdout);
    for (const unsigned char *p =
             (const unsigned char *)(line.text ? line.text : "");
         *p; p++) {
        if (*p >= 0x20 && *p <= 0x7E) {
            putchar(*p);
            continue;
        }
        putchar('\\');
        putchar('x');
        putchar(hex[*p >> 4]);
        putchar(hex[*p & 0x0F]);
    }
    putchar('\n');
}

void report_read_failure(const char *filename, int err)
{
    if (err == ENOMEM)
        fputs("Can't malloc memory\n", stderr);
    else if (err == EFBIG)
        fprintf(stderr, "%s declares a bitstream longer than 1 GiB\n",
                filename);
    else if (err == EINVAL)
        fprintf(stderr, "%s is not a valid bit file\n", filename);
    else
        fprintf(stderr, "Can't read %s: %s\n", filename, strerror(err));
}

// Before the adapter is asked anything: the stream must say, in its own
// packets, which part it is for.
int check_stream(const char *filename, const struct BitstreamInfo *info,
                 uint32_t *code, const XilinxFamily **family)
{
    switch (stream_own_idcode(info->data, info->length, code, family)) {
    case STREAM_IDCODE:
        return 0;
    case STREAM_NO_SYNC:
        fprintf(stderr, "%s holds no configuration stream (no sync word)\n",
                filename);
        return -1;
    case STREAM_NO_IDCODE:
        fprintf(stderr,
                "%s writes no ID code before its frame data; nothing was "
                "sent\n",
                filename);
        return -1;
    }
    return -1;
}

// Before anything that clears the running design: a device must answer,
// and it must be the part the stream is for.
int choose_device(struct ToolRun *run, const char *filename, uint32_t wanted,
                  struct Target *t)
{
    struct Chain chain;
    if (chain_identify(run->jtag, &chain) != 0 ||
        target_choose(&chain, run->device, wanted, filename, t) != 0)
        return -1;
    if (chain.count == 0) {
        fprintf(stderr, "No FPGA answers on JTAG (ID code %08lx)\n",
                (unsigned long)chain.first_word);
        return -1;
    }
    if (t->part && t->part->pdi_only) {
        fprintf(stderr, "%s takes PDI images, not bit files\n", t->part->name);
        return -1;
    }
    if (t->part && t->dies_unknown) {
        fprintf(stderr, "%s: loading its SLRs is not supported\n",
                t->part->name);
        return -1;
    }
    if (!idcode_same_part(wanted, t->idcode)) {
        fprintf(stderr,
                "%s is for ID code %08lx, the FPGA is %08lx; nothing was "
                "sent\n",
                filename, (unsigned long)wanted, (unsigned long)t->idcode);
        return -1;
    }
    return 0;
}

// A signal stopped the load with the device cleared and part fed: out of
// Shift-DR and through reset, so the adapter is released with nothing half
// shifted.
int stop_interrupted(struct Jtag *j)
{
    if (jtag_walk(j, TAP_IDLE) != 0)
        queue_report(STEP_LEAVE_SHIFT_DR, QUEUE_WRITE_FAILED, 0);
    jtag_reset_to_idle(j);
    fputs("Interrupted: the FPGA is not configured\n", stderr);
    return -1;
}

// The mirrored bitstream in chunks of one write each; *sent counts the
// bytes of the chunks that went out whole. sent + n never passes length,
// so no sum wraps whatever the length.
int send_bitstream(struct Jtag *j, const unsigned char *mirrored,
                   uint32_t length, uint32_t *sent)
{
    *sent = 0;
    ProgressLine progress(length);
    for (unsigned index = 0; *sent < length; index++) {
        if (interrupt_pending()) {
            progress.end();
            return stop_interrupted(j);
        }
        // A length that is a multiple of the chunk size has no final,
        // shorter chunk.
        const bool last = length - *sent < CONFIGURE_CHUNK_SIZE;
        const uint32_t n = last ? length - *sent : CONFIGURE_CHUNK_SIZE;
        memcpy(configure_chunk(j, n), mirrored + *sent, n);
        const enum QueueResult r = configure_send_chunk(j);
        if (r != QUEUE_OK) {
            progress.end();
            if (last)
                queue_report(STEP_LAST_CHUNK, r, 0);
            else
                queue_report(STEP_CHUNK, r, index);
            return -1;
        }
        *sent += n;
        progress.update(*sent);
    }
    return 0;
}

} // namespace

int load_print_header(const struct BitstreamInfo *info)
{
    puts("Bitstream information:");
    const HeaderLine lines[] = {{"\tDesign: ", info->design},
                                {"\tPart name: ", info->part_name},
                                {"\tDate: ", info->date},
                                {"\tTime: ", info->time}};
    for (const HeaderLine &line : lines)
        print_header_line(line);
    printf("\tBitstream length: %lu\n", (unsigned long)info->length);
    // Out before any message on standard error, also in a shared log; a
    // header that cannot be delivered stops the load before the running
    // design is touched.
    return output_flush();
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
    if (load_print_header(info.info) != 0)
        return -1;

    uint32_t wanted = 0;
    const XilinxFamily *stream_family = nullptr;
    struct Target t;
    if (check_stream(name, info.info, &wanted, &stream_family) != 0 ||
        choose_device(run, name, wanted, &t) != 0)
        return -1;
    const struct ChainPosition *pos = &t.pos;
    const FamilyInstructions *insn = &t.insn;
    const uint32_t length = info.info->length;
    // Where the stream's words start, for the status read after a failure.
    const SentStream sent = {
        length, stream_sync_end(info.info->data, length, stream_family)};
    // A stream that ends synchronised would take the next reader's words as
    // packets. Only whole words can be closed.
    const bool close_stream =
        sent.sync_end &&
        (length - sent.sync_end) % stream_family->word_bytes == 0 &&
        !stream_ends_desynced(info.info->data, length, stream_family);
    // The bits are mirrored in place, so the bitstream is held once.
    bitstream_mirror(info.info->data, info.info->data, length);
    // From the clearing on, a signal stops the load at a chunk boundary.
    interrupt_catch();
    // Without a cleared device the bitstream would be lost: send none.
    if (configure_begin(j, pos, insn) != 0)
        return -1;
    uint32_t sent_bytes = 0;
    if (send_bitstream(j, info.info->data, length, &sent_bytes) != 0) {
        // A cut stream leaves the logic waiting inside a packet, where any
        // later request would be taken as its data: clear it.
        fprintf(stderr, "Cause: the bitstream was cut after %lu of %lu bytes\n",
                (unsigned long)sent_bytes, (unsigned long)length);
        configure_abandon(j, pos, insn);
        return -1;
    }
    if (close_stream && configure_send_desync(j, stream_family) != 0)
        return -1;
    if (configure_start(j, pos, insn) != 0)
        return -1;
    int result = configure_confirm_done(j, pos, insn);
    if (result == CONFIGURE_NOT_STARTED)
        cause_report(j, &t, &sent);
    return result == 0 ? 0 : -1;
}
