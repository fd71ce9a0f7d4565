// The MPSSE command queue: the one way to the wire. Callers append TMS
// runs and bit or byte shifts, with or without a read; the queue frames
// the commands in the transfer buffer, sends them as one write when asked,
// reads back exactly the answer bytes they produce and scatters the bits
// where the callers wanted them. Every failure maps to its one message in
// one table (queue_report).
#ifndef TAPLINE_LINK_QUEUE_H
#define TAPLINE_LINK_QUEUE_H

#include <stdint.h>

#include "link/mpsse.h"

struct ftdi_context;

// TMS levels, the first clock's in bit 0, and how many clocks.
struct TmsRun {
    unsigned levels;
    unsigned count;
};

enum : unsigned {
    // Room for the largest single command: a header and 65,536 data bytes.
    QUEUE_BUFFER_SIZE = MPSSE_HEADER_SIZE + MPSSE_MAX_BYTES,
    QUEUE_MAX_READS = 32,
};

// How long a read may go without a byte arriving before it is given up.
// The adapter flushes every 2 ms (latency timer), so a second is generous.
enum : long { QUEUE_READ_IDLE_LIMIT_MS = 1000 };

enum QueueResult {
    QUEUE_OK = 0,
    QUEUE_WRITE_FAILED = -1,
    QUEUE_READ_FAILED = -2,  // the library reported an error
    QUEUE_READ_TIMEOUT = -3, // no byte arrived for the idle limit
};

// Where the wanted bits of some answer bytes go: bit i of a destination is
// bit i % 8 of byte i / 8 (least significant first, as TDO shifts out).
struct QueueRead {
    unsigned char *dest;
    uint32_t dest_bit;
    uint32_t bytes;      // answer bytes this entry covers
    unsigned char first; // lowest wanted bit of each answer byte
    unsigned char bits;  // wanted bits of each answer byte
};

struct MpsseQueue {
    struct ftdi_context *ftdi;
    unsigned char *buf; // QUEUE_BUFFER_SIZE bytes: the run's transfer buffer
    uint32_t len;       // bytes appended and not yet sent
    uint32_t answers;   // answer bytes the sent and unsent commands owe
    bool failed;        // a write made to make room failed
    uint32_t tck_hz;    // the rate adapter_open set, rounded up; 0 before
    unsigned n_reads;
    struct QueueRead reads[QUEUE_MAX_READS];
};

// An empty queue over an opened context and the transfer buffer.
void queue_init(struct MpsseQueue *q, struct ftdi_context *ftdi,
                unsigned char *buf);

// Commands as they stand (the adapter's set-up), no answer.
void queue_raw(struct MpsseQueue *q, const unsigned char *bytes, unsigned n);

// Reads the low pin byte into *dest.
void queue_read_pins(struct MpsseQueue *q, unsigned char *dest);

// The run's TMS clocks with TDI held at tdi; runs longer than one command
// takes are split.
void queue_tms(struct MpsseQueue *q, struct TmsRun run, int tdi);

// The same for at most seven clocks in one command, reading TDO at the
// first clock into bit dest_bit of dest.
void queue_tms_read(struct MpsseQueue *q, struct TmsRun run, int tdi,
                    unsigned char *dest, uint32_t dest_bit);

// count (1..8) bits of *out, least significant first; when dest is not
// null, what TDO shows lands from bit dest_bit of dest.
void queue_bits(struct MpsseQueue *q, const unsigned char *out, unsigned count,
                unsigned char *dest, uint32_t dest_bit);

// n bytes of out (zeros when out is null), each least significant bit
// first; when dest is not null, the bytes read land from bit dest_bit of
// dest. Commands are split at 65,536 bytes.
void queue_bytes(struct MpsseQueue *q, const unsigned char *out, uint32_t n,
                 unsigned char *dest, uint32_t dest_bit);

// Frames a byte shift of n (1..65,536) bytes, no read, and returns where
// its data goes, for the caller to fill before the next append.
unsigned char *queue_bytes_slot(struct MpsseQueue *q, uint32_t n);

// Makes the adapter send its answers at once instead of after the latency
// timer.
void queue_answer_now(struct MpsseQueue *q);

// Writes everything appended in one write. Silent.
enum QueueResult queue_send(struct MpsseQueue *q);

// Reads exactly the answer bytes the sent commands owe, polling until they
// arrive or the idle limit passes, and puts their bits in place. Silent.
enum QueueResult queue_receive(struct MpsseQueue *q);

// Drops what the chip holds in both directions, a half-received command
// included, and what the queue has not sent. Silent.
void queue_purge(struct MpsseQueue *q);

// queue_send, then queue_receive when answers are owed.
enum QueueResult queue_run(struct MpsseQueue *q);

// What the tool was doing when a transfer failed; each has its messages
// in queue_report's table.
enum QueueStep {
    STEP_CONFIGURE_ADAPTER,
    STEP_PROBE_POWER,
    STEP_RESET_TAP,
    STEP_LOAD_IR,
    STEP_SHIFT_IR_BITS,
    STEP_ENTER_SHIFT_DR,
    STEP_LEAVE_SHIFT_DR,
    STEP_READ_DR,
    STEP_CAPTURE_IR,
    STEP_STARTUP_CLOCKS,
    STEP_CHUNK,
    STEP_LAST_CHUNK,
    STEP_READ_STAT,
    STEP_DETECT_CHAIN,
    STEP_CLOSING_DESYNC,
};

// Prints the one line for a failed step (arg: the instruction code, the
// chunk index) on standard error; the instruction bits' failure also on
// standard output, where scripts have always read it.
void queue_report(enum QueueStep step, enum QueueResult result, unsigned arg);

#endif
