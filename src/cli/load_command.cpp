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

// send_bitstream's result when the input gave out before the declared
// length.
enum { INPUT_ENDED = -2 };

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
int check_stream(const char *filename, const unsigned char *head,
                 uint32_t head_length, uint32_t *code,
                 const XilinxFamily **family)
{
    switch (stream_own_idcode(head, head_length, code, family)) {
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
        target_choose(&chain, run->device, wanted, filename, t) != 0 ||
        chain_require_devices(&chain) != 0)
        return -1;
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

// The bitstream as it is read: its first chunk held for the checks, the
// rest read a chunk at a time straight into the transfer buffer, so memory
// does not grow with the file. The last bytes are kept for the check of how
// the stream ends.
struct StreamInput {
    FILE *file;
    const unsigned char *head; // the first head_length bytes
    uint32_t head_length;
    uint32_t length;         // declared
    unsigned char tail[256]; // the last tail_length bytes read
    uint32_t tail_length;
    uint32_t short_read; // bytes of the chunk the input ended in
};

void keep_tail(struct StreamInput *in, const unsigned char *bytes, uint32_t n)
{
    const uint32_t size = sizeof in->tail;
    if (n >= size) {
        memcpy(in->tail, bytes + n - size, size);
        in->tail_length = size;
        return;
    }
    const uint32_t kept =
        in->tail_length + n > size ? size - n : in->tail_length;
    memmove(in->tail, in->tail + in->tail_length - kept, kept);
    memcpy(in->tail + kept, bytes, n);
    in->tail_length = kept + n;
}

// Chunk bytes [at, at + n) into dst. Returns false when the input ended or
// failed before them: nothing unread is ever sent.
bool read_chunk(struct StreamInput *in, uint32_t at, uint32_t n,
                unsigned char *dst)
{
    if (at < in->head_length) {
        memcpy(dst, in->head + at, n);
        return true;
    }
    in->short_read = (uint32_t)fread(dst, 1, n, in->file);
    return in->short_read == n;
}

// The bitstream in chunks of one write each, every byte mirrored as it goes
// out; *sent counts the bytes of the chunks that went out whole. sent + n
// never passes length, so no sum wraps whatever the length.
int send_bitstream(struct Jtag *j, struct StreamInput *in, uint32_t *sent)
{
    const uint32_t length = in->length;
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
        unsigned char *chunk = configure_chunk(j, n);
        if (!read_chunk(in, *sent, n, chunk)) {
            progress.end();
            return INPUT_ENDED;
        }
        keep_tail(in, chunk, n);
        bitstream_mirror(chunk, chunk, n);
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
    if (bitfile_read_texts(file.file, info.info) != 0) {
        report_read_failure(name, errno);
        return -1;
    }
    // The first chunk before anything is sent: the checks read it. A named
    // file holds the declared length (checked with the header); a pipe
    // that ends within it is refused as a file that ends too soon.
    const uint32_t length = info.info->length;
    struct StreamInput in = {file.file, nullptr, 0, length, {}, 0, 0};
    in.head_length =
        length < CONFIGURE_CHUNK_SIZE ? length : CONFIGURE_CHUNK_SIZE;
    info.info->data = (unsigned char *)malloc(in.head_length);
    if (!info.info->data) {
        fputs("Can't malloc memory\n", stderr);
        return -1;
    }
    errno = 0;
    if (fread(info.info->data, 1, in.head_length, file.file) !=
        in.head_length) {
        report_read_failure(name, ferror(file.file) && errno ? errno : EINVAL);
        return -1;
    }
    in.head = info.info->data;
    if (load_print_header(info.info) != 0)
        return -1;

    uint32_t wanted = 0;
    const XilinxFamily *stream_family = nullptr;
    struct Target t;
    if (check_stream(name, in.head, in.head_length, &wanted, &stream_family) !=
            0 ||
        choose_device(run, name, wanted, &t) != 0)
        return -1;
    const struct ChainPosition *pos = &t.pos;
    const FamilyInstructions *insn = &t.insn;
    // Where the stream's words start, for the status read after a failure.
    const SentStream sent = {
        length, stream_sync_end(in.head, in.head_length, stream_family)};
    // From the clearing on, a signal stops the load at a chunk boundary.
    interrupt_catch();
    // Without a cleared device the bitstream would be lost: send none.
    if (configure_begin(j, pos, insn) != 0)
        return -1;
    uint32_t sent_bytes = 0;
    const int sending = send_bitstream(j, &in, &sent_bytes);
    if (sending != 0) {
        // A cut stream leaves the logic waiting inside a packet, where any
        // later request would be taken as its data: clear it.
        fprintf(stderr, "Cause: the bitstream was cut after %lu of %lu bytes\n",
                (unsigned long)sent_bytes, (unsigned long)length);
        if (sending == INPUT_ENDED)
            fprintf(stderr, "%s ended after %lu of %lu bitstream bytes\n", name,
                    (unsigned long)sent_bytes + in.short_read,
                    (unsigned long)length);
        configure_abandon(j, pos, insn);
        return -1;
    }
    // A stream that ends synchronised would take the next reader's words as
    // packets. Only whole words can be closed.
    const bool close_stream =
        sent.sync_end &&
        (length - sent.sync_end) % stream_family->word_bytes == 0 &&
        !stream_ends_desynced(in.tail, in.tail_length, stream_family);
    if (close_stream && configure_send_desync(j, stream_family) != 0)
        return -1;
    if (configure_start(j, pos, insn) != 0)
        return -1;
    int result = configure_confirm_done(j, pos, insn);
    if (result == CONFIGURE_NOT_STARTED)
        cause_report(j, &t, &sent);
    return result == 0 ? 0 : -1;
}
