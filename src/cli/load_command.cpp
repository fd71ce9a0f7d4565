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

// The mirrored bitstream in chunks of one write each. A failed chunk
// leaves the device cleared, not started. sent + n never passes length,
// so no sum wraps whatever the length.
int send_bitstream(struct Jtag *j, const unsigned char *mirrored,
                   uint32_t length)
{
    ProgressLine progress(length);
    uint32_t sent = 0;
    for (unsigned index = 0; sent < length; index++) {
        if (interrupt_pending()) {
            progress.end();
            return stop_interrupted(j);
        }
        // A length that is a multiple of the chunk size has no final,
        // shorter chunk.
        const bool last = length - sent < CONFIGURE_CHUNK_SIZE;
        const uint32_t n = last ? length - sent : CONFIGURE_CHUNK_SIZE;
        memcpy(configure_chunk(j, n), mirrored + sent, n);
        const enum QueueResult r = configure_send_chunk(j);
        if (r != QUEUE_OK) {
            progress.end();
            if (last)
                queue_report(STEP_LAST_CHUNK, r, 0);
            else
                queue_report(STEP_CHUNK, r, index);
            return -1;
        }
        sent += n;
        progress.update(sent);
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
    // From the clearing on, a signal stops the load at a chunk boundary.
    interrupt_catch();
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
