#include "link/queue.h"

#include <ftdi.h>
#include <stdio.h>
#include <string.h>

#include "link/adapter.h"
#include "link/clock.h"

namespace {

uint32_t room(const struct MpsseQueue *q)
{
    return QUEUE_BUFFER_SIZE - q->len;
}

// Out-only commands may be sent early to make room; commands owing
// answers must fit with what they wait on.
void make_room(struct MpsseQueue *q, uint32_t need)
{
    if (room(q) >= need || q->len == 0)
        return;
    if (queue_send(q) != QUEUE_OK)
        q->failed = true;
}

void put(struct MpsseQueue *q, unsigned char byte)
{
    if (q->len < QUEUE_BUFFER_SIZE)
        q->buf[q->len++] = byte;
    else
        q->failed = true;
}

// A two-byte length operand holds count - 1, low byte first.
void put_length(struct MpsseQueue *q, uint32_t count)
{
    put(q, (unsigned char)((count - 1) & 0xFF));
    put(q, (unsigned char)(((count - 1) >> 8) & 0xFF));
}

void expect(struct MpsseQueue *q, unsigned char *dest, uint32_t dest_bit,
            uint32_t bytes, unsigned first, unsigned bits)
{
    if (q->n_reads == QUEUE_MAX_READS) {
        q->failed = true;
        return;
    }
    q->reads[q->n_reads++] = {dest, dest_bit, bytes, (unsigned char)first,
                              (unsigned char)bits};
    q->answers += bytes;
}

// The answers arrived at the start of the buffer; whole bytes to a byte
// boundary move at once (their destination may be the buffer itself).
void scatter(struct MpsseQueue *q)
{
    uint32_t at = 0;
    for (unsigned i = 0; i < q->n_reads; i++) {
        const QueueRead &r = q->reads[i];
        if (r.bits == 8 && r.dest_bit % 8 == 0) {
            memmove(r.dest + r.dest_bit / 8, q->buf + at, r.bytes);
        } else {
            uint32_t bit = r.dest_bit;
            for (uint32_t b = 0; b < r.bytes; b++) {
                for (unsigned k = 0; k < r.bits; k++, bit++) {
                    const unsigned char mask = (unsigned char)(1U << (bit % 8));
                    if ((q->buf[at + b] >> (r.first + k)) & 1)
                        r.dest[bit / 8] |= mask;
                    else
                        r.dest[bit / 8] &= (unsigned char)~mask;
                }
            }
        }
        at += r.bytes;
    }
    q->n_reads = 0;
    q->answers = 0;
}

} // namespace

void queue_init(struct MpsseQueue *q, struct ftdi_context *ftdi,
                unsigned char *buf)
{
    q->ftdi = ftdi;
    q->buf = buf;
    q->len = 0;
    q->answers = 0;
    q->failed = false;
    q->tck_hz = 0;
    q->n_reads = 0;
}

void queue_raw(struct MpsseQueue *q, const unsigned char *bytes, unsigned n)
{
    make_room(q, n);
    for (unsigned i = 0; i < n; i++)
        put(q, bytes[i]);
}

void queue_read_pins(struct MpsseQueue *q, unsigned char *dest)
{
    put(q, MPSSE_GET_LOW);
    expect(q, dest, 0, 1, 0, 8);
}

void queue_tms(struct MpsseQueue *q, struct TmsRun run, int tdi)
{
    while (run.count > 0) {
        const unsigned n =
            run.count < MPSSE_MAX_TMS_CLOCKS ? run.count : MPSSE_MAX_TMS_CLOCKS;
        make_room(q, 3);
        put(q, MPSSE_TMS_OUT);
        put(q, (unsigned char)(n - 1));
        put(q,
            (unsigned char)((tdi ? 0x80 : 0) | (run.levels & ((1U << n) - 1))));
        run.levels >>= n;
        run.count -= n;
    }
}

void queue_tms_read(struct MpsseQueue *q, struct TmsRun run, int tdi,
                    unsigned char *dest, uint32_t dest_bit)
{
    put(q, MPSSE_TMS_IO);
    put(q, (unsigned char)(run.count - 1));
    put(q, (unsigned char)((tdi ? 0x80 : 0) |
                           (run.levels & ((1U << run.count) - 1))));
    // count bits read fill the answer byte from the top: the first clock's
    // sits at 8 - count.
    expect(q, dest, dest_bit, 1, 8 - run.count, 1);
}

void queue_bits(struct MpsseQueue *q, const unsigned char *out, unsigned count,
                unsigned char *dest, uint32_t dest_bit)
{
    if (!dest)
        make_room(q, 3);
    put(q, dest ? MPSSE_BITS_IO : MPSSE_BITS_OUT);
    put(q, (unsigned char)(count - 1));
    put(q, *out);
    if (dest)
        expect(q, dest, dest_bit, 1, 8 - count, count);
}

void queue_bytes(struct MpsseQueue *q, const unsigned char *out, uint32_t n,
                 unsigned char *dest, uint32_t dest_bit)
{
    while (n > 0) {
        uint32_t part = n < MPSSE_MAX_BYTES ? n : MPSSE_MAX_BYTES;
        if (!dest) {
            make_room(q, MPSSE_HEADER_SIZE + part);
            if (room(q) < MPSSE_HEADER_SIZE + part)
                part = room(q) > MPSSE_HEADER_SIZE ? room(q) - MPSSE_HEADER_SIZE
                                                   : 1;
        }
        put(q, dest ? MPSSE_BYTES_IO : MPSSE_BYTES_OUT);
        put_length(q, part);
        if (room(q) < part) {
            q->failed = true;
            return;
        }
        if (out)
            memcpy(q->buf + q->len, out, part);
        else
            memset(q->buf + q->len, 0, part);
        q->len += part;
        if (dest) {
            expect(q, dest, dest_bit, part, 0, 8);
            dest_bit += part * 8;
        }
        if (out)
            out += part;
        n -= part;
    }
}

unsigned char *queue_bytes_slot(struct MpsseQueue *q, uint32_t n)
{
    make_room(q, MPSSE_HEADER_SIZE + n);
    put(q, MPSSE_BYTES_OUT);
    put_length(q, n);
    unsigned char *slot = q->buf + q->len;
    if (room(q) < n) {
        q->failed = true;
        return q->buf; // written over, never sent
    }
    q->len += n;
    return slot;
}

void queue_answer_now(struct MpsseQueue *q)
{
    put(q, MPSSE_SEND_IMMEDIATE);
}

enum QueueResult queue_send(struct MpsseQueue *q)
{
    const int size = (int)q->len;
    q->len = 0;
    if (q->failed) {
        q->failed = false;
        return QUEUE_WRITE_FAILED;
    }
    if (size == 0)
        return QUEUE_OK;
    return ftdi_write_data(q->ftdi, q->buf, size) == size ? QUEUE_OK
                                                          : QUEUE_WRITE_FAILED;
}

enum QueueResult queue_receive(struct MpsseQueue *q)
{
    const uint32_t count = q->answers;
    uint32_t total = 0;
    unsigned long last_progress = clock_ms();
    while (total < count) {
        int got = ftdi_read_data(q->ftdi, q->buf + total, (int)(count - total));
        if (got < 0) {
            q->n_reads = 0;
            q->answers = 0;
            return QUEUE_READ_FAILED;
        }
        if (got > 0) {
            total += (uint32_t)got;
            last_progress = clock_ms();
        } else if (clock_ms() - last_progress >=
                   (unsigned long)QUEUE_READ_IDLE_LIMIT_MS) {
            q->n_reads = 0;
            q->answers = 0;
            return QUEUE_READ_TIMEOUT;
        }
    }
    scatter(q);
    return QUEUE_OK;
}

void queue_purge(struct MpsseQueue *q)
{
    q->len = 0;
    q->n_reads = 0;
    q->answers = 0;
    q->failed = false;
    ftdi_usb_purge_buffers(q->ftdi);
}

enum QueueResult queue_run(struct MpsseQueue *q)
{
    enum QueueResult r = queue_send(q);
    if (r != QUEUE_OK) {
        q->n_reads = 0;
        q->answers = 0;
        return r;
    }
    return q->answers ? queue_receive(q) : QUEUE_OK;
}

namespace {

// One row per step: the line for a failed write, a failed read and a read
// that timed out (null: the common read lines).
struct StepMessages {
    QueueStep step;
    const char *write;
    const char *read;
    const char *timeout;
};

const StepMessages step_messages[] = {
    {STEP_CONFIGURE_ADAPTER, "Can't configure device %04x:%04x\n", nullptr,
     nullptr},
    {STEP_PROBE_POWER, "Can't send command to device\n",
     "Can't read pin state from device\n",
     "No answer from device to pin state request\n"},
    {STEP_RESET_TAP, "Can't reset TAP: write failed\n", nullptr, nullptr},
    {STEP_LOAD_IR, "Can't load instruction 0x%02x: write failed\n", nullptr,
     nullptr},
    {STEP_SHIFT_IR_BITS, "Write loop failed\n", nullptr, nullptr},
    {STEP_ENTER_SHIFT_DR, "Can't move TAP to Shift-DR: write failed\n", nullptr,
     nullptr},
    {STEP_LEAVE_SHIFT_DR, "Can't leave Shift-DR: write failed\n", nullptr,
     nullptr},
    {STEP_READ_DR, "Ftdi write failed\n", nullptr, nullptr},
    {STEP_CAPTURE_IR, "Can't capture instruction register: write failed\n",
     nullptr, nullptr},
    {STEP_STARTUP_CLOCKS, "Can't clock start-up cycles: write failed\n",
     nullptr, nullptr},
    {STEP_CHUNK, "Ftdi write failed %d\n", nullptr, nullptr},
    {STEP_LAST_CHUNK, "Ftdi write failed last\n", nullptr, nullptr},
    {STEP_READ_STAT, "Can't read the status register: write failed\n", nullptr,
     nullptr},
    {STEP_DETECT_CHAIN, "Can't detect the JTAG chain: write failed\n", nullptr,
     nullptr},
    {STEP_CLOSING_DESYNC, "Can't end the stream with a DESYNC: write failed\n",
     nullptr, nullptr},
};

} // namespace

void queue_report(enum QueueStep step, enum QueueResult result, unsigned arg)
{
    const StepMessages *m = step_messages;
    while (m->step != step)
        m++;
    const char *text = nullptr;
    switch (result) {
    case QUEUE_OK:
        return;
    case QUEUE_WRITE_FAILED:
        text = m->write;
        break;
    case QUEUE_READ_FAILED:
        text = m->read ? m->read : "Ftdi read failed\n";
        break;
    case QUEUE_READ_TIMEOUT:
        text = m->timeout ? m->timeout : "Ftdi read timed out\n";
        break;
    }
    // Scripts have always read the instruction bits' failure on standard
    // output; standard error says it too, so no failure leaves it empty.
    if (step == STEP_SHIFT_IR_BITS)
        fputs(text, stdout);
    if (step == STEP_CONFIGURE_ADAPTER)
        fprintf(stderr, text, ADAPTER_VENDOR_ID, ADAPTER_PRODUCT_ID);
    else
        fprintf(stderr, text, arg);
}
