#include "bitstream/loader.h"

#include <errno.h>
#include <ftdi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bitstream/bitfile.h"
#include "bitstream/load_cause.h"
#include "bitstream/progress.h"
#include "bitstream/stream_idcode.h"
#include "cli/entry.h"
#include "jtag/constants.h"
#include "jtag/status.h"
#include "jtag/tap.h"

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
int check_part(struct ftdi_context *ftdi, unsigned char *buf,
               const char *filename, const struct BitstreamInfo *info,
               uint32_t *idcode)
{
    uint32_t device = 0;
    if (status_read_idcode_batched(ftdi, buf, &device) != 0 ||
        status_require_device(device) != 0)
        return -1;
    uint32_t wanted = 0;
    if (bitstream_find_idcode(info, device, &wanted) &&
        !status_same_part(wanted, device)) {
        fprintf(stderr,
                "%s is for ID code %08lx, the FPGA is %08lx; nothing was "
                "sent\n",
                filename, (unsigned long)wanted, (unsigned long)device);
        return -1;
    }
    *idcode = device;
    return 0;
}

// Clear the device and wait until it has, select its configuration input,
// go to Shift-DR. Bits sent before clearing ends would be dropped, sync
// word and all.
int prepare_target(struct ftdi_context *ftdi, unsigned char *buf)
{
    if (jtag_reset_to_idle(ftdi) != 0 ||
        jtag_load_ir(ftdi, INSN_JPROGRAM) != 0 ||
        status_wait_init(ftdi, buf) != 0 ||
        jtag_load_ir(ftdi, INSN_CFG_IN) != 0)
        return -1;
    return jtag_enter_shift_dr(ftdi);
}

// Leave Shift-DR (one more 0 bit goes in), load the start-up instruction
// and give it 32 clocks in Run-Test/Idle, then reset the TAP.
int start_target(struct ftdi_context *ftdi)
{
    static const int to_idle[] = {1, 1, 0};
    int result = 0;
    if (jtag_clock_tms_sequence(ftdi, to_idle) != 0) {
        fputs("Can't leave Shift-DR: write failed\n", stderr);
        result = -1;
    }
    if (jtag_load_ir(ftdi, INSN_JSTART) != 0)
        result = -1;
    static const int idle_clocks[32] = {0};
    if (jtag_clock_tms_sequence(ftdi, idle_clocks) != 0) {
        fputs("Can't clock start-up cycles: write failed\n", stderr);
        result = -1;
    }
    if (jtag_reset_to_idle(ftdi) != 0)
        result = -1;
    return result;
}

int send_bitstream(struct ftdi_context *ftdi, unsigned char *buf,
                   const unsigned char *mirrored, uint32_t length)
{
    ProgressLine progress(length);
    uint32_t full_chunks = length / CHUNK_DATA_SIZE;
    uint32_t last = length % CHUNK_DATA_SIZE;
    for (uint32_t i = 0; i < full_chunks; i++) {
        int size = loader_frame_chunk(
            buf, mirrored + (size_t)i * CHUNK_DATA_SIZE, CHUNK_DATA_SIZE);
        if (ftdi_write_data(ftdi, buf, size) != size) {
            progress.end();
            fprintf(stderr, "Ftdi write failed %d\n", (int)i);
            return -1;
        }
        progress.update((i + 1) * CHUNK_DATA_SIZE);
    }
    // A length that is a multiple of the chunk size has no final chunk.
    if (last == 0)
        return 0;
    int size = loader_frame_chunk(
        buf, mirrored + (size_t)full_chunks * CHUNK_DATA_SIZE, last);
    if (ftdi_write_data(ftdi, buf, size) != size) {
        progress.end();
        fputs("Ftdi write failed last\n", stderr);
        return -1;
    }
    progress.update(length);
    return 0;
}

} // namespace

void loader_print_header(const struct BitstreamInfo *info)
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

// The mirror is the one pass the CPU makes over a whole bitstream. On
// x86-64 an AVX2 build of it is picked at load time where the CPU has it.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
void loader_mirror(unsigned char *dst, const unsigned char *src, uint32_t n)
{
    // Swap nibbles, then bit pairs, then neighbours: eight bytes per step.
    // Every mask is the same in each byte, so byte order does not matter.
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        memcpy(&x, src + i, 8);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) |
            ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
        x = ((x >> 2) & 0x3333333333333333ULL) |
            ((x & 0x3333333333333333ULL) << 2);
        x = ((x >> 1) & 0x5555555555555555ULL) |
            ((x & 0x5555555555555555ULL) << 1);
        memcpy(dst + i, &x, 8);
    }
    for (; i < n; i++) {
        unsigned b = src[i];
        b = ((b >> 4) & 0x0F) | ((b & 0x0F) << 4);
        b = ((b >> 2) & 0x33) | ((b & 0x33) << 2);
        b = ((b >> 1) & 0x55) | ((b & 0x55) << 1);
        dst[i] = (unsigned char)b;
    }
}

int loader_frame_chunk(unsigned char *buf, const unsigned char *data,
                       uint32_t n)
{
    buf[0] = MPSSE_BYTES_OUT;
    buf[1] = (unsigned char)((n - 1) & 0xFF);
    buf[2] = (unsigned char)(((n - 1) >> 8) & 0xFF);
    memcpy(buf + MPSSE_HEADER_SIZE, data, n);
    return (int)(n + MPSSE_HEADER_SIZE);
}

int load_command(struct ftdi_context *ftdi, unsigned char *buf, int argc,
                 const char *filename)
{
    if (argc <= 2 || !filename) {
        print_usage();
        return -1;
    }
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
    loader_print_header(info.info);

    // The part check reads the stream as the file has it; then the bits
    // are mirrored in place, so the bitstream is held once.
    uint32_t device = 0;
    if (check_part(ftdi, buf, name, info.info, &device) != 0)
        return -1;
    uint32_t length = info.info->length;
    // Where the stream's words start, for the status read after a failure.
    const SentStream sent = {length, bitstream_sync_end(info.info, device)};
    loader_mirror(info.info->data, info.info->data, length);
    // Without a cleared device the bitstream would be lost: send none.
    if (prepare_target(ftdi, buf) != 0)
        return -1;
    // A failed chunk leaves the device cleared, not started.
    if (send_bitstream(ftdi, buf, info.info->data, length) != 0)
        return -1;
    if (start_target(ftdi) != 0)
        return -1;
    int result = status_confirm_done(ftdi, buf);
    if (result == STATUS_NOT_STARTED)
        load_report_cause(ftdi, buf, device, &sent);
    return result == 0 ? 0 : -1;
}
